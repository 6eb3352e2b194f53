// Feeds arbitrary bytes to the settings store as its database file: loading
// must never crash, and a Save afterwards must leave a store that reads back
// what was saved (a damaged file having been moved aside).

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "persistence/sqlite_settings_store.h"

namespace {

namespace fs = std::filesystem;

// A folder of this process's own, removed at exit. Memory-backed where
// possible, since every Save syncs the file to disk.
const fs::path& Folder() {
    // Never destroyed, so that the exit handler can still use it.
    static const fs::path* folder = [] {
        const fs::path base = fs::is_directory("/dev/shm") ? "/dev/shm" : fs::temp_directory_path();
        auto* path = new fs::path(base / ("skarnel_store_fuzz_" + std::to_string(::getpid())));
        fs::create_directories(*path);
        std::atexit([] {
            std::error_code ec;
            fs::remove_all(Folder(), ec);
        });
        return path;
    }();
    return *folder;
}

void ReadEverything(const skarnel::SettingsValues& values) {
    for (const char* name : {"Fs", "mono", "Duration", "Welcome", "txtFZeroL"}) {
        std::string text;
        std::int32_t number = 0;
        bool flag = false;
        values.ReadText(name, text);
        values.ReadInteger(name, number);
        values.ReadFlag(name, flag);
        values.Has(name);
    }
    for (const skarnel::SettingValue& value : values.entries()) {
        std::string text;
        values.ReadText(value.name, text);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fs::path path = Folder() / "Skarnel.db";
    std::error_code ec;
    for (const fs::directory_entry& entry : fs::directory_iterator(Folder(), ec)) {
        fs::remove_all(entry.path(), ec);
    }
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(data), size);

    skarnel::SqliteSettingsStore store(path.string());
    const std::string key = skarnel::SettingsKeyPath();
    if (const auto values = store.Load(key)) {
        ReadEverything(*values);
    }

    // A store from a later version or one that is write-protected is left
    // exactly as it was; anything else takes the save and reads it back.
    if (!store.Save(key, {{"Fs", 3}, {"Duration", "10"}})) {
        std::ifstream in(path, std::ios::binary);
        const std::string after{std::istreambuf_iterator<char>(in), {}};
        if (store.lastError().find("left alone") == std::string::npos ||
            after != std::string(reinterpret_cast<const char*>(data), size)) {
            std::abort();
        }
        return 0;
    }
    const auto values = store.Load(key);
    std::int32_t fs = 0;
    std::string duration;
    if (!values || values->ReadInteger("FS", fs) != skarnel::ReadStatus::kOk || fs != 3 ||
        values->ReadText("duration", duration) != skarnel::ReadStatus::kOk || duration != "10") {
        std::abort();
    }
    ReadEverything(*values);
    return 0;
}
