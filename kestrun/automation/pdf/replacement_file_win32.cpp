// The replacement file on Windows: created exclusively (CREATE_NEW) under its UTF-16 name,
// flushed to disk with FlushFileBuffers and put in place with MoveFileExW. Windows does not
// replace a file that is open (a viewer showing it, or a document still reading its pages): the
// save then fails and the file stays as it was.
#include "kestrun/automation/pdf/replacement_file.h"

#include "kestrun/interop/codepage.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

namespace kestrun::platform::pdf::replacement {
namespace {

std::wstring Wide(const std::string &localPath) {
    const std::u16string wide = interop::Utf8ToWide(localPath);
    return std::wstring(wide.begin(), wide.end());
}

} // namespace

std::FILE *CreateNew(const std::string &localPath, bool &taken) {
    const std::wstring name = Wide(localPath);
    HANDLE h = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    taken = h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS;
    if (h == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_WRONLY | _O_BINARY);
    if (fd < 0) {
        CloseHandle(h);
        DeleteFileW(name.c_str());
        return nullptr;
    }
    std::FILE *stream = _fdopen(fd, "wb");
    if (stream == nullptr) {
        _close(fd);
        DeleteFileW(name.c_str());
    }
    return stream;
}

bool MakeDurable(std::FILE *stream) {
    return std::fflush(stream) == 0 &&
           FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)))) != 0;
}

bool MoveOver(const std::string &from, const std::string &to) {
    return MoveFileExW(Wide(from).c_str(), Wide(to).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

} // namespace kestrun::platform::pdf::replacement
