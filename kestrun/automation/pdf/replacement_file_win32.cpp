// The replacement file on Windows: created exclusively (CREATE_NEW) beside the target under a
// UTF-16 name, flushed to disk with FlushFileBuffers and put in place with MoveFileExW. A file
// that another program holds open without allowing its deletion (a viewer showing it, say)
// cannot be replaced: the save fails and the file stays as it was.
#include "kestrun/automation/pdf/replacement_file.h"

#include "kestrun/interop/codepage.h"
#include "kestrun/interop/regular_file_seam.h"

#include <windows.h>

#include <cwchar>
#include <fcntl.h>
#include <io.h>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <utility>

namespace kestrun::platform::pdf {
namespace {

[[noreturn]] void Fail(const std::string &reason) {
    throw std::runtime_error(reason);
}

std::wstring Wide(const std::string &localPath) {
    const std::u16string wide = interop::Utf8ToWide(localPath);
    return std::wstring(wide.begin(), wide.end());
}

std::string Local(const std::wstring &wide) {
    return interop::WideToUtf8(std::u16string(wide.begin(), wide.end()));
}

// The folder part of a path, with its separator ("" for a bare file name).
std::wstring FolderOf(const std::wstring &path) {
    const size_t cut = path.find_last_of(L"\\/:");
    return cut == std::wstring::npos ? std::wstring() : path.substr(0, cut + 1);
}

} // namespace

ReplacementFile::ReplacementFile(const std::string &localPath) {
    std::optional<std::string> resolved = ReplacementTarget(localPath);
    if (!resolved) {
        Fail("cannot replace " + localPath + ": not a regular file");
    }
    target_ = std::move(*resolved);
    const std::wstring folder = FolderOf(Wide(target_));
    std::random_device random;
    for (int attempt = 0; attempt < 16 && stream_ == nullptr; ++attempt) {
        wchar_t suffix[32];
        std::swprintf(suffix, 32, L".~pdf%08x%08x.tmp", random(), random());
        const std::wstring name = folder + suffix;
        HANDLE h = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            if (GetLastError() == ERROR_FILE_EXISTS) {
                continue;
            }
            Fail("cannot create a file in the folder of " + target_);
        }
        const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_WRONLY | _O_BINARY);
        if (fd < 0) {
            CloseHandle(h);
            DeleteFileW(name.c_str());
            Fail("cannot write in the folder of " + target_);
        }
        stream_ = _fdopen(fd, "wb");
        if (stream_ == nullptr) {
            _close(fd);
            DeleteFileW(name.c_str());
            Fail("cannot write in the folder of " + target_);
        }
        name_ = Local(name);
    }
    if (stream_ == nullptr) {
        Fail("cannot create a file in the folder of " + target_);
    }
}

ReplacementFile::~ReplacementFile() {
    if (stream_ != nullptr) {
        std::fclose(stream_);
    }
    if (!committed_ && !name_.empty()) {
        DeleteFileW(Wide(name_).c_str());
    }
}

void ReplacementFile::Commit() {
    std::FILE *stream = std::exchange(stream_, nullptr);
    if (stream == nullptr) {
        Fail("cannot write " + target_);
    }
    const bool flushed =
        std::fflush(stream) == 0 &&
        FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)))) != 0;
    const bool closed = std::fclose(stream) == 0;
    if (!flushed || !closed) {
        Fail("cannot write " + target_);
    }
    if (!MoveFileExW(Wide(name_).c_str(), Wide(target_).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        Fail("cannot replace " + target_ + " (error " + std::to_string(GetLastError()) + ")");
    }
    committed_ = true;
}

} // namespace kestrun::platform::pdf
