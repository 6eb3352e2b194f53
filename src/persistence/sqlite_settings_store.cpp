#include "persistence/sqlite_settings_store.h"

#include <fcntl.h>
#include <pwd.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <optional>
#include <set>
#include <tuple>
#include <utility>

namespace skarnel {

namespace {

namespace fs = std::filesystem;

// The schema exactly as SQLite keeps it in sqlite_schema; a file whose schema
// differs in any way (an extra table, index, view or trigger included) is not
// a store of ours. WITHOUT ROWID keeps the schema free of automatic indexes.
constexpr const char* kCreateKeys =
    "CREATE TABLE keys(path TEXT NOT NULL COLLATE NOCASE PRIMARY KEY) WITHOUT ROWID";
constexpr const char* kCreateValues =
    "CREATE TABLE key_values("
    "key TEXT NOT NULL COLLATE NOCASE, "
    "name TEXT NOT NULL COLLATE NOCASE, "
    "kind INTEGER NOT NULL, "
    "text_value TEXT, "
    "int_value INTEGER, "
    "PRIMARY KEY(key, name), "
    "CHECK((kind = 0 AND typeof(text_value) = 'text' AND int_value IS NULL) OR "
    "(kind = 1 AND typeof(int_value) = 'integer' AND "
    "int_value BETWEEN -2147483648 AND 2147483647 AND text_value IS NULL))"
    ") WITHOUT ROWID";

constexpr int kKindText = 0;
constexpr int kKindInteger = 1;

// Moving a damaged file aside and starting anew is tried this often before
// Save gives up (another process may be repairing the same file).
constexpr int kSaveAttempts = 3;

// Result codes that mean the file's content is unusable, as opposed to the
// file being busy, unreachable or the machine being short of something.
bool IsDamage(int rc) {
    const int primary = rc & 0xff;
    return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB || primary == SQLITE_FORMAT;
}

class Connection {
public:
    Connection() = default;
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    ~Connection() { Close(); }

    int Open(const std::string& path, int flags) {
        Close();
        const int rc = sqlite3_open_v2(path.c_str(), &db_, flags, nullptr);
        if (rc == SQLITE_OK) {
            sqlite3_busy_timeout(db_, SqliteSettingsStore::kBusyTimeoutMs);
            // The file may come from anywhere: never let its content run code
            // or change the file outside of what SQL statements do.
            sqlite3_db_config(db_, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
            sqlite3_db_config(db_, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
        }
        return rc;
    }
    void Close() {
        if (db_ != nullptr) {
            sqlite3_close_v2(db_);
            db_ = nullptr;
        }
    }
    int Exec(const char* sql) { return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr); }
    std::string Message() const { return db_ != nullptr ? sqlite3_errmsg(db_) : "out of memory"; }
    sqlite3* get() const noexcept { return db_; }

private:
    sqlite3* db_ = nullptr;
};

class Statement {
public:
    Statement(Connection& db, const char* sql) {
        rc_ = sqlite3_prepare_v2(db.get(), sql, -1, &stmt_, nullptr);
    }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    ~Statement() { sqlite3_finalize(stmt_); }

