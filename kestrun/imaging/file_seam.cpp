#include "kestrun/imaging/file_seam.h"

#include "kestrun/interop/codepage.h"
#include "kestrun/interop/regular_file_seam.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrun::imaging::files {

std::string LocalPath(std::string_view ansiPath) {
    return interop::AnsiToUtf8(ansiPath);
}

std::string LocalPath(std::u16string_view widePath) {
    return interop::WideToUtf8(widePath);
}

bool Exists(std::string_view ansiPath) {
    const std::string local = LocalPath(ansiPath);
    if (local.empty()) {
        return false;
    }
    struct stat st {};
    return ::stat(local.c_str(), &st) == 0;
}

std::optional<std::string> ReadAll(const std::string &localPath, size_t maxBytes) {
    if (localPath.empty()) {
        return std::nullopt;
    }
    const platform::FileHandle fd = platform::OpenRegularForReading(localPath);
    if (!fd) {
        return std::nullopt;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || static_cast<uint64_t>(st.st_size) > maxBytes) {
        return std::nullopt;
    }
    std::string content(static_cast<size_t>(st.st_size), '\0');
    size_t done = 0;
    while (done < content.size()) {
        const ssize_t n = ::read(fd.get(), content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break; // the file shrank or failed: keep what was read
        }
        done += static_cast<size_t>(n);
    }
    content.resize(done);
    return content;
}

Writer::Writer(const std::string &localPath)
    : fd_(platform::OpenRegularForWriting(localPath, true).Release()) {}

Writer::~Writer() {
    Close();
}

bool Writer::Write(std::string_view bytes) {
    if (fd_ < 0) {
        return false;
    }
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

bool Writer::Close() {
    if (fd_ < 0) {
        return true;
    }
    const int rc = ::close(fd_);
    fd_ = -1;
    return rc == 0;
}

bool WriteAll(const std::string &localPath, std::string_view bytes) {
    Writer writer(localPath);
    if (!writer.IsOpen()) {
        return false;
    }
    const bool written = writer.Write(bytes);
    return writer.Close() && written;
}

void Remove(const std::string &localPath) {
    if (!localPath.empty()) {
        ::unlink(localPath.c_str());
    }
}

} // namespace kestrun::imaging::files
