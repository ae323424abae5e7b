// A reader on a FIFO, for tests of exports that write into one: it opens the FIFO for reading
// (so that a writer's open succeeds), keeps a writer of its own until Finish (so that reading
// waits for data rather than ending before the export opens the FIFO), and drains everything
// written on a thread of its own (so that a writer never blocks on a full pipe). POSIX only.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <thread>

namespace testfiles {

class FifoReader {
public:
    explicit FifoReader(const std::string &path) {
        reader_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (reader_ < 0) {
            return;
        }
        holder_ = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        ::fcntl(reader_, F_SETFL, ::fcntl(reader_, F_GETFL) & ~O_NONBLOCK);
        thread_ = std::thread([this] {
            char buffer[65536];
            ssize_t n;
            while ((n = ::read(reader_, buffer, sizeof buffer)) > 0) {
                data_.append(buffer, static_cast<size_t>(n));
            }
        });
    }
    ~FifoReader() { Finish(); }
    FifoReader(const FifoReader &) = delete;
    FifoReader &operator=(const FifoReader &) = delete;

    bool reading() const { return reader_ >= 0 && holder_ >= 0; }

    // Everything written until now, once the writers have closed the FIFO.
    std::string Finish() {
        if (holder_ >= 0) {
            ::close(holder_);
            holder_ = -1;
        }
        if (thread_.joinable()) {
            thread_.join();
        }
        if (reader_ >= 0) {
            ::close(reader_);
            reader_ = -1;
        }
        return data_;
    }

private:
    int reader_ = -1;
    int holder_ = -1;
    std::string data_;
    std::thread thread_;
};

} // namespace testfiles
