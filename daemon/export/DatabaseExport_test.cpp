#include "DatabaseExport.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <map>
#include <random>
#include <set>
#include <tuple>

#include "EventRecord.h"
#include "store/EventStore.h"
#include "store/StoredEvents.h"
#include "testkit/TestSupport.h"

namespace brantwell {
namespace {

using test::readFile;
using test::TempDir;
using test::writeFile;

using Row = std::tuple<std::string, std::string, std::string, std::string>;

// The table through a connection of its own: every row with its rowid.
std::multimap<Row, long long> tableOf(const std::string& path)
{
    std::multimap<Row, long long> rows;
    sqlite3* db = nullptr;
    EXPECT_EQ(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    sqlite3_stmt* s = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db, "select rowid, Occurrence, Priority, Host, Message from Brantwell", -1, &s,
                                 nullptr),
              SQLITE_OK);
    const auto text = [&](int c) {
        const auto* t = reinterpret_cast<const char*>(sqlite3_column_text(s, c));
        return t ? std::string(t, sqlite3_column_bytes(s, c)) : std::string("<null>");
    };
    while (sqlite3_step(s) == SQLITE_ROW)
        rows.emplace(Row{text(1), text(2), text(3), text(4)}, sqlite3_column_int64(s, 0));
    sqlite3_finalize(s);
    sqlite3_close(db);
    return rows;
}

std::set<Row> rowsOf(const std::multimap<Row, long long>& table)
{
    std::set<Row> rows;
    for (const auto& [row, id] : table)
        rows.insert(row);
    return rows;
}

// What the table must hold: the distinct records of the store's files.
std::set<Row> distinctStoredRecords(const EventStore& store)
{
    std::set<Row> rows;
    forEachStoreFile(store, [&](const std::string&, std::string& contents) {
        forEachLine(contents, [&](std::string_view line) {
            if (const auto e = splitEventLine(line))
                rows.insert({e->date, e->priority, e->host, e->message});
        });
    });
    return rows;
}

void execute(const std::string& path, const char* sql)
{
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);
}

class DatabaseExportTest : public testing::Test {
protected:
    TempDir dir, out;
    EventStore store{dir.path()};
    std::string db = out.file("events.sqlite");
};

TEST_F(DatabaseExportTest, StoresEachDistinctRecordOnceWithEveryCharacterKept)
{
    const std::string longMessage(5000, 'x');
    writeFile(dir.file("2026-03-08.log"),
              "1773000000,Mail.Error,10.0.0.1,it's a message, with commas and a ' quote\n"
              "1773000001,User.Notice,10.0.0.1,twice\n"
              "1773000001,User.Notice,10.0.0.1,twice\n"
              "1773000002,User.Notice,10.0.0.1,'); drop table Brantwell; --\n"
              "1773000003,User.Notice,host.example,\"double\" and \\ backslash\n"
              "1773000004,User.Notice,10.0.0.1," + longMessage + "\n"
              "broken line\n");

    const auto result = exportDatabase(store, db);

    ASSERT_TRUE(result.ok) << result.error;
    const std::set<Row> expected = {
        {"1773000000", "Mail.Error", "10.0.0.1", "it's a message, with commas and a ' quote"},
        {"1773000001", "User.Notice", "10.0.0.1", "twice"},
        {"1773000002", "User.Notice", "10.0.0.1", "'); drop table Brantwell; --"},
        {"1773000003", "User.Notice", "host.example", "\"double\" and \\ backslash"},
        {"1773000004", "User.Notice", "10.0.0.1", longMessage},
    };
    const auto table = tableOf(db);
    EXPECT_EQ(table.size(), 5u);
    EXPECT_EQ(rowsOf(table), expected);
    EXPECT_EQ(result.inserted, 5u);
}

