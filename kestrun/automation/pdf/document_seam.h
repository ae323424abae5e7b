// The PDF document server: a document object with the operations the PDF exports call, and its
// script object for the annotation scan. Built on qpdf (document_qpdf.cpp).
//
// Failures that the server reports as COM errors are thrown as kestrun::interop::ComError with
// HRESULT E_FAIL (0x80004005) and qpdf's text (or a short reason) as the description. Open alone
// reports a file it cannot read by returning false.
#pragma once

#include "kestrun/automation/pdf/dispatch.h"
#include "oleauto.h"

#include <functional>
#include <memory>
#include <string_view>

namespace kestrun::platform::pdf {

// The HRESULT of every failure the document server raises.
inline constexpr HRESULT kServerError = E_FAIL;

// Save type for a full save (the only kind this server writes).
inline constexpr SHORT kSaveFull = 1;

// The document as the engine holds it (defined by the implementation).
struct DocumentContent;

class PdfDocument {
public:
    virtual ~PdfDocument() = default;

    // Reads the PDF file at `path` (UTF-16; stored as a UTF-8 file name), closing whatever the
    // object held. False when the file is missing or is not a readable PDF.
    virtual bool Open(std::u16string_view path) = 0;
    // Lets go of the document. False when nothing was open.
    virtual bool Close() = 0;
    // Inserts `count` pages of `source`, starting at its 0-based page `firstPage`, after the
    // 0-based page `insertAfter` of this document (-1: before the first page). Bookmarks are
    // never copied, whatever `bookmarks` says.
    virtual bool InsertPages(LONG insertAfter, PdfDocument &source, LONG firstPage, LONG count,
                             LONG bookmarks) = 0;
    virtual LONG GetNumPages() = 0;
    // Replaces whatever the object held by a new document without pages.
    virtual bool Create() = 0;
    // Writes the whole document to `path`. The file is replaced only once the new one is
    // complete, so a failed save leaves an existing file as it was. On POSIX systems a document
    // may be saved over one of the files its pages came from; Windows refuses to replace a file
    // that is still open, so there such a save fails.
    virtual bool Save(SHORT saveType, std::u16string_view path) = 0;
    // The document's script object (members "syncAnnotScan" and "getAnnots"); empty when
    // nothing is open.
    virtual ComPtr GetJSObject() = 0;

    // The engine's view of the document, for copying pages between document objects; null when
    // nothing is open.
    virtual std::shared_ptr<DocumentContent> Content() = 0;
};

// Creates a document object, or returns null when the server is not available.
using DocumentFactory = std::function<std::unique_ptr<PdfDocument>()>;

// The qpdf-backed server.
std::unique_ptr<PdfDocument> CreatePdfDocument();

} // namespace kestrun::platform::pdf
