// The profile files on Windows: wide-character paths; a write takes the writers' turn for the
// file, writes the new contents to a temporary file in the same folder and puts it in place with
// ReplaceFileW (or MoveFileExW where that cannot replace), so readers always see a complete file.
#include "kestrun/datastores/profile_file.h"

#include "kestrun/interop/codepage.h"

#include <windows.h>

#include <cstdint>
#include <cwchar>
#include <memory>
#include <string>

namespace kestrun::platform {
namespace {

using datastores::IniDocument;

struct HandleClose {
    void operator()(HANDLE h) const { CloseHandle(h); }
};
using UniqueHandle = std::unique_ptr<void, HandleClose>;

UniqueHandle Own(HANDLE h) {
    return UniqueHandle(h == INVALID_HANDLE_VALUE ? nullptr : h);
}

std::wstring WidePath(std::u16string_view file) {
    const std::u16string_view path = interop::UpToZero(file);
    return std::wstring(path.begin(), path.end());
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool ReadAll(HANDLE h, std::string &bytes) {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(h, &size) || size.QuadPart < 0 || size.QuadPart > (1LL << 31)) {
        return false;
    }
    LARGE_INTEGER start{};
    if (!SetFilePointerEx(h, start, nullptr, FILE_BEGIN)) {
        return false;
    }
    bytes.clear();
    bytes.reserve(static_cast<size_t>(size.QuadPart));
    char chunk[65536];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(h, chunk, sizeof chunk, &got, nullptr)) {
            return false;
        }
        if (got == 0) {
            return true;
        }
        bytes.append(chunk, got);
    }
}

bool WriteAll(HANDLE h, std::string_view bytes) {
    while (!bytes.empty()) {
        DWORD written = 0;
        const DWORD part =
            bytes.size() > 0x40000000u ? 0x40000000u : static_cast<DWORD>(bytes.size());
        if (!WriteFile(h, bytes.data(), part, &written, nullptr) || written == 0) {
            return false;
        }
        bytes.remove_prefix(written);
    }
    return true;
}

// Writers of one file, in this process and in others, take turns through a named mutex whose
// name comes from the file's full path (mutex names cannot hold the path itself). The file
// stays closed while it is replaced, which every file system allows.
class WriterTurn {
public:
    explicit WriterTurn(const std::wstring &path) {
        std::wstring full(32768, L'\0');
        const DWORD length =
            GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        full.resize(length > 0 && length < full.size() ? length : 0);
        if (full.empty()) {
            full = path;
        }
        CharLowerBuffW(full.data(), static_cast<DWORD>(full.size()));
        uint64_t hash = 14695981039346656037ull; // FNV-1a over the UTF-16 units
        for (const wchar_t c : full) {
            hash = (hash ^ static_cast<uint16_t>(c)) * 1099511628211ull;
        }
        wchar_t name[64];
        swprintf(name, 64, L"Local\\KestrunProfile-%016llx", static_cast<unsigned long long>(hash));
        mutex_ = Own(CreateMutexW(nullptr, FALSE, name));
        if (mutex_) {
            const DWORD wait = WaitForSingleObject(mutex_.get(), INFINITE);
            held_ = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
        }
    }
    ~WriterTurn() {
        if (held_) {
            ReleaseMutex(mutex_.get());
        }
    }
    WriterTurn(const WriterTurn &) = delete;
    WriterTurn &operator=(const WriterTurn &) = delete;
    bool held() const { return held_; }

private:
    UniqueHandle mutex_;
    bool held_ = false;
};

std::wstring FolderOf(const std::wstring &path) {
    const size_t slash = path.find_last_of(L"\\/");
    if (slash == std::wstring::npos) {
        return L".";
    }
    return path.substr(0, slash + 1);
}

// Writes `bytes` to a new file beside `target` and puts it in the place of `target`.
bool ReplaceContents(const std::wstring &target, std::string_view bytes, bool created) {
    wchar_t temp[MAX_PATH + 1] = {};
    if (GetTempFileNameW(FolderOf(target).c_str(), L"ini", 0, temp) == 0) {
        return false;
    }
    bool ok = false;
    {
        const UniqueHandle out = Own(CreateFileW(temp, GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING,
                                                 FILE_ATTRIBUTE_NORMAL, nullptr));
        ok = out && WriteAll(out.get(), bytes) && FlushFileBuffers(out.get());
    }
    if (ok) {
        ok = (!created && ReplaceFileW(target.c_str(), temp, nullptr,
                                       REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)) ||
             MoveFileExW(temp, target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    }
    if (!ok) {
        DeleteFileW(temp);
    }
    return ok;
}

} // namespace

std::optional<IniDocument> LoadProfileDocument(std::u16string_view file) {
    const std::wstring path = WidePath(file);
    if (path.empty()) {
        return std::nullopt;
    }
    const UniqueHandle h = Own(CreateFileW(path.c_str(), GENERIC_READ, kShareAll, nullptr,
                                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    std::string bytes;
    if (!h || GetFileType(h.get()) != FILE_TYPE_DISK || !ReadAll(h.get(), bytes)) {
        return std::nullopt;
    }
    return IniDocument::Parse(bytes);
}

bool UpdateProfileDocument(std::u16string_view file,
                           const std::function<bool(IniDocument &)> &modify) {
    const std::wstring path = WidePath(file);
    if (path.empty()) {
        return false;
    }
    const WriterTurn turn(path);
    if (!turn.held()) {
        return false;
    }
    std::string bytes;
    bool created = false;
    {
        // Opened for writing so that a file the caller may not write is refused.
        const UniqueHandle h =
            Own(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (h) {
            if (GetFileType(h.get()) != FILE_TYPE_DISK || !ReadAll(h.get(), bytes)) {
                return false;
            }
        } else if (GetLastError() == ERROR_FILE_NOT_FOUND) {
            created = true;
        } else {
            return false;
        }
    }
    IniDocument document = IniDocument::Parse(bytes);
    return modify(document) && ReplaceContents(path, document.Serialize(), created);
}

} // namespace kestrun::platform
