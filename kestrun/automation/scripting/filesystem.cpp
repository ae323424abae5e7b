// Scripting.FileSystemObject: file and folder tests, path texts, text files, copying, moving and
// deleting. Paths are Linux paths: '/' separates components and BuildPath joins with it; a '\'
// is an ordinary character of a name.
#include "kestrun/automation/scripting/args.h"
#include "kestrun/automation/scripting/fileobjects.h"
#include "kestrun/automation/scripting/fsutil.h"
#include "kestrun/automation/scripting/objects.h"
#include "kestrun/automation/scripting/textstream.h"
#include "vbscript/ops.h"

#include <cerrno>
#include <cstdlib>
#include <random>
#include <sys/stat.h>

namespace kestrun::scripting {

namespace err = vbscript::err;
using vbscript::Object;

namespace {

// The temporary folder: TMPDIR when it names a folder, else /tmp.
std::string TempFolder() {
    const char *tmp = std::getenv("TMPDIR");
    if (tmp && *tmp && fs::IsFolder(tmp))
        return fs::Absolute(tmp);
    return "/tmp";
}

// The path texts work on the script's text itself; only '/' separates.
std::u16string_view LastName16(std::u16string_view path) {
    while (path.size() > 1 && path.back() == u'/')
        path.remove_suffix(1);
    if (path == u"/")
        return {};
    const size_t slash = path.rfind(u'/');
    return slash == std::u16string_view::npos ? path : path.substr(slash + 1);
}

std::u16string_view Parent16(std::u16string_view path) {
    while (path.size() > 1 && path.back() == u'/')
        path.remove_suffix(1);
    const size_t slash = path.rfind(u'/');
    if (path == u"/" || slash == std::u16string_view::npos)
        return {};
    std::u16string_view parent = path.substr(0, slash);
    while (parent.size() > 1 && parent.back() == u'/')
        parent.remove_suffix(1);
    return parent.empty() ? std::u16string_view(u"/") : parent;
}

class FileSystemObject final : public Object {
public:
    FileSystemObject() : random_(std::random_device{}()) {}
    std::u16string typeName() const override { return u"FileSystemObject"; }

