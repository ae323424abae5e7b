// ADODB.Stream: a growable buffer of bytes with a position, read and written as bytes (Type 1) or
// as text in a character set (Type 2), loaded from and saved to files.
//
// Errors carry ADO's numbers (3001 bad argument, 3002 file not opened, 3004 write to file failed,
// 3219 not allowed in this context, 3704 closed, 3705 open) with Err.Source "ADODB.Stream": a
// script sees them in Err.Number as these plain numbers, as it does on Windows.
#include "kestrun/automation/scripting/args.h"
#include "kestrun/automation/scripting/bytes.h"
#include "kestrun/automation/scripting/objects.h"
#include "kestrun/automation/scripting/text_codec.h"
#include "kestrun/interop/codepage.h"
#include "vbscript/ops.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string>

namespace kestrun::scripting {

namespace {

using vbscript::Object;

constexpr std::u16string_view kSource = u"ADODB.Stream";

constexpr int32_t kBadArguments = 3001;
constexpr int32_t kFileNotOpened = 3002;
constexpr int32_t kWriteFailed = 3004;
constexpr int32_t kNotAllowed = 3219;
constexpr int32_t kClosed = 3704;
constexpr int32_t kAlreadyOpen = 3705;

[[noreturn]] void Fail(int32_t number) {
    const char16_t *text = u"";
    switch (number) {
    case kBadArguments:
        text = u"Arguments are of the wrong type, are out of acceptable range, or are in "
               u"conflict with one another.";
        break;
    case kFileNotOpened:
        text = u"File could not be opened.";
        break;
    case kWriteFailed:
        text = u"Write to file failed.";
        break;
    case kNotAllowed:
        text = u"Operation is not allowed in this context.";
        break;
    case kClosed:
        text = u"Operation is not allowed when the object is closed.";
        break;
    case kAlreadyOpen:
        text = u"Operation is not allowed when the object is open.";
        break;
    }
    RaiseFrom(kSource, number, text);
}

// The most a stream grows to by writing (1 GiB).
constexpr size_t kMaxBytes = size_t{1} << 30;

constexpr int32_t kModeRead = 1;
constexpr int32_t kTypeBinary = 1;
constexpr int32_t kTypeText = 2;
constexpr int32_t kReadAll = -1;
constexpr int32_t kReadLine = -2;
constexpr int32_t kWriteLine = 1;
constexpr int32_t kSaveCreateNotExist = 1;
constexpr int32_t kSaveCreateOverWrite = 2;

// A file descriptor closed with its owner.
class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int get() const { return fd_; }
    // Closes now, reporting whether everything written reached the file system.
    bool Close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

private:
    int fd_;
};

std::string PathOf(std::u16string_view path) {
    return interop::WideToUtf8(path);
}

Value Number(size_t n) {
    return n <= static_cast<size_t>(INT32_MAX) ? Value::lng(static_cast<int32_t>(n))
                                               : Value::dbl(static_cast<double>(n));
}

class AdoStream final : public Object {
public:
    std::u16string typeName() const override { return u"Stream"; }

