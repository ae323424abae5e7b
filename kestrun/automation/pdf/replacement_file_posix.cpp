// The replacement file on POSIX: created exclusively beside the target, made durable with
// fsync and put in place with rename. Through symbolic links the file they lead to is replaced,
// so the links stay; a FIFO or a device is refused.
#include "kestrun/automation/pdf/replacement_file.h"

#include "kestrun/interop/regular_file_seam.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <random>
#include <stdexcept>
#include <unistd.h>
#include <utility>

namespace kestrun::platform::pdf {
namespace {

[[noreturn]] void Fail(const std::string &reason) {
    throw std::runtime_error(reason);
}

} // namespace

ReplacementFile::ReplacementFile(const std::string &localPath) {
    std::optional<std::string> resolved = ReplacementTarget(localPath);
    if (!resolved) {
        Fail("cannot replace " + localPath + ": not a regular file");
    }
    target_ = std::move(*resolved);
    std::filesystem::path folder = std::filesystem::path(target_).parent_path();
    if (folder.empty()) {
        folder = ".";
    }
    std::random_device random;
    for (int attempt = 0; attempt < 16 && stream_ == nullptr; ++attempt) {
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, ".~pdf%08x%08x.tmp", random(), random());
        std::string name = (folder / suffix).string();
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST) {
                continue;
            }
            Fail("cannot create a file in the folder of " + target_ + ": " + std::strerror(errno));
        }
        stream_ = ::fdopen(fd, "wb");
        if (stream_ == nullptr) {
            ::close(fd);
            ::unlink(name.c_str());
            Fail("cannot write " + name);
        }
        name_ = std::move(name);
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
        ::unlink(name_.c_str());
    }
}

void ReplacementFile::Commit() {
    std::FILE *stream = std::exchange(stream_, nullptr);
    if (stream == nullptr) {
        Fail("cannot write " + target_);
    }
    const bool flushed = std::fflush(stream) == 0 && ::fsync(::fileno(stream)) == 0;
    const bool closed = std::fclose(stream) == 0;
    if (!flushed || !closed) {
        Fail("cannot write " + target_ + ": " + std::strerror(errno));
    }
    if (std::rename(name_.c_str(), target_.c_str()) != 0) {
        Fail("cannot replace " + target_ + ": " + std::strerror(errno));
    }
    committed_ = true;
}

} // namespace kestrun::platform::pdf
