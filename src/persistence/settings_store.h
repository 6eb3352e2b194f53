#pragma once

// The program's settings live in one key of a registry-like store: a key path
// and, under it, named values of two kinds, text and 32-bit integer. Value
// names (and key paths) are compared without regard to ASCII letter case, so
// "mono" written and "Mono" read are one value.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace skarnel {

inline constexpr std::string_view kMakerName = "Orvane";
inline constexpr std::string_view kProductName = "Skarnel";

// "\Software\<maker>\<product>"; with the defaults "\Software\Orvane\Skarnel".
std::string SettingsKeyPath(std::string_view maker = kMakerName,
                            std::string_view product = kProductName);

// True when `a` and `b` are equal once ASCII letters are folded to one case.
// Bytes outside A-Z/a-z (including UTF-8 sequences) must match exactly.
bool NamesEqual(std::string_view a, std::string_view b) noexcept;

// Text is UTF-8; flags are integers written as 0 or 1.
using SettingData = std::variant<std::string, std::int32_t>;

struct SettingValue {
    std::string name;
    SettingData value;
};

// A flag as the store keeps it: integer 1 when set, 0 when clear.
inline SettingValue FlagValue(std::string name, bool set) {
    return {std::move(name), std::int32_t{set ? 1 : 0}};
}

enum class ReadStatus {
    kOk,
    kMissing,    // no value of that name under the key
    kWrongKind,  // the value exists but is of the other kind
};

// The values of one key as read at one moment. Reads never change `out`
// unless they return kOk.
class SettingsValues {
public:
    SettingsValues() = default;
    // A later value replaces an earlier one of the same name (any letter case);
    // the first spelling of the name is kept, as the registry does.
    explicit SettingsValues(std::vector<SettingValue> values);

    // Adds `value`, or replaces the value of that name keeping its spelling.
    void Set(SettingValue value);

    ReadStatus ReadText(std::string_view name, std::string& out) const;
    ReadStatus ReadInteger(std::string_view name, std::int32_t& out) const;
    // An integer value; set when not zero.
    ReadStatus ReadFlag(std::string_view name, bool& out) const;
    bool Has(std::string_view name) const { return Find(name) != nullptr; }

    // Each name once; in the order added (for a store, in the store's order).
    const std::vector<SettingValue>& entries() const noexcept { return values_; }
    std::size_t size() const noexcept { return values_.size(); }

private:
    const SettingValue* Find(std::string_view name) const;

    std::vector<SettingValue> values_;
};

class SettingsStore {
public:
    virtual ~SettingsStore() = default;

    // The values under `keyPath`, or nullopt when the key does not exist or
    // the store cannot be read (lastError() tells which). Never throws.
    virtual std::optional<SettingsValues> Load(std::string_view keyPath) = 0;

    // Creates the key when missing and writes `values` all at once, replacing
    // values of the same names and leaving the key's other values as they
    // are. False on failure (lastError() tells why); never throws or prints.
    virtual bool Save(std::string_view keyPath, const std::vector<SettingValue>& values) = 0;

    // A description of the last failure, for diagnostics; empty after success.
    virtual std::string lastError() const = 0;

    // The last Load failed only because another process held the store:
    // its values are there, and a later Load may read them.
    virtual bool busy() const { return false; }
    // Whether the last Load found the store damaged (or too large to read):
    // the next Save sets it aside and starts a fresh one.
    virtual bool damaged() const { return false; }
};

// Keeps the keys in memory: a stand-in for window tests. Save accepts any
// value under any name, so a test can put a value of the kind a reader does
// not expect.
class MemorySettingsStore : public SettingsStore {
public:
    std::optional<SettingsValues> Load(std::string_view keyPath) override;
    bool Save(std::string_view keyPath, const std::vector<SettingValue>& values) override;
    std::string lastError() const override { return lastError_; }

    // How many times Save was called (each call succeeds).
    int saveCount() const noexcept { return saveCount_; }

    // For tests of a store that another process holds: the next `loads`
    // calls of Load fail as busy.
    void HoldForLoads(int loads) { heldLoads_ = loads; }
    bool busy() const override { return busy_; }

private:
    struct CaseInsensitiveLess {
        bool operator()(const std::string& a, const std::string& b) const noexcept;
    };

    std::map<std::string, SettingsValues, CaseInsensitiveLess> keys_;
    std::string lastError_;
    int saveCount_ = 0;
    int heldLoads_ = 0;
    bool busy_ = false;
};

}  // namespace skarnel
