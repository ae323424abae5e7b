#include "kestrun/automation/scripting/textstream.h"

#include "kestrun/automation/scripting/args.h"
#include "kestrun/automation/scripting/fsutil.h"
#include "vbscript/ops.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace kestrun::scripting {

namespace err = vbscript::err;
using vbscript::Object;

namespace {

constexpr size_t kChunk = 64 * 1024;

// How the first bytes of a stream opened for reading are taken.
enum class Bom { Keep, Skip, Detect };

// ANSI bytes to UTF-16 through the host's code page. The conversion stops at a zero byte, so
// text is converted between zeros and the zeros kept as characters.
std::u16string FromAnsi(Interp &in, std::string_view bytes) {
    std::u16string out;
    size_t i = 0;
    while (i < bytes.size()) {
        size_t z = bytes.find('\0', i);
        if (z == std::string_view::npos)
            z = bytes.size();
        const std::string_view part = bytes.substr(i, z - i);
        if (in.fromAnsi) {
            out += in.fromAnsi(part);
        } else {
            for (char c : part)
                out += static_cast<char16_t>(static_cast<unsigned char>(c));
        }
        if (z < bytes.size())
            out += u'\0';
        i = z + 1;
    }
    return out;
}

// UTF-16 to ANSI bytes. A character the code page cannot hold raises error 5, as writing it to
// an ANSI file does on Windows, rather than being written as "?".
std::string ToAnsi(Interp &in, std::u16string_view text) {
    std::string out;
    size_t i = 0;
    while (i < text.size()) {
        size_t z = text.find(u'\0', i);
        if (z == std::u16string_view::npos)
            z = text.size();
        const std::u16string_view part = text.substr(i, z - i);
        if (in.toAnsi) {
            std::string bytes = in.toAnsi(part);
            if (in.fromAnsi && in.fromAnsi(bytes) != part)
                fs::Raise(err::InvalidCall);
            out += bytes;
        } else {
            for (char16_t c : part) {
                if (c > 0xFF)
                    fs::Raise(err::InvalidCall);
                out += static_cast<char>(c);
            }
        }
        if (z < text.size())
            out += '\0';
        i = z + 1;
    }
    return out;
}

// A file descriptor that closes itself unless handed over.
struct UniqueFd {
    int fd = -1;
    explicit UniqueFd(int f) : fd(f) {}
    UniqueFd(const UniqueFd &) = delete;
    UniqueFd &operator=(const UniqueFd &) = delete;
    ~UniqueFd() {
        if (fd >= 0)
            ::close(fd);
    }
    int release() { return std::exchange(fd, -1); }
};

class TextStream final : public Object {
public:
    TextStream(int fd, bool owned, IoMode mode, bool unicode, Bom bom, std::string path)
        : fd_(fd), owned_(owned), mode_(mode), unicode_(unicode), bom_(bom),
          path_(std::move(path)) {}
    ~TextStream() override {
        try {
            flush();
        } catch (...) { // nowhere to report it: the script dropped the stream without Close
        }
        if (owned_ && fd_ >= 0)
            ::close(fd_);
    }

    std::u16string typeName() const override { return u"TextStream"; }

    Value get(Interp &in, std::u16string_view name, Args args) override {
        if (name == u"close") {
            CheckArgCount(args, 0, 0);
            close();
            return {};
        }
        if (fd_ < 0)
            fs::Raise(err::BadFileName);
        if (name == u"line") {
            CheckArgCount(args, 0, 0);
            return Count(line_);
        }
        if (name == u"column") {
            CheckArgCount(args, 0, 0);
            return Count(column_);
        }
        if (name == u"write" || name == u"writeline") {
            const bool line = name == u"writeline";
            CheckArgCount(args, line ? 0 : 1, 1);
            std::u16string text = ArgText(in, args, 0);
            if (line)
                text += u"\r\n";
            write(in, text);
            return {};
        }
        if (name == u"writeblanklines") {
            CheckArgCount(args, 1, 1);
            const int32_t n = ArgLong(in, args, 0);
            if (n < 0)
                fs::Raise(err::InvalidCall);
            std::u16string text;
            for (int32_t i = 0; i < n; ++i) {
                vbscript::checkJoinedLength(text.size(), 2);
                text += u"\r\n";
            }
            write(in, text);
            return {};
        }
        if (name == u"atendofstream") {
            CheckArgCount(args, 0, 0);
            requireRead();
            return Value::boolean(!fill(in, 1));
        }
        if (name == u"atendofline") {
            CheckArgCount(args, 0, 0);
            requireRead();
            return Value::boolean(!fill(in, 1) || IsBreak(buf_[pos_]));
        }
        if (name == u"readline" || name == u"skipline") {
            CheckArgCount(args, 0, 0);
            requireRead();
            std::u16string line = readLine(in, name == u"readline");
            return name == u"readline" ? Value::str(std::move(line)) : Value();
        }
        if (name == u"read" || name == u"skip") {
            CheckArgCount(args, 1, 1);
            requireRead();
            const int32_t n = ArgLong(in, args, 0);
            if (n < 0)
                fs::Raise(err::InvalidCall);
            if (n == 0)
                return name == u"read" ? Value::str(u"") : Value();
            if (!fill(in, 1))
                fs::Raise(err::PastEndOfFile);
            std::u16string text = take(in, static_cast<size_t>(n), name == u"read");
            return name == u"read" ? Value::str(std::move(text)) : Value();
        }
        if (name == u"readall") {
            CheckArgCount(args, 0, 0);
            requireRead();
            if (!fill(in, 1))
                fs::Raise(err::PastEndOfFile);
            return Value::str(take(in, SIZE_MAX, true));
        }
        vbscript::raise(err::NoMember);
    }

private:
    static bool IsBreak(char16_t c) { return c == u'\r' || c == u'\n'; }
    static Value Count(int64_t n) {
        return n <= 0x7FFFFFFF ? Value::lng(static_cast<int32_t>(n))
                               : Value::dbl(static_cast<double>(n));
    }

