// WScript.Shell: environment variables, the current directory and running programs.
//
// Changes a script makes to its environment and current directory are kept per script engine
// (process_view.h) and given to the programs it starts, rather than made to the host process,
// whose other threads may be running scripts of their own. Programs run through /bin/sh -c; the
// window style argument of Run has no meaning here and is accepted and ignored.
#include "kestrun/automation/http/charset.h"
#include "kestrun/automation/scripting/args.h"
#include "kestrun/automation/scripting/child_process.h"
#include "kestrun/automation/scripting/objects.h"
#include "kestrun/automation/scripting/text_codec.h"
#include "kestrun/interop/codepage.h"
#include "vbscript/ops.h"

#include <cerrno>
#include <cstring>

namespace kestrun::scripting {

namespace {

using interop::Utf8ToWide;
using interop::WideToUtf8;
using vbscript::Object;
using vbscript::ScriptError;

[[noreturn]] void NoMember(std::u16string_view type, std::u16string_view name) {
    throw ScriptError(vbscript::err::NoMember, vbscript::errorDescription(vbscript::err::NoMember) +
                                                   u": '" + std::u16string(type) + u"." +
                                                   std::u16string(name) + u"'");
}

// A system error as the HRESULT Windows reports for it (FACILITY_WIN32), with its text.
[[noreturn]] void RaiseSystem(std::u16string_view source, int number) {
    switch (number) {
    case ENOENT:
        RaiseFrom(source, static_cast<int32_t>(0x80070002),
                  u"The system cannot find the file specified.");
    case ENOTDIR:
        RaiseFrom(source, static_cast<int32_t>(0x80070003),
                  u"The system cannot find the path specified.");
    case EACCES:
    case EPERM:
        RaiseFrom(source, static_cast<int32_t>(0x80070005), u"Access is denied.");
    case EINVAL:
        RaiseFrom(source, static_cast<int32_t>(0x80070057), u"The parameter is incorrect.");
    default:
        RaiseFrom(source, static_cast<int32_t>(0x80004005),
                  u"Unspecified error: " + Utf8ToWide(std::strerror(number)));
    }
}

// Output of a program as text: UTF-8 when it is valid UTF-8, else code page 936.
std::u16string OutputText(std::string_view bytes) {
    return DecodeText(http::IsValidUtf8(bytes) ? Charset::Utf8 : Charset::Gbk, bytes);
}

// Replaces %NAME% with the variable's value; a name without a value stays as written.
std::u16string Expand(const ProcessView &view, std::u16string_view text) {
    std::u16string out;
    size_t at = 0;
    while (at < text.size()) {
        const size_t open = text.find(u'%', at);
        if (open == std::u16string_view::npos)
            break;
        const size_t close = text.find(u'%', open + 1);
        if (close == std::u16string_view::npos)
            break;
        out.append(text.substr(at, open - at));
        const std::u16string_view name = text.substr(open + 1, close - open - 1);
        std::optional<std::string> value;
        if (!name.empty())
            value = view.Get(WideToUtf8(name));
        if (value) {
            out += Utf8ToWide(*value);
            at = close + 1;
        } else {
            // Left as written; the closing % may open the next name.
            out.append(text.substr(open, close - open));
            at = close;
        }
    }
    out.append(text.substr(at));
    return out;
}

// WshEnvironment: the variables as the script's programs see them.
class Environment final : public Object {
public:
    explicit Environment(std::shared_ptr<ProcessView> view) : view_(std::move(view)) {}
    std::u16string typeName() const override { return u"IWshEnvironment"; }

    Value get(Interp &in, std::u16string_view name, Args args) override {
        if (name.empty() || name == u"item") {
            CheckArgCount(args, 1, 1);
            std::optional<std::string> v = view_->Get(WideToUtf8(ArgText(in, args, 0)));
            return Value::str(v ? Utf8ToWide(*v) : std::u16string());
        }
        if (name == u"count" || name == u"length") {
            CheckArgCount(args, 0, 0);
            return Value::lng(static_cast<int32_t>(view_->Environment().size()));
        }
        if (name == u"remove") {
            CheckArgCount(args, 1, 1);
            view_->Remove(WideToUtf8(ArgText(in, args, 0)));
            return {};
        }
        NoMember(u"IWshEnvironment", name);
    }

    void put(Interp &in, std::u16string_view name, Args args, const Value &v, bool isSet) override {
        if ((!name.empty() && name != u"item") || isSet || args.size() != 1)
            NoMember(u"IWshEnvironment", name);
        const std::string key = WideToUtf8(ArgText(in, args, 0));
        if (key.empty() || key.find('=') != std::string::npos ||
            key.find('\0') != std::string::npos)
            vbscript::raise(vbscript::err::InvalidCall);
        view_->Set(key, WideToUtf8(vbscript::toStr(in, v)));
    }