    int prepareResult() const noexcept { return rc_; }
    sqlite3_stmt* get() const noexcept { return stmt_; }
    int Step() { return sqlite3_step(stmt_); }
    void Reset() {
        sqlite3_reset(stmt_);
        sqlite3_clear_bindings(stmt_);
    }
    std::string Text(int column) const {
        const auto* data = sqlite3_column_text(stmt_, column);
        const int size = sqlite3_column_bytes(stmt_, column);
        return data != nullptr ? std::string(reinterpret_cast<const char*>(data), size)
                               : std::string();
    }

private:
    sqlite3_stmt* stmt_ = nullptr;
    int rc_ = SQLITE_OK;
};

// Rolls back an open transaction unless committed.
class Transaction {
public:
    explicit Transaction(Connection& db) : db_(db) {}
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    ~Transaction() {
        if (open_) {
            db_.Exec("ROLLBACK");
        }
    }
    int Begin(const char* sql) {
        const int rc = db_.Exec(sql);
        open_ = rc == SQLITE_OK;
        return rc;
    }
    int Commit() {
        const int rc = db_.Exec("COMMIT");
        if (rc == SQLITE_OK) {
            open_ = false;
        }
        return rc;
    }

private:
    Connection& db_;
    bool open_ = false;
};

enum class FileState {
    kOurs,       // our schema, intact
    kBlank,      // an empty database (a new file): ours to set up
    kDamaged,    // not a store of ours; to be moved aside before writing
    kLeftAlone,  // a later schema version, or write-protected: never written
    kFailed,     // could not be examined now (busy, I/O, memory)
};

struct Inspection {
    FileState state = FileState::kFailed;
    std::string reason;
};

Inspection Failed(int rc, Connection& db) {
    return {IsDamage(rc) ? FileState::kDamaged : FileState::kFailed, db.Message()};
}

// As Failed, for the fixed, valid statements that examine a file: a plain
// error there ("unsupported file format", a schema that does not parse) can
// only come from the file's content.
Inspection Unreadable(int rc, Connection& db) {
    return (rc & 0xff) == SQLITE_ERROR ? Inspection{FileState::kDamaged, db.Message()}
                                       : Failed(rc, db);
}

// Prepares a statement that answers with a row and steps to that row;
// nothing, or why the file could not be read.
std::optional<Inspection> StepToRow(Statement& stmt, Connection& db) {
    if (stmt.prepareResult() != SQLITE_OK) {
        return Unreadable(stmt.prepareResult(), db);
    }
    const int rc = stmt.Step();
    if (rc != SQLITE_ROW) {
        return Unreadable(rc, db);
    }
    return std::nullopt;
}

// Examines the open file inside a transaction the caller has begun.
Inspection Inspect(Connection& db) {
    // A store holds a few pages. One far past that (a million values of
    // other programs) would take minutes of checking on the GUI thread at
    // every start and close: it is set aside as a damaged one is, unread.
    {
        Statement pages(db, "PRAGMA page_count");
        if (const std::optional<Inspection> unreadable = StepToRow(pages, db)) {
            return *unreadable;
        }
        Statement pageSize(db, "PRAGMA page_size");
        if (const std::optional<Inspection> unreadable = StepToRow(pageSize, db)) {
            return *unreadable;
        }
        const std::int64_t bytes =
            sqlite3_column_int64(pages.get(), 0) * sqlite3_column_int64(pageSize.get(), 0);
        if (bytes > SqliteSettingsStore::kLargestStoreBytes) {
            return {FileState::kDamaged,
                    "larger than " + std::to_string(SqliteSettingsStore::kLargestStoreBytes >> 20) +
                        " MB (" + std::to_string(bytes >> 20) + " MB)"};
        }
    }
    std::int64_t version = 0;
    {
        Statement stmt(db, "PRAGMA user_version");
        if (const std::optional<Inspection> unreadable = StepToRow(stmt, db)) {
            return *unreadable;
        }
        version = sqlite3_column_int64(stmt.get(), 0);
    }
    if (version > SqliteSettingsStore::kSchemaVersion) {
        return {FileState::kLeftAlone, "written by schema version " + std::to_string(version)};
    }

    using SchemaEntry = std::tuple<std::string, std::string, std::string, std::string>;
    std::set<SchemaEntry> schema;
    std::size_t rows = 0;
    {
        Statement stmt(db, "SELECT type, name, tbl_name, sql FROM sqlite_schema");
        if (stmt.prepareResult() != SQLITE_OK) {
            return Unreadable(stmt.prepareResult(), db);
        }
        int rc = SQLITE_OK;
        while ((rc = stmt.Step()) == SQLITE_ROW) {
            ++rows;
            schema.emplace(stmt.Text(0), stmt.Text(1), stmt.Text(2), stmt.Text(3));
        }
        if (rc != SQLITE_DONE) {
            return Unreadable(rc, db);
        }
    }
    const bool blank = rows == 0 && version == 0;
    const std::set<SchemaEntry> expected = {{"table", "keys", "keys", kCreateKeys},
                                            {"table", "key_values", "key_values", kCreateValues}};
    if (!blank && (rows != expected.size() || schema != expected ||
                   version != SqliteSettingsStore::kSchemaVersion)) {
        return {FileState::kDamaged, "not a settings database"};
    }

    // The full check, not quick_check: it also finds rows out of key order
    // and broken NOT NULL/CHECK rules, either of which would make a later
    // Save add a second value of the same name. The store is a few pages.
    Statement check(db, "PRAGMA integrity_check(1)");
    if (const std::optional<Inspection> unreadable = StepToRow(check, db)) {
        return *unreadable;
    }
    const std::string verdict = check.Text(0);
    if (verdict != "ok") {
        return {FileState::kDamaged, verdict};
    }
    return blank ? Inspection{FileState::kBlank, "empty database"}
                 : Inspection{FileState::kOurs, {}};
}

struct FileId {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const FileId&) const = default;
};

std::optional<FileId> StatFile(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return std::nullopt;
    }
    return FileId{info.st_dev, info.st_ino};
}

// Holds an exclusive lock on a folder so that only one process at a time moves
// a damaged store aside.
class FolderLock {
public:
    explicit FolderLock(const std::string& folder) {
        fd_ = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd_ >= 0) {
            while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
            }
        }
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    ~FolderLock() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }

private:
    int fd_ = -1;
};

// The name a damaged store moves to: "<path>.corrupt", or when a store
// damaged earlier holds that name, "<path>.corrupt.2", ".3" and so on; the
// user may still want what an older one holds. Past kMostKept the last name
// is reused.
constexpr int kMostKept = 999;

std::string DamagedName(const std::string& path, int number) {
    return path + ".corrupt" + (number > 1 ? "." + std::to_string(number) : std::string());
}

// Renames the damaged file at `path` (and any journal beside it, which must
// not be played back into the fresh store) to the first free DamagedName,
// provided it is still the file that was found damaged: another process may
// have moved it and started a fresh store already. False when the rename
// failed.
bool MoveAside(const std::string& path, const std::optional<FileId>& damaged, std::string& error) {
    FolderLock lock(fs::path(path).parent_path().string());
    if (!damaged || StatFile(path) != damaged) {
        return true;  // already replaced by someone else; look again
    }
    std::string aside;
    int result = -1;
    for (int number = 1; number <= kMostKept && result != 0; ++number) {
        aside = DamagedName(path, number);
        // Never over an earlier damaged store; the last name is reused.
        result = number < kMostKept ? ::renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, aside.c_str(),
                                                  RENAME_NOREPLACE)
                                    : ::rename(path.c_str(), aside.c_str());
        if (result != 0 && errno != EEXIST) {
            break;
        }
    }
    if (result != 0) {
        error = "cannot move damaged store aside: " + std::string(std::strerror(errno));
        return false;
    }
    for (const char* side : {"-journal", "-wal"}) {
        ::rename((path + side).c_str(), (aside + side).c_str());
    }
    ::unlink((path + "-shm").c_str());
    return true;
}

enum class WriteOutcome { kDone, kDamaged, kFailed };

int SetUpSchema(Connection& db) {
    int rc = db.Exec(kCreateKeys);
    if (rc == SQLITE_OK) {
        rc = db.Exec(kCreateValues);
    }
    if (rc == SQLITE_OK) {
        const std::string version =
            "PRAGMA user_version = " + std::to_string(SqliteSettingsStore::kSchemaVersion);
        rc = db.Exec(version.c_str());
    }
    return rc;
}

int WriteValues(Connection& db, const std::string& key, const std::vector<SettingValue>& values) {
    Statement addKey(db, "INSERT INTO keys(path) VALUES(?1) ON CONFLICT DO NOTHING");
    Statement put(db,
                  "INSERT INTO key_values(key, name, kind, text_value, int_value) "
                  "VALUES(?1, ?2, ?3, ?4, ?5) ON CONFLICT(key, name) DO UPDATE SET "
                  "kind = excluded.kind, text_value = excluded.text_value, "
                  "int_value = excluded.int_value");
    if (addKey.prepareResult() != SQLITE_OK) {
        return addKey.prepareResult();
    }
    if (put.prepareResult() != SQLITE_OK) {
        return put.prepareResult();
    }
    sqlite3_bind_text(addKey.get(), 1, key.data(), static_cast<int>(key.size()), SQLITE_STATIC);
    int rc = addKey.Step();
    for (const SettingValue& value : values) {
        if (rc != SQLITE_DONE) {
            return rc;
        }
        put.Reset();
        sqlite3_stmt* s = put.get();
        sqlite3_bind_text(s, 1, key.data(), static_cast<int>(key.size()), SQLITE_STATIC);
        sqlite3_bind_text(s, 2, value.name.data(), static_cast<int>(value.name.size()),
                          SQLITE_STATIC);
        if (const auto* text = std::get_if<std::string>(&value.value)) {
            sqlite3_bind_int(s, 3, kKindText);
            sqlite3_bind_text(s, 4, text->data(), static_cast<int>(text->size()), SQLITE_STATIC);
        } else {
            sqlite3_bind_int(s, 3, kKindInteger);
            sqlite3_bind_int(s, 5, std::get<std::int32_t>(value.value));
        }
        rc = put.Step();
    }
    return rc == SQLITE_DONE ? SQLITE_OK : rc;
}

