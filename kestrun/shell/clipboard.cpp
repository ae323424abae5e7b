#include "kestrun/shell/clipboard.h"

#include "kestrun/interop/codepage.h"

namespace kestrun::shell {

std::vector<std::string> ClipboardFileList(std::string_view ansiPath,
                                           std::string_view currentFolder) {
    if (ansiPath.empty()) {
        return {};
    }
    std::string local = interop::AnsiToUtf8(ansiPath);
    if (!currentFolder.empty() && local.front() != '/') {
        std::string absolute(currentFolder);
        if (absolute.empty() || absolute.back() != '/') {
            absolute.push_back('/');
        }
        local = absolute + local;
    }
    return {local};
}

std::string FileUri(std::string_view absolutePath) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string uri = "file://";
    for (const char c : absolutePath) {
        const auto byte = static_cast<unsigned char>(c);
        const bool unreserved = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                                (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' ||
                                byte == '_' || byte == '~' || byte == '/';
        if (unreserved) {
            uri.push_back(c);
        } else {
            uri.push_back('%');
            uri.push_back(kHex[byte >> 4]);
            uri.push_back(kHex[byte & 0xF]);
        }
    }
    return uri;
}

std::string DropFilesBlock(const std::vector<std::u16string> &files) {
    constexpr uint32_t kRecordSize = 20;
    std::string block;
    const auto put32 = [&](uint32_t value) {
        for (int shift = 0; shift < 32; shift += 8) {
            block.push_back(static_cast<char>((value >> shift) & 0xFF));
        }
    };
    const auto put16 = [&](char16_t unit) {
        block.push_back(static_cast<char>(unit & 0xFF));
        block.push_back(static_cast<char>(unit >> 8));
    };
    put32(kRecordSize); // pFiles: the list follows the record
    put32(0);           // pt.x
    put32(0);           // pt.y
    put32(0);           // fNC
    put32(1);           // fWide
    for (const auto &file : files) {
        for (const char16_t unit : file) {
            put16(unit);
        }
        put16(0);
    }
    put16(0);
    if (files.empty()) {
        put16(0);
    }
    return block;
}

int32_t CopyFileToClipboard(ClipboardSeam &clipboard, const char *ansiPath,
                            std::string_view currentFolder) {
    if (ansiPath == nullptr) {
        return 0;
    }
    return clipboard.PutFiles(ClipboardFileList(ansiPath, currentFolder)) ? 1 : 0;
}

} // namespace kestrun::shell