    std::vector<Value> enumerate(Interp &) override {
        std::vector<Value> out;
        for (const std::string &entry : view_->Environment())
            out.push_back(Value::str(Utf8ToWide(entry)));
        return out;
    }

private:
    std::shared_ptr<ProcessView> view_;
};

// StdOut and StdErr of an Exec object: read like a TextStream opened for reading.
class OutputStream final : public Object {
public:
    OutputStream(std::shared_ptr<ChildProcess> child, ChildProcess::Stream stream)
        : child_(std::move(child)), stream_(stream) {}
    std::u16string typeName() const override { return u"TextStream"; }

    Value get(Interp &in, std::u16string_view name, Args args) override {
        std::string &buffer = child_->Buffer(stream_);
        if (name == u"readall") {
            CheckArgCount(args, 0, 0);
            child_->WaitFor(stream_, SIZE_MAX, false);
            std::string all;
            all.swap(buffer);
            return Value::str(OutputText(all));
        }
        if (name == u"readline" || name == u"skipline") {
            CheckArgCount(args, 0, 0);
            child_->WaitFor(stream_, SIZE_MAX, true);
            if (buffer.empty() && child_->Ended(stream_))
                PastEnd();
            size_t end = buffer.find('\n');
            const size_t take = end == std::string::npos ? buffer.size() : end;
            std::string line = buffer.substr(0, take);
            buffer.erase(0, end == std::string::npos ? take : take + 1);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            return name == u"skipline" ? Value() : Value::str(OutputText(line));
        }
        if (name == u"read" || name == u"skip") {
            CheckArgCount(args, 1, 1);
            const int32_t count = ArgLong(in, args, 0);
            if (count < 0)
                vbscript::raise(vbscript::err::InvalidCall);
            const size_t chars = static_cast<size_t>(count);
            // Enough bytes for the characters in UTF-8, or everything there is.
            child_->WaitFor(stream_, chars * 4, false);
            if (buffer.empty() && child_->Ended(stream_) && count > 0)
                PastEnd();
            const Charset set = http::IsValidUtf8(buffer) ? Charset::Utf8 : Charset::Gbk;
            const size_t take = BytesOfChars(set, buffer, chars);
            std::string piece = buffer.substr(0, take);
            buffer.erase(0, take);
            return name == u"skip" ? Value() : Value::str(DecodeText(set, piece));
        }
        if (name == u"atendofstream" || name == u"atendofline") {
            CheckArgCount(args, 0, 0);
            child_->WaitFor(stream_, 1, false);
            if (name == u"atendofline" && !buffer.empty()) {
                if (buffer[0] == '\r')
                    child_->WaitFor(stream_, 2, false);
                return Value::boolean(
                    buffer[0] == '\n' ||
                    (buffer[0] == '\r' && (buffer.size() == 1 || buffer[1] == '\n')));
            }
            return Value::boolean(buffer.empty() && child_->Ended(stream_));
        }
        if (name == u"close") {
            CheckArgCount(args, 0, 0);
            return {};
        }
        if (name == u"write" || name == u"writeline" || name == u"writeblanklines")
            RaiseFrom(u"TextStream", 54, u"Bad file mode");
        NoMember(u"TextStream", name);
    }

private:
    [[noreturn]] static void PastEnd() { RaiseFrom(u"TextStream", 62, u"Input past end of file"); }

    std::shared_ptr<ChildProcess> child_;
    ChildProcess::Stream stream_;
};

// StdIn of an Exec object: a TextStream opened for writing. Text goes to the program as UTF-8.
class InputStream final : public Object {
public:
    explicit InputStream(std::shared_ptr<ChildProcess> child) : child_(std::move(child)) {}
    std::u16string typeName() const override { return u"TextStream"; }

