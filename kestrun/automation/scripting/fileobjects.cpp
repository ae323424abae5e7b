// File, Folder, Files, Folders, Drive and Drives. Each object names a path and looks at the disk
// whenever a property is read, so it sees changes made by others; the collections list their
// folder anew on every use.
#include "kestrun/automation/scripting/fileobjects.h"

#include "kestrun/automation/scripting/args.h"
#include "kestrun/automation/scripting/fsutil.h"
#include "kestrun/automation/scripting/textstream.h"
#include "vbscript/ops.h"

#include <cerrno>
#include <cstdio>
#include <memory>
#include <mntent.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace kestrun::scripting {

namespace err = vbscript::err;
using vbscript::Object;

void NoMember(std::u16string_view type, std::u16string_view name) {
    throw vbscript::ScriptError(err::NoMember, vbscript::errorDescription(err::NoMember) + u": '" +
                                                   std::u16string(type) + u"." +
                                                   std::u16string(name) + u"'");
}

namespace {

// A property that returns an object, read with arguments: the arguments go to that object's
// default member (`folder.Files("a.txt")`).
Value Indexed(Interp &in, Value v, Args args) {
    return args.empty() ? v : vbscript::indexValue(in, v, args);
}

// The description Windows gives a file by its extension when nothing is registered for it:
// "TXT File"; "File" without an extension.
std::u16string TypeOf(std::string_view name) {
    const size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot + 1 == name.size())
        return u"File";
    return vbscript::upperAscii(fs::Wide(name.substr(dot + 1))) + u" File";
}

