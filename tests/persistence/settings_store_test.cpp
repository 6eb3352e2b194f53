#include "persistence/settings_store.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <random>

#include "../support/as_unprivileged.h"
#include "persistence/sqlite_settings_store.h"

namespace skarnel {
namespace {

namespace fs = std::filesystem;
const std::string kKey = SettingsKeyPath();

class TempFolder {
public:
    TempFolder() {
        std::string pattern = (fs::temp_directory_path() / "store_XXXXXX").string();
        path_ = ::mkdtemp(pattern.data());
    }
    ~TempFolder() { fs::remove_all(path_); }
    std::string File(const std::string& name) const { return (path_ / name).string(); }

private:
    fs::path path_;
};

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Runs `body` in a child process that exits with its result.
pid_t StartChild(const std::function<int()>& body) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::_exit(body());
    }
    return pid;
}
// The child's exit code, or 128 + the signal that ended it.
int WaitChild(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// A value as read: "text:...", "int:..." or "missing".
std::string Show(const SettingsValues& values, std::string_view name) {
    std::string text;
    std::int32_t number = 0;
    if (values.ReadText(name, text) == ReadStatus::kOk) {
        return "text:" + text;
    }
    if (values.ReadInteger(name, number) == ReadStatus::kOk) {
        return "int:" + std::to_string(number);
    }
    return values.Has(name) ? "unreadable" : "missing";
}

// 40 values, texts and integers, all carrying one mark; writer 1 spells the
// names in lower case, writer 2 in upper case.
constexpr int kSetSize = 40;
std::string SetName(int writer, int i) {
    return (writer == 1 ? "value" : "VALUE") + std::to_string(100 + i);
}
std::vector<SettingValue> MarkedSet(int writer, int iteration) {
    const std::int32_t mark = writer * 10000 + iteration;
    std::vector<SettingValue> set;
    for (int i = 0; i < kSetSize; ++i) {
        set.push_back({SetName(writer, i), i % 2 ? SettingData(mark) : std::to_string(mark)});
    }
    return set;
}
// The mark of the one save that all of `values` come from, or -1.
int SetMark(const SettingsValues& values) {
    std::int32_t mark = -1;
    if (values.size() != kSetSize || values.ReadInteger(SetName(1, 1), mark) != ReadStatus::kOk) {
        return -1;
    }
    for (int i = 0; i < kSetSize; ++i) {
        if (Show(values, SetName(1, i)) != (i % 2 ? "int:" : "text:") + std::to_string(mark)) {
            return -1;
        }
    }
    return mark;
}

// ------------------------------------------------- both stores, same rules

template <typename Store>
class SettingsStoreRules : public ::testing::Test {
protected:
    std::unique_ptr<SettingsStore> Make() {
        if constexpr (std::is_same_v<Store, SqliteSettingsStore>) {
            return std::make_unique<SqliteSettingsStore>(folder_.File("s.db"));
        } else {
            return std::make_unique<MemorySettingsStore>();
        }
    }
    // What a later reader sees: a fresh object on the same file, if any.
    SettingsValues Reread(const std::string& key = kKey) {
        auto reader = std::is_same_v<Store, SqliteSettingsStore> ? Make() : nullptr;
        auto values = (reader ? *reader : *store_).Load(key);
        EXPECT_TRUE(values.has_value()) << store_->lastError();
        return values.value_or(SettingsValues());
    }
    TempFolder folder_;
    std::unique_ptr<SettingsStore> store_ = Make();
};
using StoreKinds = ::testing::Types<MemorySettingsStore, SqliteSettingsStore>;
TYPED_TEST_SUITE(SettingsStoreRules, StoreKinds);

TYPED_TEST(SettingsStoreRules, NamesAndKeysIgnoreAsciiLetterCase) {
    EXPECT_FALSE(this->store_->Load(kKey).has_value());
    ASSERT_TRUE(this->store_->Save(kKey, {FlagValue("mono", true), {"\xC3\x84x", 1}}));
    EXPECT_EQ(Show(this->Reread("\\SOFTWARE\\orvane\\skarnel"), "Mono"), "int:1");
    // Only ASCII letters fold: "Äx" and "äx" are two values.
    ASSERT_TRUE(this->store_->Save(kKey, {FlagValue("MONO", false), {"\xC3\xA4x", 2}}));
    const SettingsValues values = this->Reread();
    EXPECT_EQ(values.size(), 3u);
    EXPECT_EQ(Show(values, "mOnO") + Show(values, "\xC3\x84X"), "int:0int:1");
    EXPECT_FALSE(this->store_->Load(SettingsKeyPath("Orvane", "Other")).has_value());
}

TYPED_TEST(SettingsStoreRules, KindsRoundTripAndReadsOfTheWrongKindFail) {
    const std::string odd(
        "Gr\xC3\xBC\xC3\x9F"
        "e\0\t",
        9);
    ASSERT_TRUE(this->store_->Save(kKey, {{"Duration", "1,5"},
                                          {"Empty", ""},
                                          {"Odd", odd},
                                          {"Low", INT32_MIN},
                                          {"High", INT32_MAX},
                                          {"Loop", 7},
                                          FlagValue("Off", false)}));
    const SettingsValues v = this->Reread();
    EXPECT_EQ(Show(v, "duration"), "text:1,5");
    EXPECT_EQ(Show(v, "EMPTY"), "text:");
    EXPECT_EQ(Show(v, "Odd"), "text:" + odd);
    EXPECT_EQ(Show(v, "Low") + Show(v, "High"), "int:-2147483648int:2147483647");

    std::string text = "untouched";
    std::int32_t number = 42;
    bool loop = false, off = true, absent = true;
    EXPECT_EQ(v.ReadFlag("Loop", loop), ReadStatus::kOk);
    EXPECT_EQ(v.ReadFlag("Off", off), ReadStatus::kOk);
    EXPECT_TRUE(loop && !off);
    EXPECT_EQ(v.ReadInteger("Duration", number), ReadStatus::kWrongKind);
    EXPECT_EQ(v.ReadFlag("Duration", absent), ReadStatus::kWrongKind);
    EXPECT_EQ(v.ReadText("Low", text), ReadStatus::kWrongKind);
    EXPECT_EQ(v.ReadText("Absent", text), ReadStatus::kMissing);
    EXPECT_EQ(v.ReadFlag("Absent", absent), ReadStatus::kMissing);
    EXPECT_TRUE(text == "untouched" && number == 42 && absent);
}

TYPED_TEST(SettingsStoreRules, SaveCreatesTheKeyAndReplacesOnlyTheNamedValues) {
    ASSERT_TRUE(this->store_->Save(kKey, {}));
    EXPECT_EQ(this->Reread().size(), 0u);
    ASSERT_TRUE(this->store_->Save(kKey, {{"A", "a"}, {"B", 1}}));
    // A later value of the same name within one save wins; "B" changes kind.
    ASSERT_TRUE(this->store_->Save(kKey, {{"b", "x"}, {"C", 3}, {"c", 4}}));
    const SettingsValues v = this->Reread();
    EXPECT_EQ(v.size(), 3u);
    EXPECT_EQ(Show(v, "A") + Show(v, "B") + Show(v, "C"), "text:atext:xint:4");
}

// ------------------------------------------------------------- SQLite file

class SqliteStore : public ::testing::Test {
protected:
    TempFolder folder_;
    std::string path_ = folder_.File("config/Orvane/Skarnel.db");
};

TEST_F(SqliteStore, LoadCreatesNothingAndValuesReachTheNextProcess) {
    SqliteSettingsStore store(path_);
    EXPECT_FALSE(store.Load(kKey).has_value());
    EXPECT_FALSE(fs::exists(fs::path(path_).parent_path()));

    EXPECT_EQ(WaitChild(StartChild(
                  [&] { return SqliteSettingsStore(path_).Save(kKey, MarkedSet(1, 5)) ? 0 : 1; })),
              0);
    const auto values = SqliteSettingsStore(path_).Load(kKey);
    ASSERT_TRUE(values.has_value());
    EXPECT_EQ(SetMark(*values), 10005);
}

// Another process holding the store (as `sqlite3` with BEGIN EXCLUSIVE does)
// makes a read fail as busy, not as missing: the values are still there, and
// the next read after the hold gets them.
TEST_F(SqliteStore, AStoreAnotherProcessHoldsReadsAsBusyNotMissing) {
    ASSERT_TRUE(SqliteSettingsStore(path_).Save(kKey, MarkedSet(1, 7)));
    int held[2];
    ASSERT_EQ(::pipe(held), 0);
    const pid_t holder = StartChild([&] {
        sqlite3* db = nullptr;
        if (sqlite3_open(path_.c_str(), &db) != SQLITE_OK ||
            sqlite3_exec(db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr) != SQLITE_OK) {
            return 1;
        }
        const char go = 'h';
        if (::write(held[1], &go, 1) != 1) {
            return 2;
        }
        ::sleep(SqliteSettingsStore::kBusyTimeoutMs / 1000 + 2);
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_close(db);
        return 0;
    });
    char go = 0;
    ASSERT_EQ(::read(held[0], &go, 1), 1);
    SqliteSettingsStore store(path_);
    EXPECT_FALSE(store.Load(kKey).has_value());
    EXPECT_TRUE(store.busy()) << store.lastError();
    EXPECT_EQ(WaitChild(holder), 0);
    const auto values = store.Load(kKey);
    ASSERT_TRUE(values.has_value()) << store.lastError();
    EXPECT_FALSE(store.busy());
    EXPECT_EQ(SetMark(*values), 10007);
    // A missing key is not busy either.
    EXPECT_FALSE(store.Load("\\Software\\Nobody").has_value());
    EXPECT_FALSE(store.busy());
    ::close(held[0]);
    ::close(held[1]);
}

TEST_F(SqliteStore, ConcurrentWritersEachCommitWholeSets) {
    constexpr int kSaves = 200;
    // Each child also reads after every save: a read must never see a mix.
    auto writer = [&](int id) {
        SqliteSettingsStore store(path_);
        for (int i = 0; i < kSaves; ++i) {
            if (!store.Save(kKey, MarkedSet(id, i))) {
                std::fprintf(stderr, "writer %d: %s\n", id, store.lastError().c_str());
                return 1;
            }
            const auto seen = store.Load(kKey);
            if (!seen || SetMark(*seen) < 0) {
                return 2;
            }
        }
        return 0;
    };
    const pid_t first = StartChild([&] { return writer(1); });
    const pid_t second = StartChild([&] { return writer(2); });
    EXPECT_EQ(WaitChild(first), 0);
    EXPECT_EQ(WaitChild(second), 0);

    const auto values = SqliteSettingsStore(path_).Load(kKey);
    ASSERT_TRUE(values.has_value());
    EXPECT_EQ(SetMark(*values) % 10000, kSaves - 1);
}

TEST_F(SqliteStore, WriterKilledMidSaveLeavesOneCompleteSet) {
    ASSERT_TRUE(SqliteSettingsStore(path_).Save(kKey, MarkedSet(1, 0)));
    // A journal that starts with its magic number is "hot": the database file
    // may already hold part of the new save, and the next reader must undo it.
    const std::string journal = path_ + "-journal";
    auto hot = [&] { return ReadBytes(journal).substr(0, 4) == "\xD9\xD5\x05\xF9"; };
    int hotKills = 0;
    for (int round = 0; round < 60 && hotKills < 3; ++round) {
        const pid_t child = StartChild([&] {
            SqliteSettingsStore store(path_);
            for (int i = 1;; ++i) {
                store.Save(kKey, MarkedSet(1, i));
            }
            return 0;
        });
        // Let a varying number of saves pass, then kill inside a commit.
        ::usleep(1000 * (round % 15));
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(1);
        while (!hot() && std::chrono::steady_clock::now() < until) {
        }
        ::kill(child, SIGKILL);
        EXPECT_EQ(WaitChild(child), 128 + SIGKILL);
        hotKills += hot() ? 1 : 0;

        const auto values = SqliteSettingsStore(path_).Load(kKey);
        ASSERT_TRUE(values.has_value()) << "round " << round;
        ASSERT_GE(SetMark(*values), 0) << "round " << round;
    }
    EXPECT_GT(hotKills, 0) << "no kill landed inside a commit";
}

// A store of our schema (`version` as its version) holding one value under
// our key and `values` long ones under another key.
std::string RealStoreBytes(const std::string& path, int values, int version = 1) {
    std::vector<SettingValue> set;
    for (int i = 0; i < values; ++i) {
        set.push_back({"Name" + std::to_string(i), std::string(100, 'a' + i % 26)});
    }
    SqliteSettingsStore(path).Save(kKey, {{"Old", 1}});
    SqliteSettingsStore(path).Save(SettingsKeyPath("Orvane", "Zz"), set);
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_exec(db, ("PRAGMA user_version = " + std::to_string(version)).c_str(), 0, 0, 0);
    sqlite3_close(db);
    std::string bytes = ReadBytes(path);
    fs::remove(path);
    return bytes;
}

TEST_F(SqliteStore, DamagedFilesReadAsMissingAndAreMovedAsideBySave) {
    fs::create_directories(fs::path(path_).parent_path());
    std::string noise;
    for (std::mt19937 random(7); noise.size() < 4096;) {
        noise += static_cast<char>(random());
    }
    const std::string real = RealStoreBytes(path_, 300);
    const std::string foreignPath = folder_.File("foreign.db");
    sqlite3* db = nullptr;
    sqlite3_open(foreignPath.c_str(), &db);
    sqlite3_exec(db, "CREATE TABLE keys(path TEXT); PRAGMA user_version = 1", 0, 0, 0);
    sqlite3_close(db);

    // Damage in pages that our key's values do not use counts as well.
    std::string scribbled = real;
    std::fill(scribbled.end() - 4096, scribbled.end(), '\xFF');
    for (const std::string& damaged :
         {noise, real.substr(0, real.size() / 2), scribbled, ReadBytes(foreignPath)}) {
        WriteBytes(path_, damaged);
        WriteBytes(path_ + ".corrupt", "an older damaged store");
        SqliteSettingsStore store(path_);
        EXPECT_FALSE(store.Load(kKey).has_value());
        EXPECT_EQ(ReadBytes(path_), damaged);

        ASSERT_TRUE(store.Save(kKey, {{"Fresh", 1}})) << store.lastError();
        // The older damaged store is kept; this one is numbered beside it.
        EXPECT_EQ(ReadBytes(path_ + ".corrupt"), "an older damaged store");
        EXPECT_EQ(ReadBytes(path_ + ".corrupt.2"), damaged);
        const auto values = store.Load(kKey);
        ASSERT_TRUE(values.has_value()) << store.lastError();
        EXPECT_EQ(values->size(), 1u);
        fs::remove(path_);
        fs::remove(path_ + ".corrupt.2");
    }
    // A third damaged store takes the next number.
    WriteBytes(path_ + ".corrupt.2", "the second");
    WriteBytes(path_, noise);
    ASSERT_TRUE(SqliteSettingsStore(path_).Save(kKey, {{"Fresh", 1}}));
    EXPECT_EQ(ReadBytes(path_ + ".corrupt.3"), noise);
    EXPECT_EQ(ReadBytes(path_ + ".corrupt.2"), "the second");
    fs::remove(path_ + ".corrupt.2");
    fs::remove(path_ + ".corrupt.3");
    fs::remove(path_);

    // An empty file is a new store, set up in place.
    fs::remove(path_ + ".corrupt");
    WriteBytes(path_, "");
    ASSERT_TRUE(SqliteSettingsStore(path_).Save(kKey, {{"Fresh", 1}}));
    EXPECT_TRUE(SqliteSettingsStore(path_).Load(kKey).has_value());
    EXPECT_FALSE(fs::exists(path_ + ".corrupt"));
}

// A valid store swollen past the size limit by other programs' values (a
// million of them made start and close take minutes) reads as damaged at
// once, and the next Save sets it aside and starts afresh; one below the
// limit loads as usual.
TEST_F(SqliteStore, AStorePastTheSizeLimitIsSetAsideWithoutBeingChecked) {
    const std::string kilobyte(1024, 'x');
    const auto fill = [&](std::int64_t bytes) {
        std::vector<SettingValue> unknown;
        // Each value of 1 KB takes a page of its own (about 4.4 KB on disk).
        for (std::int64_t i = 0; i * 4096 < bytes; ++i) {
            unknown.push_back({"Other" + std::to_string(i), kilobyte});
        }
        // Our value first: the store is checked before each write, and the
        // write of the other values takes it past the limit.
        fs::remove(path_);
        SqliteSettingsStore writer(path_);
        ASSERT_TRUE(writer.Save(kKey, {{"Duration", std::string("7")}})) << writer.lastError();
        ASSERT_TRUE(writer.Save("\\Software\\SomeoneElse", unknown)) << writer.lastError();
    };
    fill(SqliteSettingsStore::kLargestStoreBytes / 2);
    SqliteSettingsStore half(path_);
    EXPECT_TRUE(half.Load(kKey).has_value()) << half.lastError();

    fill(SqliteSettingsStore::kLargestStoreBytes);
    ASSERT_GT(fs::file_size(path_),
              static_cast<std::uintmax_t>(SqliteSettingsStore::kLargestStoreBytes));
    SqliteSettingsStore store(path_);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(store.Load(kKey).has_value());
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));
    EXPECT_TRUE(store.damaged());
    EXPECT_NE(store.lastError().find("larger than 16 MB"), std::string::npos) << store.lastError();
    const std::uintmax_t swollen = fs::file_size(path_);
    ASSERT_TRUE(store.Save(kKey, {{"Fresh", 1}})) << store.lastError();
    EXPECT_EQ(fs::file_size(path_ + ".corrupt"), swollen);
    EXPECT_LT(fs::file_size(path_), static_cast<std::uintmax_t>(1 << 20));
    const auto values = store.Load(kKey);
    ASSERT_TRUE(values.has_value()) << store.lastError();
    EXPECT_FALSE(store.damaged());
    EXPECT_EQ(values->size(), 1u);
}