    Value get(Interp &in, std::u16string_view name, Args args) override {
        std::string bytes;
        if (name == u"write") {
            CheckArgCount(args, 1, 1);
            bytes = WideToUtf8(ArgText(in, args, 0));
        } else if (name == u"writeline") {
            CheckArgCount(args, 0, 1);
            bytes = WideToUtf8(ArgText(in, args, 0)) + "\r\n";
        } else if (name == u"writeblanklines") {
            CheckArgCount(args, 1, 1);
            const int32_t n = ArgLong(in, args, 0);
            for (int32_t i = 0; i < n; ++i)
                bytes += "\r\n";
        } else if (name == u"close") {
            CheckArgCount(args, 0, 0);
            child_->CloseInput();
            return {};
        } else if (name == u"readall" || name == u"readline" || name == u"read" ||
                   name == u"atendofstream") {
            RaiseFrom(u"TextStream", 54, u"Bad file mode");
        } else {
            NoMember(u"TextStream", name);
        }
        if (!child_->Write(bytes))
            RaiseFrom(u"TextStream", static_cast<int32_t>(0x800700E8),
                      u"The pipe is being closed.");
        return {};
    }

private:
    std::shared_ptr<ChildProcess> child_;
};

// WshExec: a running program with its standard streams.
class Exec final : public Object {
public:
    explicit Exec(std::shared_ptr<ChildProcess> child) : child_(std::move(child)) {}
    std::u16string typeName() const override { return u"IWshExec"; }

    Value get(Interp &, std::u16string_view name, Args args) override {
        CheckArgCount(args, 0, 0);
        if (name == u"status")
            return Value::lng(child_->Done() ? 1 : 0);
        if (name == u"exitcode")
            return Value::lng(child_->ExitCode());
        if (name == u"processid")
            return Value::lng(child_->ProcessId());
        if (name == u"stdout")
            return Value::object(new OutputStream(child_, ChildProcess::Out));
        if (name == u"stderr")
            return Value::object(new OutputStream(child_, ChildProcess::Err));
        if (name == u"stdin")
            return Value::object(new InputStream(child_));
        if (name == u"terminate") {
            child_->Terminate();
            return {};
        }
        NoMember(u"IWshExec", name);
    }

private:
    std::shared_ptr<ChildProcess> child_;
};

class Shell final : public Object {
public:
    explicit Shell(std::shared_ptr<ProcessView> view) : view_(std::move(view)) {}
    std::u16string typeName() const override { return u"IWshShell3"; }

    Value get(Interp &in, std::u16string_view name, Args args) override {
        if (name == u"expandenvironmentstrings") {
            CheckArgCount(args, 1, 1);
            return Value::str(Expand(*view_, ArgText(in, args, 0)));
        }
        if (name == u"environment") {
            CheckArgCount(args, 0, 1);
            const std::u16string kind = vbscript::lowerAscii(ArgText(in, args, 0, u"system"));
            if (kind != u"process" && kind != u"system" && kind != u"user" && kind != u"volatile")
                vbscript::raise(vbscript::err::InvalidCall);
            return Value::object(new Environment(view_));
        }
        if (name == u"currentdirectory") {
            CheckArgCount(args, 0, 0);
            return Value::str(Utf8ToWide(view_->CurrentDirectory()));
        }
        if (name == u"run") {
            CheckArgCount(args, 1, 3);
            const std::string command = WideToUtf8(ArgText(in, args, 0));
            (void)ArgLong(in, args, 1, 1); // window style: checked as a number, else unused
            const bool wait = ArgBool(in, args, 2, false);
            SpawnError error;
            if (wait) {
                std::optional<int> code = RunAndWait(*view_, command, error);
                if (!code)
                    RaiseSystem(u"WshShell.Run", error.number);
                return Value::lng(*code);
            }
            if (!RunDetached(*view_, command, error))
                RaiseSystem(u"WshShell.Run", error.number);
            return Value::lng(0);
        }
        if (name == u"exec") {
            CheckArgCount(args, 1, 1);
            SpawnError error;
            std::unique_ptr<ChildProcess> child =
                ChildProcess::Start(*view_, WideToUtf8(ArgText(in, args, 0)), error);
            if (!child)
                RaiseSystem(u"WshShell.Exec", error.number);
            return Value::object(new Exec(std::shared_ptr<ChildProcess>(std::move(child))));
        }
        NoMember(u"IWshShell3", name);
    }

    void put(Interp &in, std::u16string_view name, Args args, const Value &v, bool isSet) override {
        if (name != u"currentdirectory" || isSet || !args.empty())
            NoMember(u"IWshShell3", name);
        const std::u16string path = vbscript::toStr(in, v);
        if (!view_->SetCurrentDirectory(WideToUtf8(path)))
            RaiseFrom(u"WshShell.CurrentDirectory", static_cast<int32_t>(0x80070003),
                      u"The system cannot find the path specified.");
    }

private:
    std::shared_ptr<ProcessView> view_;
};

} // namespace

Value NewShell(Interp &in) {
    return Value::object(new Shell(ProcessViewOf(in)));
}

} // namespace kestrun::scripting
