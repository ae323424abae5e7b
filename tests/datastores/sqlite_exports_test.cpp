// The SQLite exports called as a Visual Basic host calls them.
#include "host_calls.h"
#include "test_files.h"
#include "vbhost.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>

namespace {

using dshost::Database;
using dshost::kOpenFailed;
using vbhost::Gbk;

const std::string kBeginFailed = Gbk("操作发生失败，失败原因:");
const std::string kStatementFailed = Gbk("语句执行失败，失败原因:");
const std::string kRolledBack = Gbk("已执行回滚");

TEST(SQLiteOpen, CreatesFilesAndKeepsTheWholePointer) {
    testfiles::TempFolder folder;
    const std::string path = folder / "new.db";
    {
        Database db(path);
        ASSERT_EQ(db.opened, 1);
        EXPECT_EQ(db.openMessage, "");
#ifndef _WIN32
        // Heap addresses lie above 4 GiB on Linux x86-64: a handle cut to 32 bits could not work.
        // (Windows heaps start low, so there the other tests are the check.)
        EXPECT_NE(static_cast<uint64_t>(db.handle) >> 32, 0u);
#endif
        EXPECT_EQ(db.Execute("create table t(x)"), 1);
    }
    EXPECT_TRUE(std::filesystem::exists(path));

    // A bare name is found beside the library, not in the current directory.
    const std::string name = testfiles::UniqueName("kestrun-ds", ".db");
    const auto besideLibrary = testfiles::LibraryFolder() / name;
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(folder.path());
    {
        Database db(name);
        EXPECT_EQ(db.opened, 1);
    }
    std::filesystem::current_path(previous);
    EXPECT_TRUE(std::filesystem::exists(besideLibrary));
    EXPECT_FALSE(std::filesystem::exists(folder / name));
    std::filesystem::remove(besideLibrary);
}

TEST(SQLiteOpen, FailuresGiveTheCodeAndLeaveAClosableHandle) {
    testfiles::TempFolder folder;
    Database db(folder / "missing-folder/x.db");
    EXPECT_EQ(db.opened, 0);
    EXPECT_EQ(db.openMessage, "14" + kOpenFailed);
    EXPECT_EQ(SQLite_Close(&db.handle), db.handle == 0 ? 0 : 1);

    vbhost::String file(folder / "x.db");
    vbhost::String message;
    EXPECT_EQ(SQLite_Open(nullptr, file.ref(), message.ref()), 0);
    EXPECT_EQ(message.bytes(), "21" + kOpenFailed);
}

TEST(SQLiteExecute, BatchesAreOneTransaction) {
    testfiles::TempFolder folder;
    Database db(folder / "t.db");
    std::string message;
    ASSERT_EQ(db.Execute("create table t(id integer primary key, name text)", &message), 1);
    EXPECT_EQ(message, "");

    // The second insert fails, and the first is undone with it.
    EXPECT_EQ(db.Execute("insert into t values(1,'a'); insert into t values(1,'b');", &message), 0);
    EXPECT_EQ(message, kStatementFailed + "UNIQUE constraint failed: t.id" + kRolledBack);
    EXPECT_EQ(db.Scalar("select count(*) from t"), "0");

    // A transaction is already open, so BEGIN inside the batch fails.
    EXPECT_EQ(db.Execute("BEGIN; insert into t values(2,'c');", &message), 0);
    EXPECT_EQ(message,
              kStatementFailed + "cannot start a transaction within a transaction" + kRolledBack);

    EXPECT_EQ(db.Execute("select * from t", &message), 1);
    EXPECT_EQ(message, "");

    // A batch that commits by itself keeps its rows.
    EXPECT_EQ(db.Execute("insert into t values(3,'d'); commit;", &message), 1);
    EXPECT_EQ(db.Scalar("select count(*) from t"), "1");

    // Chinese text arrives as GBK and is stored as UTF-8.
    EXPECT_EQ(db.Execute("insert into t values(4,'" + Gbk("你好") + "')"), 1);
    EXPECT_EQ(db.Scalar("select hex(name) from t where id=4"), "E4BDA0E5A5BD");
    EXPECT_EQ(db.Scalar("select id from t where name='" + Gbk("你好") + "'"), "4");
}

TEST(SQLiteExecute, AFailedCommitIsReportedAndRolledBack) {
    testfiles::TempFolder folder;
    Database db(folder / "fk.db");
    ASSERT_EQ(db.Execute("create table p(id integer primary key);"
                         "create table c(pid integer references p(id) deferrable initially "
                         "deferred);"),
              1);
    // The pragma does nothing inside a transaction, so it goes through the query export.
    vbhost::Array ignored;
    ASSERT_EQ(db.Read("pragma foreign_keys=on", ignored), 1);
    std::string message;
    // Every statement succeeds; the deferred key check fails only at the commit.
    EXPECT_EQ(db.Execute("insert into c values(7)", &message), 0);
    EXPECT_EQ(message, kStatementFailed + "FOREIGN KEY constraint failed" + kRolledBack);
    EXPECT_EQ(db.Scalar("select count(*) from c"), "0");
    // No transaction was left open.
    EXPECT_EQ(db.Execute("insert into p values(7); insert into c values(7)", &message), 1);
    EXPECT_EQ(message, "");
}

TEST(SQLiteClose, ClosesOnceAndLaterCallsSeeNoConnection) {
    testfiles::TempFolder folder;
    Database db(folder / "c.db");
    EXPECT_EQ(SQLite_Close(&db.handle), 1);
    EXPECT_EQ(db.handle, 0);
    EXPECT_EQ(SQLite_Close(&db.handle), 0);
    EXPECT_EQ(SQLite_Close(nullptr), 0);

    std::string message;
    EXPECT_EQ(db.Execute("select 1", &message), 0);
    EXPECT_EQ(message, kBeginFailed);
    vbhost::Array result;
    EXPECT_EQ(db.Read("select 1", result, &message), 0);
    EXPECT_EQ(message, "bad parameter or other API misuse");
    EXPECT_EQ(result.get(), nullptr);
}

TEST(SQLiteReadData, TableShapeAndCellTexts) {
    testfiles::TempFolder folder;
    Database db(folder / "r.db");
    ASSERT_EQ(db.Execute("create table t(i, f, s, b, n);"
                         "insert into t values(4294967301, 3.9, '" +
                         Gbk("汉字") +
                         "', x'00ff', null);"
                         "insert into t values('12abc', -0.5, null, 'text', 5);"
                         "insert into t values(-7, 1e10, '', null, 'x');"),
              1);
    vbhost::Array result;
    std::string message;
    ASSERT_EQ(db.Read("select i, f, s, b, n from t order by rowid", result, &message), 1);
    EXPECT_EQ(message, "");
    ASSERT_EQ(result.count(0), 4u);
    ASSERT_EQ(result.count(1), 6u);
    for (long k = 0; k < 6; ++k) {
        EXPECT_FALSE(result.at({0, k}).has_value()); // row 0 holds no column names
    }
    for (long r = 0; r < 4; ++r) {
        EXPECT_FALSE(result.at({r, 0}).has_value());
    }
    // Row 1: low 32 bits of 2^32 + 5, truncated REAL, GBK text, BLOB, NULL.
    EXPECT_EQ(result.at({1, 1}), "5");
    EXPECT_EQ(result.at({1, 2}), "3");
    EXPECT_EQ(result.at({1, 3}), Gbk("汉字"));
    EXPECT_EQ(result.at({1, 4}), "(BLOB)");
    EXPECT_EQ(result.at({1, 5}), "(NULL)");
    // Later rows keep the first row's types: text through the integer accessor, a NULL in a
    // TEXT column, a text in a BLOB column, a number in a NULL column.
    EXPECT_EQ(result.at({2, 1}), "12");
    EXPECT_EQ(result.at({2, 2}), "0");
    EXPECT_EQ(result.at({2, 3}), "(NULL)");
    EXPECT_EQ(result.at({2, 4}), "(BLOB)");
    EXPECT_EQ(result.at({2, 5}), "(NULL)");
    EXPECT_EQ(result.at({3, 1}), "-7");
    EXPECT_EQ(result.at({3, 2}), "2147483647"); // a FLOAT beyond 32 bits is clamped
    EXPECT_EQ(result.at({3, 3}), "");
}

TEST(SQLiteReadData, EmptyResultsAndStatementsThatAreNotQueries) {
    testfiles::TempFolder folder;
    Database db(folder / "e.db");
    ASSERT_EQ(db.Execute("create table t(x)"), 1);
    vbhost::Array result;
    result.CreateStrings({{2, 0}});
    EXPECT_EQ(db.Read("select x from t", result), 1);
    EXPECT_EQ(result.count(0), 1u);
    EXPECT_EQ(result.count(1), 1u);
    EXPECT_FALSE(result.at({0, 0}).has_value());

    // Only the first statement runs; an INSERT runs once, outside any transaction.
    EXPECT_EQ(db.Read("insert into t values(1); insert into t values(2)", result), 1);
    EXPECT_EQ(result.count(0), 1u);
    EXPECT_EQ(db.Scalar("select group_concat(x) from t"), "1");
    EXPECT_EQ(db.Read("", result), 1);
    EXPECT_EQ(db.Read("-- only a comment", result), 1);
    EXPECT_EQ(result.count(0), 1u);
}

TEST(SQLiteReadData, FailuresLeaveTheCallersArray) {
    testfiles::TempFolder folder;
    Database db(folder / "f.db");
    vbhost::Array result;
    result.CreateStrings({{1, 0}});
    result.set({0}, "kept");
    std::string message;
    EXPECT_EQ(db.Read("selec 1", result, &message), 0);
    EXPECT_EQ(message, "near \"selec\": syntax error");
    EXPECT_EQ(result.at({0}), "kept");

    // An error after the first row is a failure, not a shorter result.
    EXPECT_EQ(db.Read("select 1 union all select abs(-9223372036854775808)", result, &message), 0);
    EXPECT_EQ(message, "integer overflow");
    EXPECT_EQ(result.at({0}), "kept");

    // SQLite's own texts come back in GBK too.
    EXPECT_EQ(db.Read("select * from " + Gbk("表"), result, &message), 0);
    EXPECT_EQ(message, "no such table: " + Gbk("表"));

    // No place for the array.
    vbhost::String sql("select 1");
    vbhost::String text;
    EXPECT_EQ(SQLite_ReadData(&db.handle, sql.ref(), nullptr, text.ref()), 0);
    EXPECT_EQ(text.bytes(), Gbk("数组创建失败！"));
    // Null strings read as empty texts.
    EXPECT_EQ(SQLite_ReadData(&db.handle, nullptr, result.ref(), nullptr), 1);
    EXPECT_EQ(SQLite_Execute(&db.handle, nullptr, nullptr), 1);
}

TEST(SQLiteReadData, ALockedArrayIsKeptAndTheFailureReported) {
    // A host iterating over the array (For Each) holds it locked: it cannot be replaced.
    testfiles::TempFolder folder;
    Database db(folder / "l.db");
    vbhost::Array result;
    result.CreateStrings({{1, 0}});
    result.set({0}, "kept");
    SAFEARRAY *held = result.get();
    ASSERT_EQ(SafeArrayLock(held), S_OK);
    std::string message;
    EXPECT_EQ(db.Read("select 1, 2", result, &message), 0);
    EXPECT_EQ(message, Gbk("数组创建失败！"));
    EXPECT_EQ(result.get(), held);
    EXPECT_EQ(result.at({0}), "kept");
    ASSERT_EQ(SafeArrayUnlock(held), S_OK);
    EXPECT_EQ(db.Read("select 1, 2", result, &message), 1);
    EXPECT_EQ(result.at({1, 2}), "2");
}

TEST(SQLiteOpen, AFolderIsNoDatabase) {
    testfiles::TempFolder folder;
    std::filesystem::create_directory(folder / "dir");
    Database db(folder / "dir");
    EXPECT_EQ(db.opened, 0);
    EXPECT_EQ(db.openMessage, "14" + kOpenFailed);
    EXPECT_EQ(db.Execute("create table t(x)"), 0);
    EXPECT_TRUE(std::filesystem::is_directory(folder / "dir"));
}

TEST(SQLiteReadData, TheLinkedLibraryHasTheExpectedFeatures) {
    testfiles::TempFolder folder;
    Database db(folder / "o.db");
    vbhost::Array result;
    ASSERT_EQ(db.Read("pragma compile_options", result), 1);
    std::vector<std::string> options;
    for (long r = 1; r < static_cast<long>(result.count(0)); ++r) {
        options.push_back(result.at({r, 1}).value_or(""));
    }
    for (const char *wanted :
         {"THREADSAFE=1", "ENABLE_COLUMN_METADATA", "ENABLE_RTREE", "ENABLE_UNLOCK_NOTIFY"}) {
        EXPECT_NE(std::find(options.begin(), options.end(), wanted), options.end()) << wanted;
    }
}

} // namespace