    Value get(Interp &in, std::u16string_view name, Args args) override {
        if (name == u"type")
            return Value::lng(type_);
        if (name == u"charset")
            return Value::str(charsetName_);
        if (name == u"mode")
            return Value::lng(mode_);
        if (name == u"lineseparator")
            return Value::lng(lineSeparator_);
        if (name == u"state")
            return Value::lng(open_ ? 1 : 0);
        if (name == u"open") {
            CheckArgCount(args, 0, 5);
            if (open_)
                Fail(kAlreadyOpen);
            // Only a new, empty stream can be opened: a source (a record or a URL) needs a
            // provider that this system does not have.
            if (HasArg(args, 0) && !args[0]->isEmpty() &&
                !(args[0]->isString() && args[0]->s().empty()))
                Fail(kBadArguments);
            if (HasArg(args, 1))
                mode_ = ArgLong(in, args, 1);
            open_ = true;
            data_.clear();
            position_ = 0;
            return {};
        }
        if (name == u"close") {
            CheckArgCount(args, 0, 0);
            RequireOpen();
            open_ = false;
            data_.clear();
            data_.shrink_to_fit();
            position_ = 0;
            return {};
        }
        if (name == u"flush") {
            CheckArgCount(args, 0, 0);
            RequireOpen();
            return {};
        }
        RequireOpen();
        if (name == u"size")
            return Number(data_.size());
        if (name == u"position")
            return Number(position_);
        if (name == u"eos")
            return Value::boolean(position_ >= data_.size());
        if (name == u"seteos") {
            CheckArgCount(args, 0, 0);
            data_.resize(position_);
            return {};
        }
        if (name == u"read") {
            CheckArgCount(args, 0, 1);
            if (type_ != kTypeBinary)
                Fail(kNotAllowed);
            const int32_t count = ArgLong(in, args, 0, kReadAll);
            if (count < kReadAll)
                Fail(kBadArguments);
            const size_t left = data_.size() - position_;
            const size_t n = count == kReadAll ? left : std::min<size_t>(left, count);
            if (n == 0)
                return Value::null();
            Value out = MakeByteArray(std::string_view(data_).substr(position_, n));
            position_ += n;
            return out;
        }
        if (name == u"write") {
            CheckArgCount(args, 1, 1);
            // Bytes written to a new, empty text stream make it a binary one.
            if (type_ == kTypeText && data_.empty())
                type_ = kTypeBinary;
            if (type_ != kTypeBinary)
                Fail(kNotAllowed);
            std::optional<std::string> bytes = BytesOf(*args[0]);
            if (!bytes)
                Fail(kBadArguments);
            WriteBytes(*bytes);
            return {};
        }
        if (name == u"readtext") {
            CheckArgCount(args, 0, 1);
            if (type_ != kTypeText)
                Fail(kNotAllowed);
            const int32_t count = ArgLong(in, args, 0, kReadAll);
            if (count < kReadLine)
                Fail(kBadArguments);
            // Nothing left to read (past a byte-order mark at the start): Null, as Read gives.
            const std::string_view bom = ByteOrderMark(charset_);
            if (position_ >= data_.size() || (position_ == 0 && !bom.empty() && data_ == bom))
                return Value::null();
            return Value::str(ReadText(count));
        }
        if (name == u"writetext") {
            CheckArgCount(args, 1, 2);
            if (type_ != kTypeText)
                Fail(kNotAllowed);
            const std::u16string text = ArgText(in, args, 0);
            const int32_t option = ArgLong(in, args, 1, 0);
            if (option != 0 && option != kWriteLine)
                Fail(kBadArguments);
            std::string bytes;
            if (position_ == 0)
                bytes = ByteOrderMark(charset_);
            bytes += EncodeText(charset_, text);
            if (option == kWriteLine)
                bytes += LineSeparatorBytes(charset_, lineSeparator_);
            WriteBytes(bytes);
            return {};
        }
        if (name == u"skipline") {
            CheckArgCount(args, 0, 0);
            if (type_ != kTypeText)
                Fail(kNotAllowed);
            ReadText(kReadLine);
            return {};
        }
        if (name == u"loadfromfile") {
            CheckArgCount(args, 1, 1);
            LoadFromFile(ArgText(in, args, 0));
            return {};
        }
        if (name == u"savetofile") {
            CheckArgCount(args, 1, 2);
            const int32_t options = ArgLong(in, args, 1, kSaveCreateNotExist);
            if (options != kSaveCreateNotExist && options != kSaveCreateOverWrite)
                Fail(kBadArguments);
            SaveToFile(ArgText(in, args, 0), options == kSaveCreateOverWrite);
            return {};
        }
        if (name == u"copyto") {
            CheckArgCount(args, 1, 2);
            auto *dest = args[0]->isObject() ? dynamic_cast<AdoStream *>(args[0]->o()) : nullptr;
            if (!dest)
                Fail(kBadArguments);
            if (!dest->open_)
                Fail(kClosed);
            const int32_t count = ArgLong(in, args, 1, kReadAll);
            if (count < kReadAll)
                Fail(kBadArguments);
            const std::string_view rest = std::string_view(data_).substr(position_);
            size_t n = rest.size();
            if (count != kReadAll)
                n = type_ == kTypeText ? BytesOfChars(charset_, rest, static_cast<size_t>(count))
                                       : std::min<size_t>(n, static_cast<size_t>(count));
            // Copied before writing: the destination may be this stream itself.
            const std::string bytes(rest.substr(0, n));
            position_ += n;
            dest->WriteBytes(bytes);
            return {};
        }
        throw vbscript::ScriptError(vbscript::err::NoMember,
                                    vbscript::errorDescription(vbscript::err::NoMember) +
                                        u": 'Stream." + std::u16string(name) + u"'");
    }

