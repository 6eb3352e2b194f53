#pragma once

#include <cstdint>
#include <string>

#include "persistence/settings_store.h"

namespace skarnel {

// The settings store on Linux: one SQLite database file shared by every
// process of the program. Each call opens the file, does its work in one
// transaction and closes it again, so nothing is held open between the
// program's rare reads and writes.
//
// - Several processes may save at once: a writer waits up to kBusyTimeoutMs
//   for another, and every Save commits all its values or none. A Load that
//   waited that long in vain says so through busy().
// - A process killed while saving leaves the previous complete state (the
//   rollback journal is played back by the next process that opens the file).
// - A file that is not a store of this program (not SQLite, damaged, or a
//   database without exactly our tables) reads as a missing key; the next
//   Save moves it aside to "<path>.corrupt" (or, when an older damaged store
//   holds that name, "<path>.corrupt.2", ".3" ...) and starts a fresh store in
//   its place.
// - A file larger than kLargestStoreBytes is treated as a damaged one, so
//   that start and close stay quick.
// - A store written by a later schema version is read as missing and never
//   overwritten; a write-protected one is read but never written.
class SqliteSettingsStore : public SettingsStore {
public:
    static constexpr int kBusyTimeoutMs = 5000;
    static constexpr int kSchemaVersion = 1;
    // A store past this size is treated as damaged: read as missing, moved
    // aside at the next Save. Checking one larger would hold the window.
    static constexpr std::int64_t kLargestStoreBytes = std::int64_t{16} << 20;

    explicit SqliteSettingsStore(std::string path = DefaultPath());

    // $SKARNEL_STORE when set and not empty; else
    // $XDG_CONFIG_HOME/Orvane/Skarnel.db when XDG_CONFIG_HOME is an absolute
    // path; else $HOME/.config/Orvane/Skarnel.db (the password database's home
    // folder when HOME is not set).
    static std::string DefaultPath();

    // Never creates the file or its folder.
    std::optional<SettingsValues> Load(std::string_view keyPath) override;
    // Creates the folder (with its parents) and the file when missing.
    bool Save(std::string_view keyPath, const std::vector<SettingValue>& values) override;
    std::string lastError() const override { return lastError_; }
    bool busy() const override { return busy_; }
    bool damaged() const override { return damaged_; }

    const std::string& path() const noexcept { return path_; }

private:
    std::string path_;
    std::string lastError_;
    bool busy_ = false;
    bool damaged_ = false;
};

}  // namespace skarnel