    Value get(Interp &in, std::u16string_view name, Args args) override {
        auto text = [&](size_t i) { return ArgText(in, args, i); };
        auto path = [&](size_t i) { return fs::Native(ArgText(in, args, i)); };

        // ---- tests and path texts
        if (name == u"fileexists" || name == u"folderexists") {
            CheckArgCount(args, 1, 1);
            const std::string p = path(0);
            return Value::boolean(!p.empty() &&
                                  (name == u"fileexists" ? fs::IsFile(p) : fs::IsFolder(p)));
        }
        if (name == u"driveexists") {
            CheckArgCount(args, 1, 1);
            return Value::boolean(text(0) == u"/");
        }
        if (name == u"buildpath") {
            CheckArgCount(args, 2, 2);
            return Value::str(BuildPath(text(0), text(1)));
        }
        if (name == u"getfilename") {
            CheckArgCount(args, 1, 1);
            return Value::str(std::u16string(LastName16(text(0))));
        }
        if (name == u"getbasename" || name == u"getextensionname") {
            CheckArgCount(args, 1, 1);
            const std::u16string full = text(0);
            const std::u16string_view last = LastName16(full);
            const size_t dot = last.rfind(u'.');
            if (name == u"getbasename")
                return Value::str(std::u16string(last.substr(0, dot)));
            return Value::str(dot == std::u16string_view::npos
                                  ? std::u16string()
                                  : std::u16string(last.substr(dot + 1)));
        }
        if (name == u"getparentfoldername") {
            CheckArgCount(args, 1, 1);
            return Value::str(std::u16string(Parent16(text(0))));
        }
        if (name == u"getdrivename") {
            CheckArgCount(args, 1, 1);
            const std::u16string p = text(0);
            return Value::str(!p.empty() && p.front() == u'/' ? u"/" : u"");
        }
        if (name == u"getabsolutepathname") {
            CheckArgCount(args, 1, 1);
            return Value::str(fs::Wide(fs::Absolute(path(0))));
        }
        if (name == u"gettempname") {
            CheckArgCount(args, 0, 0);
            static constexpr char16_t kHex[] = u"0123456789ABCDEF";
            std::u16string out = u"rad";
            for (int i = 0; i < 5; ++i)
                out += kHex[random_() & 15];
            return Value::str(out + u".tmp");
        }
        if (name == u"getfileversion") {
            CheckArgCount(args, 1, 1);
            if (!fs::IsFile(path(0)))
                fs::Raise(err::FileNotFound);
            return Value::str(u"");
        }

        // ---- objects for what is on disk
        if (name == u"getfile") {
            CheckArgCount(args, 1, 1);
            const std::string p = NonEmpty(path(0));
            const fs::Info info = fs::Stat(p);
            if (!info.exists)
                fs::RaiseErrno(errno, p, err::FileNotFound);
            if (info.folder)
                fs::Raise(err::FileNotFound);
            return NewFile(p);
        }
        if (name == u"getfolder") {
            CheckArgCount(args, 1, 1);
            const std::string p = NonEmpty(path(0));
            if (!fs::IsFolder(p))
                fs::Raise(err::PathNotFound);
            return NewFolder(p);
        }
        if (name == u"getspecialfolder") {
            CheckArgCount(args, 1, 1);
            switch (ArgLong(in, args, 0)) {
            case 0:
                return NewFolder("/etc");
            case 1:
                return NewFolder("/usr/bin");
            case 2:
                return NewFolder(TempFolder());
            default:
                fs::Raise(err::InvalidCall);
            }
        }
        if (name == u"getdrive") {
            CheckArgCount(args, 1, 1);
            const std::u16string drive = text(0);
            if (drive.empty())
                fs::Raise(err::InvalidCall);
            if (drive != u"/")
                fs::Raise(err::DeviceUnavailable);
            return NewDrive();
        }
        if (name == u"drives")
            return IndexedValue(in, NewDrives(), args);

        // ---- making, copying, moving and deleting
        if (name == u"createfolder") {
            CheckArgCount(args, 1, 1);
            const std::string p = NonEmpty(path(0));
            struct stat st {};
            if (lstat(p.c_str(), &st) == 0)
                fs::Raise(err::FileExists);
            if (::mkdir(p.c_str(), 0777) != 0)
                fs::RaiseErrno(errno, p, err::PathNotFound);
            return NewFolder(p);
        }
        if (name == u"createtextfile") {
            CheckArgCount(args, 1, 3);
            return CreateTextStream(NonEmpty(path(0)), ArgBool(in, args, 1, true),
                                    ArgBool(in, args, 2, false));
        }
        if (name == u"opentextfile") {
            CheckArgCount(args, 1, 4);
            return OpenTextStream(NonEmpty(path(0)), ArgLong(in, args, 1, 1),
                                  ArgBool(in, args, 2, false), ArgLong(in, args, 3, 0));
        }
        if (name == u"getstandardstream") {
            CheckArgCount(args, 1, 2);
            return StandardStream(ArgLong(in, args, 0), ArgBool(in, args, 1, false));
        }
        if (name == u"copyfile" || name == u"copyfolder") {
            CheckArgCount(args, 2, 3);
            const bool overwrite = ArgBool(in, args, 2, true);
            if (name == u"copyfile")
                fsops::CopyFile(path(0), path(1), overwrite, true);
            else
                fsops::CopyFolder(path(0), path(1), overwrite, true);
            return {};
        }
        if (name == u"movefile" || name == u"movefolder") {
            CheckArgCount(args, 2, 2);
            if (name == u"movefile")
                fsops::MoveFile(path(0), path(1), true);
            else
                fsops::MoveFolder(path(0), path(1), true);
            return {};
        }
        if (name == u"deletefile" || name == u"deletefolder") {
            CheckArgCount(args, 1, 2);
            const bool force = ArgBool(in, args, 1, false);
            if (name == u"deletefile")
                fsops::DeleteFile(path(0), force, true);
            else
                fsops::DeleteFolder(path(0), force, true);
            return {};
        }
        NoMember(u"FileSystemObject", name);
    }

private:
    static std::string NonEmpty(std::string path) {
        if (path.empty())
            fs::Raise(err::InvalidCall);
        return path;
    }

    // Joins with one '/' between the parts, keeping what each part has of its own.
    static std::u16string BuildPath(std::u16string_view path, std::u16string_view name) {
        if (path.empty())
            return std::u16string(name);
        std::u16string out(path);
        const bool endsWith = out.back() == u'/';
        const bool startsWith = !name.empty() && name.front() == u'/';
        if (endsWith && startsWith)
            name.remove_prefix(1);
        else if (!endsWith && !startsWith)
            out += u'/';
        vbscript::checkJoinedLength(out.size(), name.size());
        out += name;
        return out;
    }

    std::minstd_rand random_;
};

} // namespace

Value NewFileSystemObject(Interp &) {
    return Value::object(new FileSystemObject);
}

} // namespace kestrun::scripting