// One attempt at Save: opens (creating) the file, sets up a blank one, and
// writes the key and its values in one write transaction.
WriteOutcome WriteOnce(const std::string& path, const std::string& key,
                       const std::vector<SettingValue>& values, std::string& error) {
    Connection db;
    int rc = db.Open(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    if (rc != SQLITE_OK) {
        error = "cannot open " + path + ": " + db.Message();
        return WriteOutcome::kFailed;
    }
    Transaction transaction(db);
    // IMMEDIATE takes the write lock first, so the file is examined and
    // changed under one lock and a second writer waits here.
    rc = transaction.Begin("BEGIN IMMEDIATE");
    Inspection inspection = rc == SQLITE_OK ? Inspect(db) : Failed(rc, db);
    if ((rc & 0xff) == SQLITE_READONLY) {
        // Write-protected, by its permissions or by a header that only a
        // later SQLite may write: damaged content still goes aside (that
        // needs only the folder), a readable store is left as it is.
        if (transaction.Begin("BEGIN") == SQLITE_OK) {
            inspection = Inspect(db);
        }
        if (inspection.state != FileState::kDamaged) {
            inspection = {FileState::kLeftAlone, "write-protected"};
        }
    }
    if (inspection.state == FileState::kBlank) {
        rc = SetUpSchema(db);
        inspection = rc == SQLITE_OK ? Inspection{FileState::kOurs, {}} : Failed(rc, db);
    }
    if (inspection.state == FileState::kOurs) {
        rc = WriteValues(db, key, values);
        if (rc == SQLITE_OK) {
            rc = transaction.Commit();
        }
        if (rc == SQLITE_OK) {
            return WriteOutcome::kDone;
        }
        inspection = Failed(rc, db);
    }
    switch (inspection.state) {
        case FileState::kDamaged:
            error = "settings store " + path + " damaged: " + inspection.reason;
            return WriteOutcome::kDamaged;
        case FileState::kLeftAlone:
            error = "settings store " + path + " left alone: " + inspection.reason;
            return WriteOutcome::kFailed;
        default:
            error = "cannot write " + path + ": " + inspection.reason;
            return WriteOutcome::kFailed;
    }
}

}  // namespace

SqliteSettingsStore::SqliteSettingsStore(std::string path) : path_(std::move(path)) {}

std::string SqliteSettingsStore::DefaultPath() {
    const char* store = std::getenv("SKARNEL_STORE");
    if (store != nullptr && *store != '\0') {
        return store;
    }
    const std::string fileName = std::string(kMakerName) + "/" + std::string(kProductName) + ".db";
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config != nullptr && config[0] == '/') {
        return (fs::path(config) / fileName).string();
    }
    std::string home;
    if (const char* env = std::getenv("HOME"); env != nullptr && *env != '\0') {
        home = env;
    } else if (const passwd* user = ::getpwuid(::getuid()); user != nullptr) {
        home = user->pw_dir;
    }
    return (fs::path(home) / ".config" / fileName).string();
}

