// The data-store exports called as a Visual Basic host calls them: a connection held in a host
// variable, and INI reads and writes with String variables.
#pragma once

#include "vbhost.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace dshost {

inline const std::string kOpenFailed = vbhost::Gbk("-打开错误");

// A connection held in a host variable, closed with the variable.
class Database {
public:
    explicit Database(const std::string &path) {
        vbhost::String file(path);
        vbhost::String message(vbhost::Gbk("旧的"));
        opened = SQLite_Open(&handle, file.ref(), message.ref());
        openMessage = message.bytes();
    }
    ~Database() { SQLite_Close(&handle); }

    int32_t Execute(std::string_view sql, std::string *messageOut = nullptr) {
        vbhost::String text(sql);
        vbhost::String message("stale");
        const int32_t rc = SQLite_Execute(&handle, text.ref(), message.ref());
        if (messageOut != nullptr) {
            *messageOut = message.bytes();
        }
        return rc;
    }

    int32_t Read(std::string_view sql, vbhost::Array &result, std::string *messageOut = nullptr) {
        vbhost::String text(sql);
        vbhost::String message("stale");
        const int32_t rc = SQLite_ReadData(&handle, text.ref(), result.ref(), message.ref());
        if (messageOut != nullptr) {
            *messageOut = message.bytes();
        }
        return rc;
    }

    // The single value of a one-row, one-column query.
    std::string Scalar(std::string_view sql) {
        vbhost::Array result;
        EXPECT_EQ(Read(sql, result), 1) << sql;
        return result.at({1, 1}).value_or("<null>");
    }

    intptr_t handle = 0;
    int32_t opened = 0;
    std::string openMessage;
};

inline std::string Read(std::string_view section, std::string_view key, std::string_view fallback,
                        const std::string &file) {
    vbhost::String s(section), k(key), d(fallback), f(file);
    return vbhost::TakeText(ReadINIValue(s.ref(), k.ref(), d.ref(), f.ref()));
}

inline int32_t Write(std::string_view section, std::string_view key, std::string_view value,
                     const std::string &file) {
    vbhost::String s(section), k(key), v(value), f(file);
    return WriteINIValue(s.ref(), k.ref(), v.ref(), f.ref());
}

} // namespace dshost