TEST_F(SqliteStore, NewerProtectedOrUnreachableStoresAreLeftAlone) {
    fs::create_directories(fs::path(path_).parent_path());
    const std::string newer = RealStoreBytes(path_, 3, SqliteSettingsStore::kSchemaVersion + 1);
    WriteBytes(path_, newer);
    SqliteSettingsStore store(path_);
    EXPECT_FALSE(store.Load(kKey).has_value());
    EXPECT_FALSE(store.Save(kKey, {{"A", 1}}));
    EXPECT_EQ(ReadBytes(path_), newer);

    // A header that only a later SQLite may write: read, never written.
    std::string readOnly = RealStoreBytes(path_, 3);
    readOnly[18] = 3;
    WriteBytes(path_, readOnly);
    EXPECT_TRUE(store.Load(kKey).has_value()) << store.lastError();
    EXPECT_FALSE(store.Save(kKey, {{"A", 1}}));
    EXPECT_EQ(ReadBytes(path_), readOnly);

    fs::remove(path_);
    fs::create_directory(path_);
    EXPECT_FALSE(store.Load(kKey).has_value());
    EXPECT_FALSE(store.Save(kKey, {{"A", 1}}));
    EXPECT_FALSE(store.lastError().empty());
    EXPECT_TRUE(fs::is_directory(path_));
    EXPECT_FALSE(fs::exists(path_ + ".corrupt"));
}

