#include "persistence/settings_store.h"

#include <algorithm>
#include <utility>
#include <variant>

namespace skarnel {

namespace {

constexpr char FoldAscii(char c) noexcept {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Reads a value of one kind (text or integer) into `out`.
template <typename Kind>
ReadStatus ReadKind(const SettingValue* value, Kind& out) {
    if (value == nullptr) {
        return ReadStatus::kMissing;
    }
    const Kind* held = std::get_if<Kind>(&value->value);
    if (held == nullptr) {
        return ReadStatus::kWrongKind;
    }
    out = *held;
    return ReadStatus::kOk;
}

}  // namespace

std::string SettingsKeyPath(std::string_view maker, std::string_view product) {
    std::string path = "\\Software\\";
    path += maker;
    path += '\\';
    path += product;
    return path;
}

bool NamesEqual(std::string_view a, std::string_view b) noexcept {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return FoldAscii(x) == FoldAscii(y);
           });
}

SettingsValues::SettingsValues(std::vector<SettingValue> values) {
    values_.reserve(values.size());
    for (SettingValue& value : values) {
        Set(std::move(value));
    }
}

void SettingsValues::Set(SettingValue value) {
    for (SettingValue& existing : values_) {
        if (NamesEqual(existing.name, value.name)) {
            existing.value = std::move(value.value);
            return;
        }
    }
    values_.push_back(std::move(value));
}

const SettingValue* SettingsValues::Find(std::string_view name) const {
    for (const SettingValue& value : values_) {
        if (NamesEqual(value.name, name)) {
            return &value;
        }
    }
    return nullptr;
}

ReadStatus SettingsValues::ReadText(std::string_view name, std::string& out) const {
    return ReadKind(Find(name), out);
}

ReadStatus SettingsValues::ReadInteger(std::string_view name, std::int32_t& out) const {
    return ReadKind(Find(name), out);
}

ReadStatus SettingsValues::ReadFlag(std::string_view name, bool& out) const {
    std::int32_t integer = 0;
    const ReadStatus status = ReadInteger(name, integer);
    if (status == ReadStatus::kOk) {
        out = integer != 0;
    }
    return status;
}

bool MemorySettingsStore::CaseInsensitiveLess::operator()(const std::string& a,
                                                          const std::string& b) const noexcept {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return static_cast<unsigned char>(FoldAscii(x)) < static_cast<unsigned char>(FoldAscii(y));
    });
}

std::optional<SettingsValues> MemorySettingsStore::Load(std::string_view keyPath) {
    busy_ = heldLoads_ > 0;
    if (busy_) {
        --heldLoads_;
        lastError_ = "database is locked";
        return std::nullopt;
    }
    const auto key = keys_.find(std::string(keyPath));
    if (key == keys_.end()) {
        lastError_ = "key not found";
        return std::nullopt;
    }
    lastError_.clear();
    return key->second;
}

bool MemorySettingsStore::Save(std::string_view keyPath, const std::vector<SettingValue>& values) {
    ++saveCount_;
    SettingsValues& key = keys_[std::string(keyPath)];
    for (const SettingValue& value : values) {
        key.Set(value);
    }
    lastError_.clear();
    return true;
}

}  // namespace skarnel