    void requireRead() const {
        if (mode_ != IoMode::Read)
            fs::Raise(err::BadFileMode);
    }

    // Line and Column after the character `c` went by; CR, LF and CR LF each end one line.
    void advance(char16_t c) {
        if (c == u'\n') {
            if (!afterCr_)
                ++line_;
            column_ = 1;
            afterCr_ = false;
        } else if (c == u'\r') {
            ++line_;
            column_ = 1;
            afterCr_ = true;
        } else {
            ++column_;
            afterCr_ = false;
        }
    }

    // Makes at least `n` decoded characters available after the read position; false when the
    // file ends first.
    bool fill(Interp &in, size_t n) {
        while (buf_.size() - pos_ < n && !eof_) {
            if (pos_ >= kChunk) {
                buf_.erase(0, pos_);
                pos_ = 0;
            }
            const size_t had = raw_.size();
            raw_.resize(had + kChunk);
            ssize_t got;
            do {
                got = ::read(fd_, raw_.data() + had, kChunk);
            } while (got < 0 && errno == EINTR);
            raw_.resize(had + static_cast<size_t>(got < 0 ? 0 : got));
            if (got < 0)
                fs::RaiseErrno(errno, path_, err::FileNotFound);
            if (got == 0)
                eof_ = true;
            decode(in);
        }
        return buf_.size() - pos_ >= n;
    }

    void decode(Interp &in) {
        if (!started_) {
            if (raw_.size() < 2 && !eof_)
                return;
            started_ = true;
            if (bom_ != Bom::Keep && raw_.size() >= 2 && raw_[0] == '\xFF' && raw_[1] == '\xFE') {
                raw_.erase(0, 2);
                unicode_ = true;
            }
        }
        if (unicode_) {
            const size_t n = raw_.size() & ~size_t{1}; // an odd last byte at the end is dropped
            vbscript::checkJoinedLength(buf_.size(), n / 2);
            for (size_t i = 0; i < n; i += 2)
                buf_ += static_cast<char16_t>(static_cast<unsigned char>(raw_[i]) |
                                              static_cast<unsigned char>(raw_[i + 1]) << 8);
            raw_.erase(0, eof_ ? raw_.size() : n);
            return;
        }
        // Only whole characters: a lead byte (81-FE) takes the byte after it.
        size_t end = 0;
        while (end < raw_.size()) {
            const auto b = static_cast<unsigned char>(raw_[end]);
            if (b >= 0x81 && b <= 0xFE) {
                if (end + 1 >= raw_.size())
                    break;
                end += 2;
            } else {
                ++end;
            }
        }
        if (eof_)
            end = raw_.size();
        std::u16string text = FromAnsi(in, std::string_view(raw_).substr(0, end));
        vbscript::checkJoinedLength(buf_.size(), text.size());
        buf_ += text;
        raw_.erase(0, end);
    }

    // Up to `n` characters from the read position (all that is left for SIZE_MAX).
    std::u16string take(Interp &in, size_t n, bool keep) {
        std::u16string out;
        while (n > 0 && fill(in, 1)) {
            const size_t k = std::min(n, buf_.size() - pos_);
            if (keep) {
                vbscript::checkJoinedLength(out.size(), k);
                out.append(buf_, pos_, k);
            }
            for (size_t i = 0; i < k; ++i)
                advance(buf_[pos_ + i]);
            pos_ += k;
            n -= k;
        }
        return out;
    }

    std::u16string readLine(Interp &in, bool keep) {
        if (!fill(in, 1))
            fs::Raise(err::PastEndOfFile);
        std::u16string line;
        while (fill(in, 1)) {
            const size_t stop = buf_.find_first_of(u"\r\n", pos_);
            const size_t k = (stop == std::u16string::npos ? buf_.size() : stop) - pos_;
            if (k > 0) {
                if (keep) {
                    vbscript::checkJoinedLength(line.size(), k);
                    line.append(buf_, pos_, k);
                }
                column_ += static_cast<int64_t>(k);
                afterCr_ = false;
                pos_ += k;
            }
            if (stop != std::u16string::npos) {
                const char16_t c = buf_[pos_++];
                advance(c);
                if (c == u'\r' && fill(in, 1) && buf_[pos_] == u'\n')
                    advance(buf_[pos_++]);
                break;
            }
        }
        return line;
    }

