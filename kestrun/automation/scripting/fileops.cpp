// Copying, moving, renaming and deleting files and folders with the errors scripts expect: a
// read-only file is not overwritten or deleted unless forced, an existing destination is not
// replaced unless asked, and the first failure stops the operation.
#include "kestrun/automation/scripting/fileobjects.h"
#include "kestrun/automation/scripting/fsutil.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace kestrun::scripting::fsops {

namespace err = vbscript::err;
using fs::DirCloser;
using fs::Raise;
using fs::RaiseErrno;

namespace {

struct Fd {
    int fd;
    explicit Fd(int f) : fd(f) {}
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    ~Fd() {
        if (fd >= 0)
            ::close(fd);
    }
};

bool Exists(const std::string &path) { // the name itself, a dangling link included
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

bool IsLink(const std::string &path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool EndsWithSeparator(const std::string &path) {
    return !path.empty() && path.back() == '/';
}

std::string FolderOf(const std::string &path) {
    const std::string parent(fs::ParentOf(path));
    return parent.empty() ? "." : parent;
}

// `inner` is `outer` or lies inside it.
bool Within(const std::string &inner, const std::string &outer) {
    const std::string a = fs::Absolute(inner), b = fs::Absolute(outer);
    return a == b || (a.size() > b.size() && a.compare(0, b.size(), b) == 0 &&
                      (b == "/" || a[b.size()] == '/'));
}

void CopyOne(const std::string &source, const std::string &target, bool overwrite) {
    Fd in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.fd < 0)
        RaiseErrno(errno, source, err::FileNotFound);
    struct stat st {};
    if (fstat(in.fd, &st) != 0)
        RaiseErrno(errno, source, err::FileNotFound);
    if (S_ISDIR(st.st_mode))
        Raise(err::FileNotFound);
    struct stat ts {};
    if (stat(target.c_str(), &ts) == 0) {
        if (S_ISDIR(ts.st_mode) || (ts.st_dev == st.st_dev && ts.st_ino == st.st_ino))
            Raise(err::PermissionDenied);
        if (!overwrite)
            Raise(err::FileExists);
        if (fs::ReadOnly(target))
            Raise(err::PermissionDenied);
    }
    Fd out(::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, st.st_mode & 0777));
    if (out.fd < 0)
        RaiseErrno(errno, target, err::PathNotFound);
    std::vector<char> buffer(256 * 1024);
    for (;;) {
        const ssize_t got = ::read(in.fd, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            RaiseErrno(errno, source, err::FileNotFound);
        if (got == 0)
            break;
        ssize_t done = 0;
        while (done < got) {
            const ssize_t n =
                ::write(out.fd, buffer.data() + done, static_cast<size_t>(got - done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                RaiseErrno(errno, target, err::PathNotFound);
            done += n;
        }
    }
    // The copy keeps the original's modification time and permissions (so its attributes).
    const timespec times[2] = {st.st_atim, st.st_mtim};
    futimens(out.fd, times);
    fchmod(out.fd, st.st_mode & 07777);
    if (::close(std::exchange(out.fd, -1)) != 0)
        RaiseErrno(errno, target, err::PathNotFound);
}

void MoveOne(const std::string &source, const std::string &target, bool folder) {
    if (Exists(target))
        Raise(err::FileExists);
    if (!fs::IsFolder(FolderOf(target)))
        Raise(err::PathNotFound);
    if (folder && Within(target, source))
        Raise(err::PermissionDenied);
    if (::rename(source.c_str(), target.c_str()) == 0)
        return;
    if (errno != EXDEV)
        RaiseErrno(errno, source, folder ? err::PathNotFound : err::FileNotFound);
    // Another file system: copy, then remove the original.
    if (folder) {
        CopyFolder(source, target, false, false);
        DeleteFolder(source, true, false);
    } else {
        CopyOne(source, target, false);
        if (::unlink(source.c_str()) != 0)
            RaiseErrno(errno, source, err::FileNotFound);
    }
}

struct Entry {
    std::string name;
    bool folder; // a real folder, not a link to one
};

std::vector<Entry> RawList(const std::string &folder) {
    std::unique_ptr<DIR, DirCloser> dir(opendir(folder.c_str()));
    if (!dir)
        RaiseErrno(errno, folder, err::PathNotFound);
    std::vector<Entry> out;
    while (const dirent *e = readdir(dir.get())) {
        const std::string_view name = e->d_name;
        if (name == "." || name == "..")
            continue;
        bool isFolder = e->d_type == DT_DIR;
        if (e->d_type == DT_UNKNOWN) {
            struct stat st {};
            isFolder = lstat(fs::Join(folder, name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
        }
        out.push_back({std::string(name), isFolder});
    }
    return out;
}

void DeleteTree(const std::string &path, bool force) {
    if (IsLink(path)) {
        if (::unlink(path.c_str()) != 0)
            RaiseErrno(errno, path, err::PathNotFound);
        return;
    }
    for (const Entry &e : RawList(path)) {
        const std::string child = fs::Join(path, e.name);
        if (e.folder) {
            DeleteTree(child, force);
        } else {
            if (!force && !IsLink(child) && fs::ReadOnly(child))
                Raise(err::PermissionDenied);
            if (::unlink(child.c_str()) != 0)
                RaiseErrno(errno, child, err::FileNotFound);
        }
    }
    if (::rmdir(path.c_str()) != 0)
        RaiseErrno(errno, path, err::PathNotFound);
}

void CopyTree(const std::string &source, const std::string &target, bool overwrite) {
    struct stat ts {};
    if (stat(target.c_str(), &ts) == 0) {
        if (!S_ISDIR(ts.st_mode))
            Raise(err::FileExists);
    } else if (::mkdir(target.c_str(), 0777) != 0) {
        RaiseErrno(errno, target, err::PathNotFound);
    }
    for (const Entry &e : RawList(source)) {
        const std::string from = fs::Join(source, e.name), to = fs::Join(target, e.name);
        if (e.folder) {
            CopyTree(from, to, overwrite);
        } else if (IsLink(from) && fs::IsFolder(from)) {
            // A link to a folder is copied as a link, so that a loop of links ends.
            if (Exists(to)) {
                if (!overwrite)
                    Raise(err::FileExists);
                if (::unlink(to.c_str()) != 0)
                    RaiseErrno(errno, to, err::PathNotFound);
            }
            std::vector<char> where(4096);
            const ssize_t n = readlink(from.c_str(), where.data(), where.size() - 1);
            if (n < 0)
                RaiseErrno(errno, from, err::FileNotFound);
            if (symlink(std::string(where.data(), static_cast<size_t>(n)).c_str(), to.c_str()) != 0)
                RaiseErrno(errno, to, err::PathNotFound);
        } else {
            CopyOne(from, to, overwrite);
        }
    }
}

// The sources a name stands for and whether the destination is a folder to put them in.
struct Plan {
    fs::Matches sources;
    bool intoFolder = false;
};

Plan PlanFor(const std::string &source, const std::string &dest, bool expand, bool folders) {
    if (source.empty() || dest.empty())
        Raise(err::InvalidCall);
    Plan plan;
    const std::string_view name = fs::LastName(source);
    if (expand && fs::HasWildcards(name)) {
        plan.sources = fs::Expand(source, folders);
        if (plan.sources.names.empty())
            Raise(folders ? err::PathNotFound : err::FileNotFound);
        plan.intoFolder = true;
    } else {
        // The name as it resolves, so that "." or ".." stand for the folder they name; the
        // root itself is never copied, moved or deleted.
        const std::string full = fs::Absolute(source);
        if (full == "/")
            Raise(err::PermissionDenied);
        const fs::Info info = fs::Stat(source);
        if (!info.exists)
            RaiseErrno(errno, source, folders ? err::PathNotFound : err::FileNotFound);
        if (info.folder != folders)
            Raise(folders ? err::PathNotFound : err::FileNotFound);
        plan.sources.folder = FolderOf(full);
        plan.sources.names.emplace_back(fs::LastName(full));
        plan.intoFolder = EndsWithSeparator(dest);
    }
    if (plan.intoFolder && !fs::IsFolder(dest))
        Raise(err::PathNotFound);
    return plan;
}

std::string TargetFor(const Plan &plan, const std::string &dest, const std::string &name) {
    return plan.intoFolder ? fs::Join(dest, name) : dest;
}

} // namespace

void CopyFile(const std::string &source, const std::string &dest, bool overwrite, bool expand) {
    const Plan plan = PlanFor(source, dest, expand, false);
    // A folder named without a final separator is not a file name to copy onto.
    if (!plan.intoFolder && fs::IsFolder(dest))
        Raise(err::PermissionDenied);
    for (const std::string &name : plan.sources.names)
        CopyOne(fs::Join(plan.sources.folder, name), TargetFor(plan, dest, name), overwrite);
}

std::string MoveFile(const std::string &source, const std::string &dest, bool expand) {
    const Plan plan = PlanFor(source, dest, expand, false);
    std::string last;
    for (const std::string &name : plan.sources.names) {
        last = TargetFor(plan, dest, name);
        MoveOne(fs::Join(plan.sources.folder, name), last, false);
    }
    return last;
}

void DeleteFile(const std::string &target, bool force, bool expand) {
    const Plan plan = PlanFor(target, "/", expand, false);
    for (const std::string &name : plan.sources.names) {
        const std::string path = fs::Join(plan.sources.folder, name);
        if (!force && fs::ReadOnly(path))
            Raise(err::PermissionDenied);
        if (::unlink(path.c_str()) != 0)
            RaiseErrno(errno, path, err::FileNotFound);
    }
}

void CopyFolder(const std::string &source, const std::string &dest, bool overwrite, bool expand) {
    const Plan plan = PlanFor(source, dest, expand, true);
    for (const std::string &name : plan.sources.names) {
        const std::string from = fs::Join(plan.sources.folder, name);
        const std::string to = TargetFor(plan, dest, name);
        if (Within(to, from))
            Raise(err::PermissionDenied);
        CopyTree(from, to, overwrite);
    }
}

std::string MoveFolder(const std::string &source, const std::string &dest, bool expand) {
    const Plan plan = PlanFor(source, dest, expand, true);
    std::string last;
    for (const std::string &name : plan.sources.names) {
        last = TargetFor(plan, dest, name);
        MoveOne(fs::Join(plan.sources.folder, name), last, true);
    }
    return last;
}

void DeleteFolder(const std::string &target, bool force, bool expand) {
    const Plan plan = PlanFor(target, "/", expand, true);
    for (const std::string &name : plan.sources.names)
        DeleteTree(fs::Join(plan.sources.folder, name), force);
}

std::string Rename(const std::string &path, std::u16string_view newName) {
    if (newName.empty())
        Raise(err::InvalidCall);
    const std::string name = fs::Native(newName);
    if (name.find('/') != std::string::npos || name == "." || name == "..")
        Raise(err::BadFileName);
    const std::string target = fs::Join(FolderOf(path), name);
    if (target == path)
        return path;
    if (Exists(target))
        Raise(err::FileExists);
    if (::rename(path.c_str(), target.c_str()) != 0)
        RaiseErrno(errno, path, err::FileNotFound);
    return target;
}

} // namespace kestrun::scripting::fsops
