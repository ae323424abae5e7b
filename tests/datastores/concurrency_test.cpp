// Exports used from several threads at once (run under ThreadSanitizer too).
#include "test_files.h"
#include "vbhost.h"

#include <gtest/gtest.h>
#include <thread>

namespace {

TEST(Concurrency, ReadDataOnTwoConnectionsFromTwoThreads) {
    testfiles::TempFolder folder;
    vbhost::String file(folder / "shared.db");
    intptr_t setup = 0;
    vbhost::String message;
    ASSERT_EQ(SQLite_Open(&setup, file.ref(), message.ref()), 1);
    vbhost::String fill("create table t(a, b);"
                        "with recursive n(i) as (select 1 union all select i + 1 from n "
                        "where i < 2000) insert into t select i, 'row' || i from n;");
    ASSERT_EQ(SQLite_Execute(&setup, fill.ref(), message.ref()), 1);
    SQLite_Close(&setup);

    const auto reader = [&file](int *failures) {
        intptr_t handle = 0;
        vbhost::String text;
        if (SQLite_Open(&handle, file.ref(), text.ref()) != 1) {
            ++*failures;
            return;
        }
        vbhost::String sql("select a, b from t order by a");
        for (int round = 0; round < 20; ++round) {
            vbhost::Array result;
            if (SQLite_ReadData(&handle, sql.ref(), result.ref(), text.ref()) != 1 ||
                result.count(0) != 2001 || result.at({2000, 2}) != "row2000") {
                ++*failures;
            }
        }
        SQLite_Close(&handle);
    };
    int failuresA = 0;
    int failuresB = 0;
    std::thread a(reader, &failuresA);
    std::thread b(reader, &failuresB);
    a.join();
    b.join();
    EXPECT_EQ(failuresA, 0);
    EXPECT_EQ(failuresB, 0);
}

TEST(Concurrency, IniWritersInTwoThreadsKeepEachOthersKeys) {
    testfiles::TempFolder folder;
    const std::string file = folder / "t.ini";
    constexpr int kKeys = 30;
    const auto writer = [&file](const std::string &prefix, int *failures) {
        for (int i = 0; i < kKeys; ++i) {
            vbhost::String s("S"), k(prefix + std::to_string(i)), v(std::to_string(i)), f(file);
            if (WriteINIValue(s.ref(), k.ref(), v.ref(), f.ref()) == 0) {
                ++*failures;
            }
        }
    };
    int failuresA = 0;
    int failuresB = 0;
    std::thread a(writer, "a", &failuresA);
    std::thread b(writer, "b", &failuresB);
    a.join();
    b.join();
    EXPECT_EQ(failuresA + failuresB, 0);
    for (const char *prefix : {"a", "b"}) {
        for (int i = 0; i < kKeys; ++i) {
            vbhost::String s("S"), k(prefix + std::to_string(i)), d("missing"), f(file);
            EXPECT_EQ(vbhost::TakeText(ReadINIValue(s.ref(), k.ref(), d.ref(), f.ref())),
                      std::to_string(i));
        }
    }
}

} // namespace
