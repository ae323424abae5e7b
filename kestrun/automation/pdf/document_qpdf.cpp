// The PDF document server on qpdf: document objects, their script objects, annotation objects
// and annotation property objects.
#include "kestrun/automation/pdf/document_seam.h"
#include "kestrun/automation/pdf/replacement_file.h"
#include "kestrun/interop/boundary.h"
#include "kestrun/interop/codepage.h"
#include "kestrun/interop/errors.h"
#include "kestrun/interop/regular_file_seam.h"

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFLogger.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFWriter.hh>

#include <cstdio>
#include <exception>
#include <optional>
#include <string>
#include <vector>

namespace kestrun::platform::pdf {

using kestrun::interop::ComError;
using kestrun::interop::SetVariantText;
using kestrun::interop::UpToZero;
using kestrun::interop::Utf8ToWide;
using kestrun::interop::WideToUtf8;
using kestrun::platform::FileHandle;
using kestrun::platform::OpenRegularForReading;

// qpdf copies the page objects of an inserted page at once and reads its content streams from the
// source file only when the target is written; the copy holds the source file open itself, so
// a source document may be closed (or, on POSIX systems, its file replaced) before the target
// is saved.
struct DocumentContent {
    std::shared_ptr<QPDF> engine;
};

namespace {

[[noreturn]] void Raise(std::string_view reason) {
    throw ComError(kServerError, Utf8ToWide(reason));
}

// Runs a qpdf operation; qpdf's exceptions become the server's COM error.
template <class Operation> auto Engine(Operation &&operation) {
    try {
        return operation();
    } catch (const std::exception &e) {
        Raise(e.what());
    }
}

// A qpdf document that prints nothing: warnings are kept, not written to the standard streams.
std::shared_ptr<QPDF> NewEngine() {
    auto engine = std::make_shared<QPDF>();
    auto logger = QPDFLogger::create();
    logger->setInfo(logger->discard());
    logger->setWarn(logger->discard());
    logger->setError(logger->discard());
    engine->setLogger(logger);
    engine->setSuppressWarnings(true);
    return engine;
}

std::string FileName(std::u16string_view path) {
    return WideToUtf8(UpToZero(path));
}

// A stdio stream over an existing regular file; null when the file cannot be opened so.
std::FILE *ReadingStream(const std::string &localPath) {
    FileHandle file = OpenRegularForReading(localPath);
    if (!file) {
        return nullptr;
    }
#ifdef _WIN32
    std::FILE *stream = ::_fdopen(file.get(), "rb");
#else
    std::FILE *stream = ::fdopen(file.get(), "rb");
#endif
    if (stream != nullptr) {
        file.Release(); // the stream owns the descriptor now
    }
    return stream;
}

// A text string of the PDF (PDFDocEncoding or UTF-16) as UTF-16; anything else stays empty.
HRESULT TextValue(QPDFObjectHandle value, VARIANT *result) {
    if (value.isString()) {
        SetVariantText(result, Utf8ToWide(value.getUTF8Value()));
    }
    return S_OK;
}

ComPtr MakePropertyObject(std::shared_ptr<DocumentContent> content, QPDFObjectHandle annot) {
    // Each property is read when asked for, so a damaged value fails only its own read. Holding
    // `content` keeps the qpdf document alive as long as the object.
    auto author = [content, annot](VARIANT *result) mutable {
        return TextValue(annot.getKey("/T"), result);
    };
    auto type = [content, annot](VARIANT *result) mutable {
        QPDFObjectHandle subtype = annot.getKey("/Subtype");
        if (subtype.isName()) {
            // "/FreeText" is reported as FreeText.
            SetVariantText(result, Utf8ToWide(subtype.getName().substr(1)));
        }
        return S_OK;
    };
    auto contents = [content, annot](VARIANT *result) mutable {
        return TextValue(annot.getKey("/Contents"), result);
    };
    return MakeDispatchObject({{u"author", kDispatchPropertyGet, std::move(author)},
                               {u"type", kDispatchPropertyGet, std::move(type)},
                               {u"contents", kDispatchPropertyGet, std::move(contents)}});
}

ComPtr MakeAnnotationObject(std::shared_ptr<DocumentContent> content, QPDFObjectHandle annot) {
    auto getprops = [content, annot](VARIANT *result) {
        ComPtr props = MakePropertyObject(content, annot);
        V_VT(result) = VT_DISPATCH;
        V_DISPATCH(result) = props.Detach();
        return S_OK;
    };
    return MakeDispatchObject({{u"getprops", kDispatchMethod, std::move(getprops)}});
}

// The annotations a review lists: every annotation of every page, in page order and in the order
// of each page's /Annots array, except links, form-field widgets and the pop-up windows that
// belong to other annotations.
std::vector<QPDFObjectHandle> ScanAnnotations(QPDF &engine) {
    std::vector<QPDFObjectHandle> found;
    for (QPDFObjectHandle page : engine.getAllPages()) {
        QPDFObjectHandle annots = page.getKey("/Annots");
        if (!annots.isArray()) {
            continue;
        }
        for (QPDFObjectHandle annot : annots.aitems()) {
            if (!annot.isDictionary()) {
                continue;
            }
            QPDFObjectHandle subtype = annot.getKey("/Subtype");
            if (subtype.isName() &&
                (subtype.getName() == "/Link" || subtype.getName() == "/Widget" ||
                 subtype.getName() == "/Popup")) {
                continue;
            }
            found.push_back(annot);
        }
    }
    return found;
}

ComPtr MakeScriptObject(std::shared_ptr<DocumentContent> content) {
    struct Scan {
        std::shared_ptr<DocumentContent> content;
        std::optional<std::vector<QPDFObjectHandle>> annotations;
        const std::vector<QPDFObjectHandle> &Run() {
            if (!annotations) {
                annotations = ScanAnnotations(*content->engine);
            }
            return *annotations;
        }
    };
    auto scan = std::make_shared<Scan>(Scan{std::move(content), std::nullopt});
    auto syncAnnotScan = [scan](VARIANT *) {
        scan->Run();
        return S_OK;
    };
    // No annotations: an empty result. Otherwise an array of variants (lower bound 0), each
    // holding an annotation object.
    auto getAnnots = [scan](VARIANT *result) -> HRESULT {
        const auto &annotations = scan->Run();
        if (annotations.empty()) {
            return S_OK;
        }
        SAFEARRAY *list =
            SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(annotations.size()));
        if (list == nullptr) {
            return E_OUTOFMEMORY;
        }
        V_VT(result) = VT_ARRAY | VT_VARIANT;
        V_ARRAY(result) = list;
        for (size_t i = 0; i < annotations.size(); ++i) {
            ComPtr annot = MakeAnnotationObject(scan->content, annotations[i]);
            VARIANT element;
            VariantInit(&element);
            V_VT(&element) = VT_DISPATCH;
            V_DISPATCH(&element) = annot.get();
            LONG index = static_cast<LONG>(i);
            const HRESULT hr = SafeArrayPutElement(list, &index, &element); // adds a reference
            if (FAILED(hr)) {
                return hr; // the caller clears the partly filled result
            }
        }
        return S_OK;
    };
    return MakeDispatchObject({{u"syncAnnotScan", kDispatchMethod, std::move(syncAnnotScan)},
                               {u"getAnnots", kDispatchMethod, std::move(getAnnots)}});
}

class QpdfDocument final : public PdfDocument {
public:
    bool Open(std::u16string_view path) override {
        content_.reset();
        // Opened under the shared rules (a regular file only, never waiting on a FIFO or a
        // device); qpdf reads the stream from then on and closes it with the document.
        const std::string file = FileName(path);
        std::FILE *stream = ReadingStream(file);
        if (stream == nullptr) {
            return false;
        }
        auto content = std::make_shared<DocumentContent>();
        content->engine = NewEngine();
        try {
            content->engine->processFile(file.c_str(), stream, true);
            // A document whose page tree cannot be read is of no use to any operation.
            content->engine->getAllPages();
        } catch (const std::exception &) {
            return false;
        }
        content_ = std::move(content);
        return true;
    }