    void put(Interp &in, std::u16string_view name, Args args, const Value &v, bool isSet) override {
        if (isSet || !args.empty())
            vbscript::raise(vbscript::err::WrongArgs);
        if (name == u"type") {
            const int32_t type = vbscript::toLong(in, v);
            if ((type != kTypeBinary && type != kTypeText) || (open_ && position_ != 0))
                Fail(kBadArguments);
            type_ = type;
            return;
        }
        if (name == u"charset") {
            const std::u16string text = vbscript::toStr(in, v);
            std::optional<Charset> set = CharsetNamed(text);
            if (!set || (open_ && position_ != 0))
                Fail(kBadArguments);
            charset_ = *set;
            charsetName_ = text;
            return;
        }
        if (name == u"mode") {
            if (open_)
                Fail(kAlreadyOpen);
            mode_ = vbscript::toLong(in, v);
            return;
        }
        if (name == u"lineseparator") {
            const int32_t sep = vbscript::toLong(in, v);
            if (sep != -1 && sep != 10 && sep != 13)
                Fail(kBadArguments);
            lineSeparator_ = sep;
            return;
        }
        if (name == u"position") {
            RequireOpen();
            const double at = vbscript::toDouble(in, v);
            if (!(at >= 0) || at > static_cast<double>(kMaxBytes))
                Fail(kBadArguments);
            position_ = static_cast<size_t>(at);
            // Past the end: a stream that can be written grows with zero bytes up to the
            // position; a read-only one (Mode 1) keeps its size, and reads there find its end.
            if (position_ > data_.size()) {
                if (mode_ == kModeRead)
                    position_ = data_.size();
                else
                    data_.resize(position_, '\0');
            }
            return;
        }
        if (name == u"size" || name == u"eos" || name == u"state")
            vbscript::raise(vbscript::err::IllegalAssign);
        throw vbscript::ScriptError(vbscript::err::NoMember,
                                    vbscript::errorDescription(vbscript::err::NoMember) +
                                        u": 'Stream." + std::u16string(name) + u"'");
    }

private:
    void RequireOpen() const {
        if (!open_)
            Fail(kClosed);
    }

    // Writes over the bytes at the position and past the end, leaving later bytes in place.
    void WriteBytes(std::string_view bytes) {
        if (bytes.size() > kMaxBytes || position_ > kMaxBytes - bytes.size())
            vbscript::raise(vbscript::err::OutOfMemory);
        const size_t end = position_ + bytes.size();
        if (end > data_.size())
            data_.resize(end);
        data_.replace(position_, bytes.size(), bytes);
        position_ = end;
    }

    std::u16string ReadText(int32_t count) {
        size_t at = position_;
        const std::string_view bom = ByteOrderMark(charset_);
        if (at == 0 && !bom.empty() && std::string_view(data_).starts_with(bom))
            at = bom.size();
        const std::string_view rest = std::string_view(data_).substr(at);
        size_t take = rest.size(), skip = 0;
        if (count == kReadLine) {
            const std::string sep = LineSeparatorBytes(charset_, lineSeparator_);
            size_t found = rest.find(sep);
            // In UTF-16 a separator starts on a unit boundary.
            while (found != std::string_view::npos && charset_ == Charset::Utf16Le && found % 2)
                found = rest.find(sep, found + 1);
            if (found != std::string_view::npos) {
                take = found;
                skip = sep.size();
            }
        } else if (count != kReadAll) {
            take = BytesOfChars(charset_, rest, static_cast<size_t>(count));
        }
        position_ = at + take + skip;
        return DecodeText(charset_, rest.substr(0, take));
    }

    void LoadFromFile(std::u16string_view path) {
        Fd fd(::open(PathOf(path).c_str(), O_RDONLY | O_CLOEXEC));
        struct stat st {};
        if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || S_ISDIR(st.st_mode))
            Fail(kFileNotOpened);
        std::string bytes;
        char chunk[65536];
        for (;;) {
            const ssize_t n = ::read(fd.get(), chunk, sizeof chunk);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                Fail(kFileNotOpened);
            if (n == 0)
                break;
            // A file (or a device such as /dev/zero) larger than a stream may grow to.
            if (bytes.size() + static_cast<size_t>(n) > kMaxBytes)
                vbscript::raise(vbscript::err::OutOfMemory);
            bytes.append(chunk, static_cast<size_t>(n));
        }
        data_ = std::move(bytes);
        position_ = 0;
    }

    // The whole stream, whatever the position, into a new file or over an existing one.
    void SaveToFile(std::u16string_view path, bool overwrite) {
        const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (overwrite ? O_TRUNC : O_EXCL);
        Fd fd(::open(PathOf(path).c_str(), flags, 0666));
        if (fd.get() < 0)
            Fail(kWriteFailed);
        size_t done = 0;
        while (done < data_.size()) {
            const ssize_t n = ::write(fd.get(), data_.data() + done, data_.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                Fail(kWriteFailed);
            done += static_cast<size_t>(n);
        }
        if (!fd.Close())
            Fail(kWriteFailed);
    }

    int32_t type_ = kTypeText;
    Charset charset_ = Charset::Utf16Le;
    std::u16string charsetName_ = u"Unicode";
    int32_t mode_ = 0;
    int32_t lineSeparator_ = -1;
    bool open_ = false;
    std::string data_;
    size_t position_ = 0;
};

} // namespace

Value NewAdoStream(Interp &) {
    return Value::object(new AdoStream);
}

} // namespace kestrun::scripting
