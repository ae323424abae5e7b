// SQLite connections held by the caller, batches run as one transaction, and queries rendered as
// a table of GBK texts. Everything here works on byte strings; the exports only marshal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;

namespace kestrun::datastores {

// Flags every database is opened with: read/write, create, no connection mutex, shared cache.
inline constexpr int kOpenFlags = 0x28006;

struct OpenOutcome {
    sqlite3 *connection = nullptr; // whatever SQLite handed out, also on failure
    bool ok = false;
    std::string message; // GBK; empty on success
};

// Opens (or creates) the database at `path` (GBK bytes, resolved against the library folder
// unless it is absolute). A failed open may still return a connection, which the caller owns.
OpenOutcome OpenDatabase(std::string_view path);

struct ExecuteOutcome {
    bool ok = false;
    std::string message; // GBK; empty on success
};

// Runs the GBK SQL text `sql` (one or more statements) inside "begin;" ... "commit;", rolling
// back everything when a statement fails or the commit itself fails.
ExecuteOutcome ExecuteBatch(sqlite3 *connection, std::string_view sql);

// Closes a connection (deferred by SQLite until its statements are finalised). Null is ignored.
void CloseDatabase(sqlite3 *connection);

// The rows of a query as texts, all kept in one buffer.
class QueryTable {
public:
    size_t Rows() const { return columns_ == 0 ? 0 : ends_.size() / columns_; }
    size_t Columns() const { return columns_; }
    // Cell of result row `row` and column `column`, both counted from 0.
    std::string_view Cell(size_t row, size_t column) const;

    void SetColumns(size_t columns) { columns_ = columns; }
    // Appends the next cell (row by row, column by column).
    void Append(std::string_view text);
    std::string &Buffer() { return text_; }
    void EndCell() { ends_.push_back(text_.size()); }

private:
    size_t columns_ = 0;
    std::string text_;
    std::vector<size_t> ends_;
};

struct QueryOutcome {
    bool ok = false;
    std::string message; // GBK; empty on success
    QueryTable table;
};

// Runs the first statement of the GBK SQL text `sql` and collects every row. Each column is
// rendered by the type its value has in the first row (see CellText below).
QueryOutcome ReadQuery(sqlite3 *connection, std::string_view sql);

// Cell texts for the first-row column types.
// A FLOAT value truncated toward zero and clamped to the 32-bit range; NaN gives 0.
int32_t TruncateToInt32(double value);
// "(BLOB)" and "(NULL)".
inline constexpr std::string_view kBlobCell = "(BLOB)";
inline constexpr std::string_view kNullCell = "(NULL)";

} // namespace kestrun::datastores