    bool Close() override { return std::exchange(content_, nullptr) != nullptr; }

    bool InsertPages(LONG insertAfter, PdfDocument &source, LONG firstPage, LONG count,
                     LONG) override {
        DocumentContent &target = Current();
        std::shared_ptr<DocumentContent> from = source.Content();
        if (from == nullptr) {
            Raise("the source document is not open");
        }
        Engine([&] {
            // Copies of the handles: inserting may rebuild the engines' page lists.
            const std::vector<QPDFObjectHandle> sourcePages = from->engine->getAllPages();
            const auto targetCount = static_cast<LONG>(target.engine->getAllPages().size());
            if (count < 0 || firstPage < 0 || firstPage > static_cast<LONG>(sourcePages.size()) ||
                count > static_cast<LONG>(sourcePages.size()) - firstPage || insertAfter < -1 ||
                insertAfter >= targetCount) {
                Raise("page numbers out of range");
            }
            for (LONG k = 0; k < count; ++k) {
                const QPDFObjectHandle page = sourcePages[static_cast<size_t>(firstPage + k)];
                const auto position = static_cast<size_t>(insertAfter + 1 + k);
                const std::vector<QPDFObjectHandle> &pages = target.engine->getAllPages();
                if (position >= pages.size()) {
                    target.engine->addPage(page, false);
                } else {
                    const QPDFObjectHandle before = pages[position];
                    target.engine->addPageAt(page, true, before);
                }
            }
        });
        return true;
    }

    LONG GetNumPages() override {
        DocumentContent &content = Current();
        return Engine([&] { return static_cast<LONG>(content.engine->getAllPages().size()); });
    }

    bool Create() override {
        auto content = std::make_shared<DocumentContent>();
        content->engine = NewEngine();
        Engine([&] { content->engine->emptyPDF(); });
        content_ = std::move(content);
        return true;
    }

    bool Save(SHORT, std::u16string_view path) override {
        DocumentContent &content = Current();
        const std::string file = FileName(path);
        if (file.empty()) {
            Raise("no file name to save to");
        }
        Engine([&] {
            ReplacementFile output(file);
            QPDFWriter writer(*content.engine);
            writer.setOutputFile(output.Name().c_str(), output.Stream(), false);
            writer.write();
            output.Commit();
        });
        return true;
    }

    ComPtr GetJSObject() override {
        if (content_ == nullptr) {
            return {};
        }
        return MakeScriptObject(content_);
    }

    std::shared_ptr<DocumentContent> Content() override { return content_; }

private:
    DocumentContent &Current() {
        if (content_ == nullptr) {
            Raise("no document is open");
        }
        return *content_;
    }

    std::shared_ptr<DocumentContent> content_;
};

} // namespace

std::unique_ptr<PdfDocument> CreatePdfDocument() {
    return std::make_unique<QpdfDocument>();
}

} // namespace kestrun::platform::pdf
