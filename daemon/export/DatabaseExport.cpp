#include "DatabaseExport.h"

#include <sqlite3.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <deque>
#include <memory>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "EventRecord.h"
#include "store/EventStore.h"
#include "util/FileUtil.h"
#include "store/StoredEvents.h"

namespace brantwell {

namespace {

constexpr const char* kCreateIndexStatement =
    "create index if not exists BrantwellRecord on Brantwell (Occurrence, Priority, Host, Message)";

// The distinct records of the store, each as its line without line end
// ("Date,Priority,Host,Message"). A record's first three fields hold no
// comma and its message no CR or LF, so the text gives the record back by
// its first three commas. Views point into the file contents, or, for a
// line stored in another form (runs of commas, a CR), into `rebuilt`.
struct StoreRecords {
    std::vector<std::string> files;
    std::deque<std::string> rebuilt;
    std::vector<std::string_view> order;           // first appearance
    std::unordered_set<std::string_view> pending;  // not yet found in the table
};

void readStoreRecords(const EventStore& store, StoreRecords& records)
{
    std::string key;
    forEachStoreFile(store, [&](const std::string&, std::string& contents) {
        records.files.push_back(std::move(contents));
        const auto& file = records.files.back();
        records.pending.reserve(records.pending.size() + std::count(file.begin(), file.end(), '\n'));
        forEachLine(records.files.back(), [&](std::string_view line) {
            const auto event = splitEventLine(line);
            if (!event)
                return;
            key.clear();
            appendEventLine(key, *event);
            key.pop_back();
            std::string_view view = line;
            if (view.ends_with('\n'))
                view.remove_suffix(1);
            if (view != key)
                view = records.rebuilt.emplace_back(key);
            if (records.pending.insert(view).second)
                records.order.push_back(view);
        });
    });
}

struct Fields {
    std::string_view date, priority, host, message;
};

Fields fieldsOf(std::string_view key)
{
    const auto a = key.find(',');
    const auto b = key.find(',', a + 1);
    const auto c = key.find(',', b + 1);
    return {key.substr(0, a), key.substr(a + 1, b - a - 1), key.substr(b + 1, c - b - 1), key.substr(c + 1)};
}

struct CloseDatabase {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
struct FinalizeStatement {
    void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using Database = std::unique_ptr<sqlite3, CloseDatabase>;
using Statement = std::unique_ptr<sqlite3_stmt, FinalizeStatement>;

class Round {
public:
    explicit Round(sqlite3* db) : db_(db) {}

    bool exec(const char* sql) { return check(sqlite3_exec(db_, sql, nullptr, nullptr, nullptr)); }

    Statement prepare(const char* sql)
    {
        sqlite3_stmt* statement = nullptr;
        check(sqlite3_prepare_v2(db_, sql, -1, &statement, nullptr));
        return Statement(statement);
    }

    bool bind(sqlite3_stmt* s, int index, std::string_view text)
    {
        return check(sqlite3_bind_text64(s, index, text.data(), text.size(), SQLITE_STATIC, SQLITE_UTF8));
    }

    // Runs a statement that returns no rows, then makes it ready again.
    bool run(sqlite3_stmt* s)
    {
        const int rc = sqlite3_step(s);
        sqlite3_reset(s);
        sqlite3_clear_bindings(s);
        return check(rc == SQLITE_DONE ? SQLITE_OK : rc);
    }

    bool check(int rc)
    {
        if (rc != SQLITE_OK && error_.empty())
            error_ = sqlite3_errmsg(db_);
        return rc == SQLITE_OK;
    }
    bool failed() const { return !error_.empty(); }
    const std::string& error() const { return error_; }

private:
    sqlite3* db_;
    std::string error_;
};

std::string_view columnText(sqlite3_stmt* s, int column)
{
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(s, column));
    return text ? std::string_view(text, static_cast<std::size_t>(sqlite3_column_bytes(s, column)))
                : std::string_view();
}

// A row's text in the form of the store's keys; false for a row that no
// stored record can equal (a missing or empty value, a comma or LF in the
// first three columns, a CR or LF in the message).
bool rowKey(sqlite3_stmt* s, std::string& key)
{
    key.clear();
    for (int column = 1; column <= 4; ++column) {
        if (sqlite3_column_type(s, column) == SQLITE_NULL)
            return false;
        const auto text = columnText(s, column);
        if (text.empty() || text.find_first_of(column < 4 ? ",\n" : "\r\n") != std::string_view::npos)
            return false;
        key.append(text);
        if (column < 4)
            key += ',';
    }
    return true;
}

// A new database file gets the mode of the event log files: it holds the
// same events.
Database openDatabase(const std::string& path, std::string& error)
{
    struct stat st {};
    const bool existed = stat(path.c_str(), &st) == 0;
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    Database db(raw);
    if (rc != SQLITE_OK) {
        error = raw ? sqlite3_errmsg(raw) : sqlite3_errstr(rc);
        return nullptr;
    }
    if (!existed) {
        const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            applyDataPermissions(fd, kDataFileMode);
            close(fd);
        }
    }
    // Another program may be reading the database; wait for it a while.
    sqlite3_busy_timeout(db.get(), 10000);
    return db;
}

} // namespace

DatabaseExportResult exportDatabase(const EventStore& store, const std::string& path)
{
    DatabaseExportResult result;
    StoreRecords records;
    readStoreRecords(store, records);

    Database db = openDatabase(path, result.error);
    if (!db)
        return result;
    Round round(db.get());
    if (!round.exec("begin immediate")) {
        result.error = round.error();
        return result;
    }
    if (round.exec(kCreateTableStatement))
        round.exec(kCreateIndexStatement);

    // Rows whose record is still stored stay, the first of each; every
    // other row goes.
    std::vector<sqlite3_int64> vanished;
    if (!round.failed()) {
        auto list = round.prepare("select rowid, Occurrence, Priority, Host, Message from Brantwell");
        std::string key;
        int rc = SQLITE_ROW;
        while (list && (rc = sqlite3_step(list.get())) == SQLITE_ROW) {
            if (rowKey(list.get(), key) && records.pending.erase(key))
                continue;
            vanished.push_back(sqlite3_column_int64(list.get(), 0));
        }
        if (list)
            round.check(rc == SQLITE_DONE ? SQLITE_OK : rc);
    }
    if (!round.failed()) {
        auto remove = round.prepare("delete from Brantwell where rowid = ?");
        for (const auto rowid : vanished) {
            if (!remove || !round.check(sqlite3_bind_int64(remove.get(), 1, rowid)) || !round.run(remove.get()))
                break;
            ++result.deleted;
        }
    }
    if (!round.failed()) {
        auto insert = round.prepare(
            "insert into Brantwell (Occurrence, Priority, Host, Message) Values(?, ?, ?, ?)");
        for (const auto key : records.order) {
            if (!insert)
                break;
            if (!records.pending.contains(key))
                continue;
            const auto f = fieldsOf(key);
            if (!round.bind(insert.get(), 1, f.date) || !round.bind(insert.get(), 2, f.priority)
                || !round.bind(insert.get(), 3, f.host) || !round.bind(insert.get(), 4, f.message)
                || !round.run(insert.get()))
                break;
            ++result.inserted;
        }
    }
    if (round.failed() || !round.exec("commit")) {
        result.error = round.error();
        sqlite3_exec(db.get(), "rollback", nullptr, nullptr, nullptr);
        result.inserted = result.deleted = 0;
        return result;
    }
    result.rows = records.order.size();
    result.ok = true;
    return result;
}

} // namespace brantwell
