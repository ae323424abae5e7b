// PDF files for the tests, written with qpdf from a few lines of PDF text, and ways to look at
// what the exports produced.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace pdftest {

struct Annotation {
    std::string subtype;  // without the slash: Text, FreeText, Popup, ...
    std::string author;   // UTF-8; empty: no /T entry
    std::string contents; // UTF-8; stored as PDFDocEncoding or UTF-16BE as qpdf chooses
};

struct Page {
    std::string marker; // ASCII text drawn on the page, read back by PageMarkers
    std::vector<Annotation> annotations;
};

// The path as UTF-8 bytes: the file names qpdf takes on every platform (it opens them through
// UTF-16 on Windows), and the text from which the tests make their GBK paths.
std::string Utf8(const std::filesystem::path &file);

void WritePdf(const std::filesystem::path &file, const std::vector<Page> &pages);

// The marker of every page of `file`, in page order.
std::vector<std::string> PageMarkers(const std::filesystem::path &file);

// True when qpdf's own check finds neither errors nor warnings.
bool PassesCheck(const std::filesystem::path &file);

// Whether `text` is the COM error message `expected`. On Windows the description after the
// HRESULT is the system's own text, in the system's language: only the part up to the comma
// after the HRESULT is compared there.
bool SameComError(const std::string &text, const std::string &expected);

void WriteBytes(const std::filesystem::path &file, const std::string &bytes);
std::string ReadBytes(const std::filesystem::path &file);

// A fresh folder in the temporary folder, removed with everything in it.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder &) = delete;
    TempFolder &operator=(const TempFolder &) = delete;
    std::filesystem::path operator/(const std::filesystem::path &name) const {
        return path_ / name;
    }
    const std::filesystem::path &path() const { return path_; }

private:
    std::filesystem::path path_;
};

} // namespace pdftest