std::optional<SettingsValues> SqliteSettingsStore::Load(std::string_view keyPath) try {
    lastError_.clear();
    damaged_ = false;
    busy_ = false;
    if (!StatFile(path_)) {
        lastError_ = "no settings store at " + path_;
        return std::nullopt;
    }
    // Read-write (falling back to read-only when the file is write-protected)
    // so that a journal left by a killed writer can be played back.
    Connection db;
    int rc = db.Open(path_, SQLITE_OPEN_READWRITE);
    if (rc != SQLITE_OK) {
        lastError_ = "cannot open " + path_ + ": " + db.Message();
        return std::nullopt;
    }
    Transaction transaction(db);
    // Every way out but the last tells whether another process held the file
    // (checked before the transaction's rollback clears the error).
    struct BusyCheck {
        Connection& db;
        bool& busy;
        bool loaded = false;
        ~BusyCheck() {
            const int primary = db.get() != nullptr ? sqlite3_errcode(db.get()) & 0xff : 0;
            busy = !loaded && (primary == SQLITE_BUSY || primary == SQLITE_LOCKED);
        }
    } busyCheck{db, busy_};
    rc = transaction.Begin("BEGIN");
    if (rc != SQLITE_OK) {
        lastError_ = db.Message();
        return std::nullopt;
    }
    const Inspection inspection = Inspect(db);
    damaged_ = inspection.state == FileState::kDamaged;
    if (inspection.state != FileState::kOurs) {
        lastError_ = "settings store " + path_ + " unusable: " + inspection.reason;
        return std::nullopt;
    }

    const std::string key(keyPath);
    {
        Statement stmt(db, "SELECT 1 FROM keys WHERE path = ?1");
        sqlite3_bind_text(stmt.get(), 1, key.data(), static_cast<int>(key.size()), SQLITE_STATIC);
        rc = stmt.Step();
        if (rc == SQLITE_DONE) {
            lastError_ = "key not found";
            return std::nullopt;
        }
        if (rc != SQLITE_ROW) {
            lastError_ = db.Message();
            return std::nullopt;
        }
    }

    std::vector<SettingValue> values;
    Statement stmt(db, "SELECT name, kind, text_value, int_value FROM key_values WHERE key = ?1");
    if (stmt.prepareResult() != SQLITE_OK) {
        lastError_ = db.Message();
        return std::nullopt;
    }
    sqlite3_bind_text(stmt.get(), 1, key.data(), static_cast<int>(key.size()), SQLITE_STATIC);
    int skipped = 0;
    while ((rc = stmt.Step()) == SQLITE_ROW) {
        sqlite3_stmt* row = stmt.get();
        const std::int64_t kind = sqlite3_column_int64(row, 1);
        if (sqlite3_column_type(row, 0) != SQLITE_TEXT) {
            ++skipped;
        } else if (kind == kKindText && sqlite3_column_type(row, 2) == SQLITE_TEXT) {
            values.push_back({stmt.Text(0), stmt.Text(2)});
        } else if (kind == kKindInteger && sqlite3_column_type(row, 3) == SQLITE_INTEGER &&
                   sqlite3_column_int64(row, 3) >= INT32_MIN &&
                   sqlite3_column_int64(row, 3) <= INT32_MAX) {
            values.push_back(
                {stmt.Text(0), static_cast<std::int32_t>(sqlite3_column_int64(row, 3))});
        } else {
            ++skipped;  // a row no Save of ours writes: read as absent
        }
    }
    if (rc != SQLITE_DONE) {
        lastError_ = db.Message();
        return std::nullopt;
    }
    transaction.Commit();
    if (skipped > 0) {
        lastError_ = std::to_string(skipped) + " unreadable value(s) ignored";
    }
    busyCheck.loaded = true;
    return SettingsValues(std::move(values));
} catch (const std::exception& e) {
    lastError_ = e.what();
    return std::nullopt;
}

bool SqliteSettingsStore::Save(std::string_view keyPath,
                               const std::vector<SettingValue>& values) try {
    lastError_.clear();
    for (const SettingValue& value : values) {
        const auto* text = std::get_if<std::string>(&value.value);
        if (value.name.size() > INT_MAX / 2 || (text != nullptr && text->size() > INT_MAX / 2)) {
            lastError_ = "value too long";
            return false;
        }
    }
    const fs::path folder = fs::path(path_).parent_path();
    if (!folder.empty()) {
        std::error_code ec;
        fs::create_directories(folder, ec);
        if (ec) {
            lastError_ = "cannot create " + folder.string() + ": " + ec.message();
            return false;
        }
    }
    for (int attempt = 0; attempt < kSaveAttempts; ++attempt) {
        const std::optional<FileId> opened = StatFile(path_);
        switch (WriteOnce(path_, std::string(keyPath), values, lastError_)) {
            case WriteOutcome::kDone:
                lastError_.clear();
                return true;
            case WriteOutcome::kFailed:
                return false;
            case WriteOutcome::kDamaged:
                if (!MoveAside(path_, opened, lastError_)) {
                    return false;
                }
                break;
        }
    }
    lastError_ += " (still damaged after moving it aside)";
    return false;
} catch (const std::exception& e) {
    lastError_ = e.what();
    return false;
}

}  // namespace skarnel