uint64_t TreeSize(const std::string &folder) {
    uint64_t total = 0;
    for (const std::string &name : fs::List(folder, false))
        total += fs::Stat(fs::Join(folder, name)).size;
    for (const std::string &name : fs::List(folder, true)) {
        const std::string child = fs::Join(folder, name);
        struct stat st {};
        if (lstat(child.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) // links are not followed
            total += TreeSize(child);
    }
    return total;
}

// What File and Folder share: the path, names, dates, attributes and renaming.
class Entry : public Object {
public:
    Entry(std::string path, bool folder) : path_(fs::Absolute(path)), folder_(folder) {}

protected:
    fs::Info need() const {
        fs::Info info = fs::Stat(path_);
        if (!info.exists || info.folder != folder_)
            fs::Raise(folder_ ? err::PathNotFound : err::FileNotFound);
        return info;
    }

    // Members common to both; false when `name` is none of them.
    bool common(Interp &in, std::u16string_view name, Args args, Value &out) {
        if (name.empty() || name == u"path" || name == u"shortpath") {
            CheckArgCount(args, 0, 0);
            out = Value::str(fs::Wide(path_));
        } else if (name == u"name" || name == u"shortname") {
            CheckArgCount(args, 0, 0);
            out = Value::str(fs::Wide(fs::LastName(path_)));
        } else if (name == u"parentfolder") {
            const std::string_view parent = fs::ParentOf(path_);
            out = Indexed(in, parent.empty() ? Value::nothing() : NewFolder(std::string(parent)),
                          args);
        } else if (name == u"drive") {
            out = Indexed(in, NewDrive(), args);
        } else if (name == u"attributes") {
            CheckArgCount(args, 0, 0);
            out = Value::lng(fs::Attributes(path_, need()));
        } else if (name == u"datecreated") {
            CheckArgCount(args, 0, 0);
            out = fs::DateOf(need().created);
        } else if (name == u"datelastmodified") {
            CheckArgCount(args, 0, 0);
            out = fs::DateOf(need().modified);
        } else if (name == u"datelastaccessed") {
            CheckArgCount(args, 0, 0);
            out = fs::DateOf(need().accessed);
        } else {
            return false;
        }
        return true;
    }

    void putCommon(Interp &in, std::u16string_view name, Args args, const Value &v) {
        CheckArgCount(args, 0, 0);
        if (name == u"name") {
            need();
            path_ = fsops::Rename(path_, vbscript::toStr(in, v));
        } else if (name == u"attributes") {
            need();
            fs::SetAttributes(path_, vbscript::toLong(in, v));
        } else {
            NoMember(typeName(), name);
        }
    }

    std::string path_;
    bool folder_;
};

class FileObject final : public Entry {
public:
    explicit FileObject(const std::string &path) : Entry(path, false) {}
    std::u16string typeName() const override { return u"File"; }

    Value get(Interp &in, std::u16string_view name, Args args) override {
        Value out;
        if (common(in, name, args, out))
            return out;
        if (name == u"size") {
            CheckArgCount(args, 0, 0);
            return fs::SizeValue(need().size);
        }
        if (name == u"type") {
            CheckArgCount(args, 0, 0);
            return Value::str(TypeOf(fs::LastName(path_)));
        }
        if (name == u"copy") {
            CheckArgCount(args, 1, 2);
            need();
            fsops::CopyFile(path_, fs::Native(ArgText(in, args, 0)), ArgBool(in, args, 1, true),
                            false);
            return {};
        }
        if (name == u"move") {
            CheckArgCount(args, 1, 1);
            need();
            path_ = fs::Absolute(fsops::MoveFile(path_, fs::Native(ArgText(in, args, 0)), false));
            return {};
        }
        if (name == u"delete") {
            CheckArgCount(args, 0, 1);
            need();
            fsops::DeleteFile(path_, ArgBool(in, args, 0, false), false);
            return {};
        }
        if (name == u"openastextstream") {
            CheckArgCount(args, 0, 2);
            need();
            return OpenTextStream(path_, ArgLong(in, args, 0, 1), false, ArgLong(in, args, 1, 0));
        }
        NoMember(u"File", name);
    }

    void put(Interp &in, std::u16string_view name, Args args, const Value &v, bool) override {
        putCommon(in, name, args, v);
    }
};

class FilesCollection final : public Object {
public:
    explicit FilesCollection(std::string folder) : folder_(std::move(folder)) {}
    std::u16string typeName() const override { return u"Files"; }

    Value get(Interp &in, std::u16string_view name, Args args) override {
        if (name == u"count") {
            CheckArgCount(args, 0, 0);
            return Value::lng(static_cast<int32_t>(fs::List(folder_, false).size()));
        }
        if (name.empty() || name == u"item") {
            CheckArgCount(args, 1, 1);
            const std::string path = fs::Join(folder_, fs::Native(ArgText(in, args, 0)));
            if (!fs::IsFile(path))
                fs::Raise(err::FileNotFound);
            return NewFile(path);
        }
        NoMember(u"Files", name);
    }

    std::vector<Value> enumerate(Interp &) override {
        std::vector<Value> items;
        for (const std::string &name : fs::List(folder_, false))
            items.push_back(NewFile(fs::Join(folder_, name)));
        return items;
    }

private:
    std::string folder_;
};

class FoldersCollection final : public Object {
public:
    explicit FoldersCollection(std::string folder) : folder_(std::move(folder)) {}
    std::u16string typeName() const override { return u"Folders"; }

    Value get(Interp &in, std::u16string_view name, Args args) override {
        if (name == u"count") {
            CheckArgCount(args, 0, 0);
            return Value::lng(static_cast<int32_t>(fs::List(folder_, true).size()));
        }
        if (name.empty() || name == u"item") {
            CheckArgCount(args, 1, 1);
            const std::string path = fs::Join(folder_, fs::Native(ArgText(in, args, 0)));
            if (!fs::IsFolder(path))
                fs::Raise(err::PathNotFound);
            return NewFolder(path);
        }
        if (name == u"add") {
            CheckArgCount(args, 1, 1);
            const std::u16string child = ArgText(in, args, 0);
            if (child.empty() || child.find(u'/') != std::u16string::npos)
                fs::Raise(err::BadFileName);
            const std::string path = fs::Join(folder_, fs::Native(child));
            if (::mkdir(path.c_str(), 0777) != 0)
                fs::RaiseErrno(errno, path, err::PathNotFound);
            return NewFolder(path);
        }
        NoMember(u"Folders", name);
    }

    std::vector<Value> enumerate(Interp &) override {
        std::vector<Value> items;
        for (const std::string &name : fs::List(folder_, true))
            items.push_back(NewFolder(fs::Join(folder_, name)));
        return items;
    }

private:
    std::string folder_;
};

class FolderObject final : public Entry {
public:
    explicit FolderObject(const std::string &path) : Entry(path, true) {}
    std::u16string typeName() const override { return u"Folder"; }

    Value get(Interp &in, std::u16string_view name, Args args) override {
        Value out;
        if (common(in, name, args, out))
            return out;
        if (name == u"isrootfolder") {
            CheckArgCount(args, 0, 0);
            return Value::boolean(path_ == "/");
        }
        if (name == u"size") {
            CheckArgCount(args, 0, 0);
            need();
            return fs::SizeValue(TreeSize(path_));
        }
        if (name == u"type") {
            CheckArgCount(args, 0, 0);
            return Value::str(u"File folder");
        }
        if (name == u"files") {
            need();
            return Indexed(in, Value::object(new FilesCollection(path_)), args);
        }
        if (name == u"subfolders") {
            need();
            return Indexed(in, Value::object(new FoldersCollection(path_)), args);
        }
        if (name == u"createtextfile") {
            CheckArgCount(args, 1, 3);
            need();
            // A name is taken in this folder; a full path as it is.
            const std::string name = fs::Native(ArgText(in, args, 0));
            if (name.empty())
                fs::Raise(err::InvalidCall);
            const std::string path = name.front() == '/' ? name : fs::Join(path_, name);
            return CreateTextStream(path, ArgBool(in, args, 1, true), ArgBool(in, args, 2, false));
        }
        if (name == u"copy") {
            CheckArgCount(args, 1, 2);
            need();
            fsops::CopyFolder(path_, fs::Native(ArgText(in, args, 0)), ArgBool(in, args, 1, true),
                              false);
            return {};
        }
        if (name == u"move") {
            CheckArgCount(args, 1, 1);
            need();
            path_ = fs::Absolute(fsops::MoveFolder(path_, fs::Native(ArgText(in, args, 0)), false));
            return {};
        }
        if (name == u"delete") {
            CheckArgCount(args, 0, 1);
            need();
            fsops::DeleteFolder(path_, ArgBool(in, args, 0, false), false);
            return {};
        }
        NoMember(u"Folder", name);
    }

    void put(Interp &in, std::u16string_view name, Args args, const Value &v, bool) override {
        putCommon(in, name, args, v);
    }
};

// The file system type of the root mount, from the process's mount table.
std::u16string RootFileSystem() {
    struct Closer {
        void operator()(FILE *f) const { endmntent(f); }
    };
    std::unique_ptr<FILE, Closer> table(setmntent("/proc/self/mounts", "r"));
    std::string type;
    if (table) {
        mntent entry{};
        char buffer[4096];
        while (getmntent_r(table.get(), &entry, buffer, sizeof buffer))
            if (std::string_view(entry.mnt_dir) == "/")
                type = entry.mnt_type; // the last mount on "/" is the one seen
    }
    return fs::Wide(type);
}

class DriveObject final : public Object {
public:
    std::u16string typeName() const override { return u"Drive"; }

    Value get(Interp &in, std::u16string_view name, Args args) override {
        if (name == u"rootfolder")
            return Indexed(in, NewFolder("/"), args);
        CheckArgCount(args, 0, 0);
        if (name.empty() || name == u"path")
            return Value::str(u"/");
        if (name == u"driveletter" || name == u"sharename" || name == u"volumename")
            return Value::str(u"");
        if (name == u"drivetype")
            return Value::lng(2); // fixed
        if (name == u"isready")
            return Value::boolean(true);
        if (name == u"filesystem")
            return Value::str(RootFileSystem());
        struct statvfs sv {};
        const bool ok = statvfs("/", &sv) == 0;
        if (name == u"serialnumber")
            return Value::lng(ok ? static_cast<int32_t>(sv.f_fsid & 0xFFFFFFFFu) : 0);
        if (name == u"totalsize")
            return Value::dbl(ok ? static_cast<double>(sv.f_blocks) * sv.f_frsize : 0);
        if (name == u"freespace")
            return Value::dbl(ok ? static_cast<double>(sv.f_bfree) * sv.f_frsize : 0);
        if (name == u"availablespace")
            return Value::dbl(ok ? static_cast<double>(sv.f_bavail) * sv.f_frsize : 0);
        NoMember(u"Drive", name);
    }
};

class DrivesCollection final : public Object {
public:
    std::u16string typeName() const override { return u"Drives"; }

    Value get(Interp &in, std::u16string_view name, Args args) override {
        if (name == u"count") {
            CheckArgCount(args, 0, 0);
            return Value::lng(1);
        }
        if (name.empty() || name == u"item") {
            CheckArgCount(args, 1, 1);
            if (ArgText(in, args, 0) != u"/")
                fs::Raise(err::InvalidCall);
            return NewDrive();
        }
        NoMember(u"Drives", name);
    }

    std::vector<Value> enumerate(Interp &) override { return {NewDrive()}; }
};

} // namespace

Value NewFile(const std::string &path) {
    return Value::object(new FileObject(path));
}

Value NewFolder(const std::string &path) {
    return Value::object(new FolderObject(path));
}

Value NewDrive() {
    return Value::object(new DriveObject);
}

Value IndexedValue(Interp &in, Value v, Args args) {
    return Indexed(in, std::move(v), args);
}

Value NewDrives() {
    return Value::object(new DrivesCollection);
}

} // namespace kestrun::scripting
