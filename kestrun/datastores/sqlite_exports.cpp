// SQLite_Open, SQLite_Execute, SQLite_Close, SQLite_ReadData.
//
// The connection handle lives in the caller's pointer-sized variable; 0 means no connection.
#include "kestrun.h"
#include "kestrun/datastores/sqlite_store.h"
#include "kestrun/interop/frame.h"

#include <limits>
#include <sqlite3.h>

using namespace kestrun::interop;
using namespace kestrun::datastores;

namespace {

// "数组创建失败！"
constexpr std::string_view kArrayFailed =
    "\xCA\xFD\xD7\xE9\xB4\xB4\xBD\xA8\xCA\xA7\xB0\xDC\xA3\xA1";

sqlite3 *Connection(const intptr_t *handle) {
    return handle == nullptr ? nullptr : reinterpret_cast<sqlite3 *>(*handle);
}

// Runs `body` (returning the Long result); an escaping exception becomes the message text.
template <class Body> int32_t GuardWithMessage(BSTR *message, Body &&body) noexcept {
    try {
        return body();
    } catch (...) {
        std::string text;
        ExceptionMessage(text);
        WriteOutString(message, text);
        return 0;
    }
}

// Stores the table into a new (rows + 1) x (columns + 1) array; false when it cannot be made.
bool StoreTable(SAFEARRAY **result, const QueryTable &table) {
    const size_t rows = table.Rows();
    const size_t columns = table.Columns();
    // Subscripts are LONG, and the element count must fit the array's descriptor.
    constexpr size_t kMax = std::numeric_limits<LONG>::max() - 1;
    if (rows >= kMax || columns >= kMax || (rows + 1) > kMax / (columns + 1)) {
        if (result != nullptr) { // the variable holds no array, as after a failed create
            SafeArrayDestroy(*result);
            *result = nullptr;
        }
        return false;
    }
    SAFEARRAY *array = ReplaceOutArray(
        result, {{static_cast<ULONG>(rows + 1), 0}, {static_cast<ULONG>(columns + 1), 0}});
    if (array == nullptr) {
        return false;
    }
    // Each cell's BSTR is made once and handed to the array's (still empty) slot: storing it
    // through SafeArrayPutElement would copy every text a second time.
    for (size_t r = 0; r < rows; ++r) {
        for (size_t k = 0; k < columns; ++k) {
            LONG index[2] = {static_cast<LONG>(r + 1), static_cast<LONG>(k + 1)};
            void *slot = nullptr;
            const std::string_view text = table.Cell(r, k);
            BSTR cell = nullptr;
            if (text.size() < 0xFFFFFFF0u && SUCCEEDED(SafeArrayPtrOfIndex(array, index, &slot))) {
                cell = SysAllocStringByteLen(text.data(), static_cast<UINT>(text.size()));
            }
            if (cell == nullptr) {
                SafeArrayDestroy(array);
                *result = nullptr;
                return false;
            }
            *static_cast<BSTR *>(slot) = cell;
        }
    }
    return true;
}

} // namespace

KESTRUN_EXPORT int32_t KESTRUN_CALL SQLite_Open(intptr_t *connection, BSTR *databasePath,
                                                BSTR *message) {
    return GuardWithMessage(message, [&]() -> int32_t {
        WriteOutString(message, "");
        if (connection == nullptr) {
            // Nowhere to put a connection: SQLite's misuse code, as it would report it.
            WriteOutString(message, "21-\xB4\xF2\xBF\xAA\xB4\xED\xCE\xF3"); // "21-打开错误"
            return 0;
        }
        *connection = 0;
        OpenOutcome opened;
        try {
            opened = OpenDatabase(RefString(databasePath));
        } catch (...) {
            ExceptionMessage(opened.message);
            opened.ok = false;
        }
        // On failure too: SQLite may have made a connection, which SQLite_Close releases.
        *connection = reinterpret_cast<intptr_t>(opened.connection);
        WriteOutString(message, opened.message);
        return opened.ok ? 1 : 0;
    });
}

KESTRUN_EXPORT int32_t KESTRUN_CALL SQLite_Execute(intptr_t *connection, BSTR *sql, BSTR *message) {
    return GuardWithMessage(message, [&]() -> int32_t {
        WriteOutString(message, "");
        const ExecuteOutcome outcome = ExecuteBatch(Connection(connection), RefString(sql));
        WriteOutString(message, outcome.message);
        return outcome.ok ? 1 : 0;
    });
}

KESTRUN_EXPORT int32_t KESTRUN_CALL SQLite_Close(intptr_t *connection) {
    if (connection == nullptr || *connection == 0) {
        return 0;
    }
    CloseDatabase(Connection(connection));
    *connection = 0;
    return 1;
}

KESTRUN_EXPORT int32_t KESTRUN_CALL SQLite_ReadData(intptr_t *connection, BSTR *sql,
                                                    SAFEARRAY **result, BSTR *message) {
    return GuardWithMessage(message, [&]() -> int32_t {
        WriteOutString(message, "");
        const QueryOutcome outcome = ReadQuery(Connection(connection), RefString(sql));
        if (!outcome.ok) {
            WriteOutString(message, outcome.message); // the caller's array is left as it was
            return 0;
        }
        if (!StoreTable(result, outcome.table)) {
            WriteOutString(message, kArrayFailed);
            return 0;
        }
        return 1;
    });
}
