#include "kestrun/datastores/sqlite_store.h"

#include "kestrun/datastores/ansi_encoder.h"
#include "kestrun/interop/codepage.h"
#include "kestrun/interop/regular_file_seam.h"
#include "kestrun/interop/strings.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <memory>
#include <sqlite3.h>

namespace kestrun::datastores {
namespace {

// "-打开错误"
constexpr std::string_view kOpenFailed = "-\xB4\xF2\xBF\xAA\xB4\xED\xCE\xF3";
// "操作发生失败，失败原因:"
constexpr std::string_view kBeginFailed =
    "\xB2\xD9\xD7\xF7\xB7\xA2\xC9\xFA\xCA\xA7\xB0\xDC\xA3\xAC\xCA\xA7\xB0\xDC\xD4\xAD\xD2\xF2:";
// "语句执行失败，失败原因:"
constexpr std::string_view kStatementFailed =
    "\xD3\xEF\xBE\xE4\xD6\xB4\xD0\xD0\xCA\xA7\xB0\xDC\xA3\xAC\xCA\xA7\xB0\xDC\xD4\xAD\xD2\xF2:";
// "已执行回滚"
constexpr std::string_view kRolledBack = "\xD2\xD1\xD6\xB4\xD0\xD0\xBB\xD8\xB9\xF6";

struct SqliteFree {
    void operator()(char *text) const { sqlite3_free(text); }
};
using SqliteText = std::unique_ptr<char, SqliteFree>;

struct StatementFinalize {
    void operator()(sqlite3_stmt *statement) const { sqlite3_finalize(statement); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementFinalize>;

bool IsAscii(std::string_view text) {
    for (const char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            return false;
        }
    }
    return true;
}

// SQLite's texts are UTF-8; everything that leaves the library is GBK. ASCII needs no work.
std::string SqliteToAnsi(const char *utf8) {
    if (utf8 == nullptr) {
        return {};
    }
    const std::string_view text(utf8);
    return IsAscii(text) ? std::string(text) : interop::Utf8ToAnsi(text);
}

// Runs one SQL text; the error text SQLite gives (if any) lands in `error`.
int Exec(sqlite3 *connection, const char *sql, SqliteText *error) {
    char *raw = nullptr;
    const int rc = sqlite3_exec(connection, sql, nullptr, nullptr, error ? &raw : nullptr);
    if (error != nullptr) {
        error->reset(raw);
    }
    return rc;
}

// Rolls the open transaction back unless dismissed, also when an exception unwinds.
class RollbackGuard {
public:
    explicit RollbackGuard(sqlite3 *connection) : connection_(connection) {}
    ~RollbackGuard() {
        if (connection_ != nullptr) {
            Exec(connection_, "rollback;", nullptr);
        }
    }
    RollbackGuard(const RollbackGuard &) = delete;
    RollbackGuard &operator=(const RollbackGuard &) = delete;
    void Dismiss() { connection_ = nullptr; }

private:
    sqlite3 *connection_;
};

void AppendNumber(std::string &buffer, int32_t value) {
    char digits[16];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    buffer.append(digits, end);
}

// Appends the text of column `k` of the current row, rendered by the column's first-row type.
void AppendCell(std::string &buffer, platform::AnsiEncoder &encoder, sqlite3_stmt *statement, int k,
                int type) {
    switch (type) {
    case SQLITE_INTEGER:
        AppendNumber(buffer, sqlite3_column_int(statement, k));
        break;
    case SQLITE_FLOAT:
        AppendNumber(buffer, TruncateToInt32(sqlite3_column_double(statement, k)));
        break;
    case SQLITE_TEXT: {
        const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(statement, k));
        if (text == nullptr) {
            // A later NULL (or an allocation failure inside SQLite) has no text to show.
            buffer.append(kNullCell);
            break;
        }
        encoder.Append(buffer, std::string_view(
                                   text, static_cast<size_t>(sqlite3_column_bytes(statement, k))));
        break;
    }
    case SQLITE_BLOB:
        buffer.append(kBlobCell);
        break;
    default:
        buffer.append(kNullCell);
        break;
    }
}

} // namespace

int32_t TruncateToInt32(double value) {
    if (std::isnan(value)) {
        return 0;
    }
    if (value >= static_cast<double>(std::numeric_limits<int32_t>::max())) {
        return std::numeric_limits<int32_t>::max();
    }
    if (value <= static_cast<double>(std::numeric_limits<int32_t>::min())) {
        return std::numeric_limits<int32_t>::min();
    }
    return static_cast<int32_t>(value); // truncates toward zero
}

OpenOutcome OpenDatabase(std::string_view path) {
    OpenOutcome out;
    const std::string utf8 =
        interop::AnsiToUtf8(interop::ResolveLibraryPath(interop::UpToZero(path)));
    // Room for the failure text up front: nothing may throw once SQLite has made a connection.
    out.message.reserve(16 + kOpenFailed.size());
    // SQLite would open a FIFO and then wait on it for ever, or take /dev/zero for an empty
    // database and write into it; only a regular file (or a new one) is a database.
    const int rc = platform::IsMissingOrRegularFile(utf8)
                       ? sqlite3_open_v2(utf8.c_str(), &out.connection, kOpenFlags, nullptr)
                       : SQLITE_CANTOPEN;
    if (rc == SQLITE_OK) {
        out.ok = true;
        return out;
    }
    AppendNumber(out.message, rc);
    out.message += kOpenFailed;
    return out;
}

ExecuteOutcome ExecuteBatch(sqlite3 *connection, std::string_view sql) {
    ExecuteOutcome out;
    const std::string utf8 = interop::AnsiToUtf8(sql);
    SqliteText error;
    // Without a connection SQLite reports misuse and gives no text; say so without calling it.
    if (connection == nullptr || Exec(connection, "begin;", &error) != SQLITE_OK) {
        out.message = kBeginFailed;
        out.message += SqliteToAnsi(error.get());
        return out;
    }
    {
        RollbackGuard transaction(connection);
        if (Exec(connection, utf8.c_str(), &error) == SQLITE_OK) {
            // A batch that ended the transaction itself has nothing left to commit. Otherwise a
            // commit that fails (a busy database, a deferred constraint) must not pass as success:
            // the transaction would stay open and its changes would be lost later.
            if (sqlite3_get_autocommit(connection) != 0 ||
                Exec(connection, "commit;", &error) == SQLITE_OK) {
                transaction.Dismiss();
                out.ok = true;
                return out;
            }
        }
        out.message = kStatementFailed;
        out.message += SqliteToAnsi(error.get());
    } // rolls back here
    out.message += kRolledBack;
    return out;
}

void CloseDatabase(sqlite3 *connection) {
    if (connection != nullptr) {
        sqlite3_close_v2(connection);
    }
}

std::string_view QueryTable::Cell(size_t row, size_t column) const {
    const size_t index = row * columns_ + column;
    if (column >= columns_ || index >= ends_.size()) {
        return {};
    }
    const size_t begin = index == 0 ? 0 : ends_[index - 1];
    return std::string_view(text_).substr(begin, ends_[index] - begin);
}

void QueryTable::Append(std::string_view text) {
    text_.append(text);
    EndCell();
}

QueryOutcome ReadQuery(sqlite3 *connection, std::string_view sql) {
    QueryOutcome out;
    if (connection == nullptr) {
        out.message = sqlite3_errstr(SQLITE_MISUSE);
        return out;
    }
    const std::string utf8 = interop::AnsiToUtf8(sql);
    sqlite3_stmt *raw = nullptr;
    const int prepared = sqlite3_prepare_v2(connection, utf8.c_str(), -1, &raw, nullptr);
    const Statement statement(raw);
    if (prepared != SQLITE_OK) {
        out.message = SqliteToAnsi(sqlite3_errmsg(connection));
        return out;
    }
    if (!statement) { // only blanks or comments: nothing to run
        out.ok = true;
        return out;
    }
    std::vector<int> types;
    platform::AnsiEncoder encoder;
    int rc = SQLITE_OK;
    std::string &buffer = out.table.Buffer();
    while ((rc = sqlite3_step(statement.get())) == SQLITE_ROW) {
        if (types.empty()) {
            const int count = sqlite3_column_count(statement.get());
            for (int k = 0; k < count; ++k) {
                types.push_back(sqlite3_column_type(statement.get(), k));
            }
            out.table.SetColumns(types.size());
            if (types.empty()) {
                break;
            }
        }
        for (size_t k = 0; k < types.size(); ++k) {
            AppendCell(buffer, encoder, statement.get(), static_cast<int>(k), types[k]);
            out.table.EndCell();
        }
    }
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
        // The rows read so far are not the whole result: report the failure instead.
        out.message = SqliteToAnsi(sqlite3_errmsg(connection));
        out.table = QueryTable();
        return out;
    }
    out.ok = true;
    return out;
}

} // namespace kestrun::datastores