    void write(Interp &in, std::u16string_view text) {
        if (mode_ == IoMode::Read)
            fs::Raise(err::BadFileMode);
        if (unicode_) {
            for (char16_t c : text) {
                out_ += static_cast<char>(c & 0xFF);
                out_ += static_cast<char>(c >> 8);
            }
        } else {
            out_ += ToAnsi(in, text);
        }
        for (char16_t c : text)
            advance(c);
        if (out_.size() >= kChunk || !owned_)
            flush();
    }

    // Writes what is buffered; on failure the buffered text is dropped and the error raised.
    void flush() {
        size_t done = 0;
        while (done < out_.size()) {
            const ssize_t n = ::write(fd_, out_.data() + done, out_.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                const int e = errno;
                out_.clear();
                fs::RaiseErrno(e, path_, err::FileNotFound);
            }
            done += static_cast<size_t>(n);
        }
        out_.clear();
    }

    void close() {
        if (fd_ < 0)
            return;
        struct Closer {
            TextStream &s;
            ~Closer() {
                if (s.owned_)
                    ::close(s.fd_);
                s.fd_ = -1;
            }
        } closer{*this};
        flush();
    }

    int fd_;
    bool owned_;
    IoMode mode_;
    bool unicode_;
    Bom bom_;
    std::string path_;

    std::string raw_;    // bytes read but not yet decoded (part of a character)
    std::u16string buf_; // decoded characters; pos_ is the read position
    size_t pos_ = 0;
    bool eof_ = false;
    bool started_ = false; // the byte-order mark has been looked at

    std::string out_; // encoded text not yet written

    int64_t line_ = 1, column_ = 1;
    bool afterCr_ = false;
};

bool StartsWithBom(const std::string &path) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    unsigned char head[2] = {0, 0};
    return fd.fd >= 0 && ::read(fd.fd, head, 2) == 2 && head[0] == 0xFF && head[1] == 0xFE;
}

} // namespace

Value OpenTextStream(const std::string &path, int32_t ioMode, bool create, int32_t format) {
    if (ioMode != 1 && ioMode != 2 && ioMode != 8)
        fs::Raise(err::InvalidCall);
    if (format != 0 && format != -1 && format != -2)
        fs::Raise(err::InvalidCall);
    const auto mode = static_cast<IoMode>(ioMode);
    int flags = O_CLOEXEC | (create ? O_CREAT : 0);
    flags |= mode == IoMode::Read    ? O_RDONLY
             : mode == IoMode::Write ? O_WRONLY | O_TRUNC
                                     : O_WRONLY | O_APPEND;
    UniqueFd fd(::open(path.c_str(), flags, 0666));
    if (fd.fd < 0)
        fs::RaiseErrno(errno, path, err::FileNotFound);
    struct stat st {};
    if (fstat(fd.fd, &st) != 0 || S_ISDIR(st.st_mode))
        fs::Raise(err::PermissionDenied);
    bool unicode = format == -1;
    bool writeBom = false;
    Bom bom = Bom::Keep;
    if (mode == IoMode::Read) {
        bom = format == -1 ? Bom::Skip : format == -2 ? Bom::Detect : Bom::Keep;
    } else if (mode == IoMode::Write) {
        writeBom = unicode;
    } else {
        if (format == -2 && st.st_size >= 2 && StartsWithBom(path))
            unicode = true;
        writeBom = unicode && st.st_size == 0;
    }
    if (writeBom && ::write(fd.fd, "\xFF\xFE", 2) != 2)
        fs::RaiseErrno(errno, path, err::FileNotFound);
    return Value::object(new TextStream(fd.release(), true, mode, unicode, bom, path));
}

Value CreateTextStream(const std::string &path, bool overwrite, bool unicode) {
    const int flags = O_CLOEXEC | O_WRONLY | O_CREAT | (overwrite ? O_TRUNC : O_EXCL);
    UniqueFd fd(::open(path.c_str(), flags, 0666));
    if (fd.fd < 0)
        fs::RaiseErrno(errno, path, err::FileNotFound);
    if (unicode && ::write(fd.fd, "\xFF\xFE", 2) != 2)
        fs::RaiseErrno(errno, path, err::FileNotFound);
    return Value::object(
        new TextStream(fd.release(), true, IoMode::Write, unicode, Bom::Keep, path));
}

Value StandardStream(int32_t which, bool unicode) {
    if (which < 0 || which > 2)
        fs::Raise(err::InvalidCall);
    const IoMode mode = which == 0 ? IoMode::Read : IoMode::Write;
    return Value::object(new TextStream(which, false, mode, unicode,
                                        unicode ? Bom::Skip : Bom::Keep, std::string()));
}

} // namespace kestrun::scripting