TEST_F(DatabaseExportTest, KeepsTheTableEqualToTheStoreRoundAfterRound)
{
    // Each round adds lines (duplicates and lines stored in another form
    // among them) and drops others; a record that stays keeps its row.
    std::mt19937 random(7);
    std::vector<std::string> lines;
    std::multimap<Row, long long> previous;
    for (int round = 0; round <= 8; ++round) {
        for (int i = 0; i < 50; ++i)
            lines.push_back(std::to_string(1773000000 + random() % 40) + ",User.Notice,10.0.0." +
                            std::to_string(random() % 3) + ",msg, " + std::to_string(random() % 30) +
                            (random() % 5 == 0 ? "\r\n" : "\n"));
        std::shuffle(lines.begin(), lines.end(), random);
        lines.resize(round == 8 ? 0 : lines.size() * 3 / 4);  // the last round empties the store
        std::string a, b;
        for (std::size_t i = 0; i < lines.size(); ++i)
            (i % 2 ? a : b) += (i % 7 == 0 ? ",," : "") + lines[i];
        writeFile(dir.file("2026-03-07.log"), a);
        writeFile(dir.file("2026-03-08.log"), b);

        const auto result = exportDatabase(store, db);

        ASSERT_TRUE(result.ok) << result.error;
        const auto table = tableOf(db);
        EXPECT_EQ(rowsOf(table), distinctStoredRecords(store)) << "round " << round;
        EXPECT_EQ(table.size(), rowsOf(table).size()) << "round " << round;
        for (const auto& [row, id] : table) {
            if (const auto before = previous.find(row); before != previous.end()) {
                EXPECT_EQ(id, before->second) << "round " << round << ": row deleted and inserted again";
            }
        }
        previous = table;
    }
    EXPECT_TRUE(previous.empty());
}

TEST_F(DatabaseExportTest, CleansUpRowsThatNoStoredLineCanMatch)
{
    writeFile(dir.file("2026-03-08.log"), "1773000000,User.Notice,10.0.0.1,x,y\n");
    execute(db, kCreateTableStatement);
    execute(db,
            "insert into Brantwell values ('1773000000','User.Notice','10.0.0.1','x,y'),"
            "('1773000000','User.Notice','10.0.0.1','x,y'),"       // a second copy
            "('1773000000,User.Notice','10.0.0.1','x','y'),"       // the same text, other columns
            "('1773000000','User.Notice','10.0.0.1',NULL),('','','','')");

    ASSERT_TRUE(exportDatabase(store, db).ok);

    const auto table = tableOf(db);
    EXPECT_EQ(table.size(), 1u);
    EXPECT_EQ(rowsOf(table), distinctStoredRecords(store));
}

TEST_F(DatabaseExportTest, CreatesTheTableByItsStatementWithAnIndexOverTheFourColumns)
{
    ASSERT_TRUE(exportDatabase(store, db).ok);
    sqlite3* handle = nullptr;
    ASSERT_EQ(sqlite3_open(db.c_str(), &handle), SQLITE_OK);
    std::vector<std::string> found;
    auto collect = [](void* out, int n, char** values, char**) {
        for (int i = 0; i < n; ++i)
            static_cast<std::vector<std::string>*>(out)->push_back(values[i] ? values[i] : "");
        return 0;
    };
    sqlite3_exec(handle, "select sql from sqlite_master where type = 'table'", collect, &found, nullptr);
    sqlite3_exec(handle,
                 "select name from pragma_index_info((select name from sqlite_master where type = 'index' "
                 "and tbl_name = 'Brantwell')) order by seqno",
                 collect, &found, nullptr);
    sqlite3_close(handle);
    EXPECT_EQ(found, (std::vector<std::string>{
                         "CREATE TABLE Brantwell (Occurrence TEXT,Priority TEXT,Host TEXT,Message TEXT)",
                         "Occurrence", "Priority", "Host", "Message"}));
}

TEST_F(DatabaseExportTest, ReportsAFileThatIsNoDatabaseAndLeavesIt)
{
    writeFile(dir.file("2026-03-08.log"), "1773000000,User.Notice,10.0.0.1,x\n");
    const std::string junk(4096, 'j');
    writeFile(db, junk);
    const auto result = exportDatabase(store, db);
    EXPECT_FALSE(result.ok);
    EXPECT_FALSE(result.error.empty());
    EXPECT_EQ(readFile(db), junk);

    const auto missing = exportDatabase(store, out.file("no/such/dir/e.sqlite"));
    EXPECT_FALSE(missing.ok);
    EXPECT_FALSE(missing.error.empty());
}

} // namespace
} // namespace brantwell
