#include "pdf_fixtures.h"

#include <qpdf/Pl_String.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFJob.hh>
#include <qpdf/QPDFLogger.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace pdftest {

std::string Utf8(const std::filesystem::path &file) {
    const std::u8string name = file.u8string();
    return std::string(name.begin(), name.end());
}

void WritePdf(const std::filesystem::path &file, const std::vector<Page> &pages) {
    QPDF pdf;
    pdf.emptyPDF();
    QPDFObjectHandle font = pdf.makeIndirectObject(
        QPDFObjectHandle::parse("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"));
    for (const Page &wanted : pages) {
        QPDFObjectHandle page = pdf.makeIndirectObject(
            QPDFObjectHandle::parse("<< /Type /Page /MediaBox [0 0 200 200]"
                                    "   /Resources << /Font << >> >> /Annots [] >>"));
        page.getKey("/Resources").getKey("/Font").replaceKey("/F1", font);
        page.replaceKey("/Contents",
                        QPDFObjectHandle::newStream(&pdf, "BT /F1 12 Tf 20 100 Td (" +
                                                              wanted.marker + ") Tj ET\n"));
        for (const Annotation &a : wanted.annotations) {
            QPDFObjectHandle annot = QPDFObjectHandle::parse("<< /Type /Annot /Subtype /" +
                                                             a.subtype + " /Rect [10 10 40 40] >>");
            if (!a.author.empty()) {
                annot.replaceKey("/T", QPDFObjectHandle::newUnicodeString(a.author));
            }
            annot.replaceKey("/Contents", QPDFObjectHandle::newUnicodeString(a.contents));
            page.getKey("/Annots").appendItem(pdf.makeIndirectObject(annot));
        }
        pdf.addPage(page, false);
    }
    // The writer keeps the file name it is given until it is done.
    const std::string name = Utf8(file);
    QPDFWriter writer(pdf, name.c_str());
    writer.write();
}

std::vector<std::string> PageMarkers(const std::filesystem::path &file) {
    QPDF pdf;
    pdf.processFile(Utf8(file).c_str());
    std::vector<std::string> markers;
    for (QPDFObjectHandle page : pdf.getAllPages()) {
        std::string text;
        Pl_String buffer("contents", nullptr, text);
        QPDFPageObjectHelper(page).pipeContents(&buffer);
        const auto open = text.find('(');
        const auto close = text.find(')', open);
        markers.push_back(open == std::string::npos || close == std::string::npos
                              ? std::string()
                              : text.substr(open + 1, close - open - 1));
    }
    return markers;
}

bool PassesCheck(const std::filesystem::path &file) {
    QPDFJob job;
    auto logger = QPDFLogger::create();
    logger->setInfo(logger->discard());
    logger->setWarn(logger->discard());
    logger->setError(logger->discard());
    job.setLogger(logger);
    const std::string name = Utf8(file);
    const char *argv[] = {"qpdf", "--check", name.c_str(), nullptr};
    try {
        job.initializeFromArgv(argv);
        job.run();
    } catch (const std::exception &) {
        return false;
    }
    return job.getExitCode() == 0;
}

bool SameComError(const std::string &text, const std::string &expected) {
#ifdef _WIN32
    const size_t code = expected.find("(COM_ERROR)");
    const size_t comma = expected.find(',', code);
    if (code == std::string::npos || comma == std::string::npos) {
        return text == expected;
    }
    return text.compare(0, comma + 1, expected, 0, comma + 1) == 0 && text.size() > comma + 1;
#else
    return text == expected;
#endif
}

void WriteBytes(const std::filesystem::path &file, const std::string &bytes) {
    std::ofstream out(file, std::ios::binary);
    out << bytes;
}

std::string ReadBytes(const std::filesystem::path &file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TempFolder::TempFolder() {
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::filesystem::path candidate = base / ("kestrun-pdf-" + std::to_string(random()));
        if (std::filesystem::create_directory(candidate)) {
            path_ = std::move(candidate);
            return;
        }
    }
    throw std::runtime_error("cannot make a temporary folder");
}

TempFolder::~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

} // namespace pdftest