TEST_F(SqliteStore, ReadOnlyFoldersAreReadButNeverWritten) {
    // No store yet; a store, write-protected or not; a damaged file. Each in
    // a folder that cannot be written.
    const std::string store = RealStoreBytes(folder_.File("scratch.db"), 3);
    const std::map<std::string, std::pair<std::string, fs::perms>> cases = {
        {"none", {"", fs::perms::none}},
        {"kept", {store, fs::perms::owner_read | fs::perms::others_read}},
        {"open", {store, fs::perms::all}},
        {"damaged", {"not a database, not even SQLite", fs::perms::all}}};
    const fs::path root = fs::path(folder_.File(""));
    fs::permissions(root, fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
    for (const auto& [name, file] : cases) {
        fs::create_directory(root / name);
        if (!file.first.empty()) {
            WriteBytes((root / name / "s.db").string(), file.first);
            fs::permissions(root / name / "s.db", file.second);
        }
        fs::permissions(root / name, fs::perms::owner_read | fs::perms::owner_exec |
                                         fs::perms::others_read | fs::perms::others_exec);
    }
    const auto before = testing::FolderContents(root);

    const std::optional<std::string> seen = testing::AsUnprivileged([&] {
        std::string seen;
        for (const auto& [name, file] : cases) {
            SqliteSettingsStore store((root / name / "s.db").string());
            const auto values = store.Load(kKey);
            const bool saved = store.Save(kKey, {{"Old", 2}});
            seen += name + ": " + (values ? Show(*values, "Old") : "missing") +
                    (saved                       ? ", saved"
                     : store.lastError().empty() ? ", unsaved, no reason"
                                                 : "") +
                    "\n";
        }
        return seen;
    });
    const auto after = testing::FolderContents(root);
    for (const auto& [name, file] : cases) {
        fs::permissions(root / name, fs::perms::owner_all);
    }
    EXPECT_EQ(after, before);
    if (!seen) {
        GTEST_SKIP() << "root cannot give up its rights here";
    }
    EXPECT_EQ(*seen, "damaged: missing\nkept: int:1\nnone: missing\nopen: int:1\n");
}

TEST(SettingsLocation, KeyPathAndDefaultFileFollowTheEnvironment) {
    EXPECT_EQ(SettingsKeyPath(), "\\Software\\Orvane\\Skarnel");
    EXPECT_EQ(SettingsKeyPath("Maker", "Tool"), "\\Software\\Maker\\Tool");

    const char* names[] = {"SKARNEL_STORE", "XDG_CONFIG_HOME", "HOME"};
    std::vector<std::optional<std::string>> saved;
    for (const char* name : names) {
        const char* value = std::getenv(name);
        saved.push_back(value ? std::optional<std::string>(value) : std::nullopt);
    }
    ::setenv("HOME", "/home/u", 1);
    ::setenv("XDG_CONFIG_HOME", "/xdg", 1);
    ::setenv("SKARNEL_STORE", "/elsewhere/s.db", 1);
    EXPECT_EQ(SqliteSettingsStore::DefaultPath(), "/elsewhere/s.db");
    ::setenv("SKARNEL_STORE", "", 1);
    EXPECT_EQ(SqliteSettingsStore::DefaultPath(), "/xdg/Orvane/Skarnel.db");
    ::setenv("XDG_CONFIG_HOME", "relative", 1);
    EXPECT_EQ(SqliteSettingsStore::DefaultPath(), "/home/u/.config/Orvane/Skarnel.db");
    ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(SqliteSettingsStore::DefaultPath(), "/home/u/.config/Orvane/Skarnel.db");

    for (std::size_t i = 0; i < saved.size(); ++i) {
        saved[i] ? ::setenv(names[i], saved[i]->c_str(), 1) : ::unsetenv(names[i]);
    }
}

}  // namespace
}  // namespace skarnel
