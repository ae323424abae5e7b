// The profile files on Windows: wide-character paths; a write locks the file, writes the new
// contents to a temporary file in the same folder and puts it in place with ReplaceFileW (or
// MoveFileExW for a file this write created), so readers always see a complete file.
#include "kestrun/datastores/profile_file.h"

#include "kestrun/interop/codepage.h"

#include <windows.h>

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

bool SameFile(HANDLE held, const std::wstring &path) {
    const UniqueHandle current = Own(CreateFileW(path.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    BY_HANDLE_FILE_INFORMATION a{};
    BY_HANDLE_FILE_INFORMATION b{};
    return current && GetFileInformationByHandle(held, &a) &&
           GetFileInformationByHandle(current.get(), &b) &&
           a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
           a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}

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
    // Writers retry when the file they locked was replaced while they waited for the lock.
    for (int attempt = 0; attempt < 1000; ++attempt) {
        bool created = false;
        // Opened for writing so that a file the caller may not write is refused.
        UniqueHandle h = Own(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll,
                                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!h) {
            if (GetLastError() != ERROR_FILE_NOT_FOUND) {
                return false;
            }
            h = Own(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr,
                                CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
            if (!h) {
                if (GetLastError() == ERROR_FILE_EXISTS) {
                    continue;
                }
                return false;
            }
            created = true;
        }
        const auto fail = [&] {
            if (created) {
                DeleteFileW(path.c_str()); // the empty file this call made for its lock
            }
            return false;
        };
        // The lock covers one byte far beyond any content, so readers are never blocked.
        OVERLAPPED at{};
        at.Offset = 0xFFFFFFFEu;
        at.OffsetHigh = 0x7FFFFFFFu;
        if (!LockFileEx(h.get(), LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at)) {
            return fail();
        }
        if (!SameFile(h.get(), path)) {
            continue; // another writer replaced (or removed) it meanwhile: start again
        }
        std::string bytes;
        if (GetFileType(h.get()) != FILE_TYPE_DISK || !ReadAll(h.get(), bytes)) {
            return fail();
        }
        IniDocument document = IniDocument::Parse(bytes);
        if (!modify(document) || !ReplaceContents(path, document.Serialize(), created)) {
            return fail();
        }
        return true;
    }
    return false;
}

} // namespace kestrun::platform
