#include "kestrun/automation/scripting/fsutil.h"

#include "vbscript/ops.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrun::scripting::fs {

namespace err = vbscript::err;
using vbscript::ScriptError;

std::string Native(std::u16string_view path) {
    if (path.find(u'\0') != std::u16string_view::npos)
        Raise(err::BadFileName);
    return vbscript::u16ToUtf8(path);
}

std::u16string Wide(std::string_view path) {
    return vbscript::utf8ToU16(path);
}

void Raise(int32_t number) {
    throw ScriptError(number);
}

void RaiseErrno(int error, const std::string &path, int32_t notFound) {
    switch (error) {
    case ENOENT: {
        const std::string parent(ParentOf(Absolute(path)));
        Raise(parent.empty() || IsFolder(parent) ? notFound : err::PathNotFound);
    }
    case ENOTDIR:
    case ELOOP:
        Raise(err::PathNotFound);
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case EBUSY:
    case ETXTBSY:
    case ENOTEMPTY:
        Raise(err::PermissionDenied);
    case EEXIST:
        Raise(err::FileExists);
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        Raise(err::DiskFull);
    case ENAMETOOLONG:
        Raise(err::BadFileName);
    case EINVAL:
        Raise(err::InvalidCall);
    case ENOMEM:
        Raise(err::OutOfMemory);
    case EMFILE:
    case ENFILE:
        Raise(67); // too many files
    default:
        Raise(err::DeviceIo);
    }
}

std::string Absolute(std::string_view path) {
    std::string base;
    if (path.empty() || path.front() != '/') {
        struct Free {
            void operator()(char *p) const { free(p); }
        };
        const std::unique_ptr<char, Free> cwd(getcwd(nullptr, 0));
        base = cwd ? cwd.get() : "/";
    }
    std::vector<std::string_view> parts;
    auto add = [&](std::string_view text) {
        size_t i = 0;
        while (i <= text.size()) {
            size_t j = text.find('/', i);
            if (j == std::string_view::npos)
                j = text.size();
            std::string_view part = text.substr(i, j - i);
            if (part == "..") {
                if (!parts.empty())
                    parts.pop_back();
            } else if (!part.empty() && part != ".") {
                parts.push_back(part);
            }
            i = j + 1;
        }
    };
    add(base);
    add(path);
    std::string out;
    for (std::string_view p : parts) {
        out += '/';
        out += p;
    }
    return out.empty() ? "/" : out;
}

namespace {

std::string_view TrimTrailing(std::string_view path) {
    while (path.size() > 1 && path.back() == '/')
        path.remove_suffix(1);
    return path;
}

} // namespace

std::string_view LastName(std::string_view path) {
    path = TrimTrailing(path);
    if (path == "/")
        return {};
    const size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string_view ParentOf(std::string_view path) {
    path = TrimTrailing(path);
    if (path == "/")
        return {};
    const size_t slash = path.rfind('/');
    if (slash == std::string_view::npos)
        return {};
    std::string_view parent = path.substr(0, slash);
    while (parent.size() > 1 && parent.back() == '/')
        parent.remove_suffix(1);
    return parent.empty() ? std::string_view("/") : parent;
}

std::string Join(std::string_view folder, std::string_view name) {
    if (folder.empty())
        return std::string(name);
    std::string out(folder);
    if (out.back() != '/')
        out += '/';
    out += name;
    return out;
}

bool HasWildcards(std::string_view name) {
    return name.find_first_of("*?") != std::string_view::npos;
}

namespace {

bool Match(std::string_view p, std::string_view n) {
    // Iterative matching with one backtrack point for the last `*`.
    size_t pi = 0, ni = 0, star = std::string_view::npos, mark = 0;
    while (ni < n.size()) {
        if (pi < p.size() && (p[pi] == '?' || p[pi] == n[ni])) {
            ++pi;
            ++ni;
        } else if (pi < p.size() && p[pi] == '*') {
            star = pi++;
            mark = ni;
        } else if (star != std::string_view::npos) {
            pi = star + 1;
            ni = ++mark;
        } else {
            return false;
        }
    }
    while (pi < p.size() && p[pi] == '*')
        ++pi;
    return pi == p.size();
}

} // namespace

bool WildcardMatch(std::string_view pattern, std::string_view name) {
    if (Match(pattern, name))
        return true;
    if (pattern.size() >= 2 && pattern.substr(pattern.size() - 2) == ".*" &&
        name.find('.') == std::string_view::npos)
        return Match(pattern.substr(0, pattern.size() - 2), name);
    return false;
}

Info Stat(const std::string &path) {
    Info info;
    struct statx sx {};
    if (statx(AT_FDCWD, path.c_str(), 0, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0)
        return info;
    info.exists = true;
    info.folder = S_ISDIR(sx.stx_mode);
    info.size = info.folder ? 0 : sx.stx_size;
    auto ts = [](const struct statx_timestamp &t) {
        timespec out{};
        out.tv_sec = static_cast<time_t>(t.tv_sec);
        out.tv_nsec = static_cast<long>(t.tv_nsec);
        return out;
    };
    info.modified = ts(sx.stx_mtime);
    info.accessed = ts(sx.stx_atime);
    // File systems that keep no birth time: the earlier of the change and modification times.
    if (sx.stx_mask & STATX_BTIME)
        info.created = ts(sx.stx_btime);
    else
        info.created = sx.stx_ctime.tv_sec < sx.stx_mtime.tv_sec ? ts(sx.stx_ctime) : info.modified;
    struct stat ls {};
    info.link = lstat(path.c_str(), &ls) == 0 && S_ISLNK(ls.st_mode);
    return info;
}

bool IsFolder(const std::string &path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsFile(const std::string &path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool ReadOnly(const std::string &path) {
    return faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0 && errno != ENOENT;
}

int32_t Attributes(const std::string &path, const Info &info) {
    int32_t a = info.folder ? 16 : 32;
    if (ReadOnly(path))
        a |= 1;
    const std::string_view name = LastName(path);
    if (!name.empty() && name.front() == '.')
        a |= 2;
    if (info.link)
        a |= 1024;
    return a;
}

void SetAttributes(const std::string &path, int32_t attributes) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0)
        RaiseErrno(errno, path, err::FileNotFound);
    const bool wanted = (attributes & 1) != 0;
    if (wanted == ReadOnly(path))
        return;
    mode_t mode = st.st_mode & 07777;
    mode = wanted ? (mode & ~mode_t{S_IWUSR | S_IWGRP | S_IWOTH}) : (mode | S_IWUSR);
    if (chmod(path.c_str(), mode) != 0)
        RaiseErrno(errno, path, err::FileNotFound);
}

Value DateOf(const timespec &t) {
    std::tm tm{};
    const time_t secs = t.tv_sec;
    if (!localtime_r(&secs, &tm))
        return Value::date(0);
    double serial = vbscript::makeDate(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
    const double time = (tm.tm_hour * 3600.0 + tm.tm_min * 60.0 + tm.tm_sec) / 86400.0;
    // Before 1899-12-30 the serial is negative and its fraction still counts forwards.
    serial = serial < 0 ? serial - time : serial + time;
    return Value::date(serial);
}

Value SizeValue(uint64_t size) {
    if (size <= 0x7FFFFFFFu)
        return Value::lng(static_cast<int32_t>(size));
    return Value::dbl(static_cast<double>(size));
}

std::vector<std::string> List(const std::string &folder, bool folders) {
    std::unique_ptr<DIR, DirCloser> dir(opendir(folder.c_str()));
    if (!dir)
        RaiseErrno(errno, folder, err::PathNotFound);
    std::vector<std::string> names;
    while (const dirent *e = readdir(dir.get())) {
        const std::string_view name = e->d_name;
        if (name == "." || name == "..")
            continue;
        bool isFolder = e->d_type == DT_DIR;
        if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK)
            isFolder = IsFolder(Join(folder, name));
        if (isFolder == folders)
            names.emplace_back(name);
    }
    auto folded = [](const std::string &s) {
        std::string f = s;
        for (char &c : f)
            if (c >= 'a' && c <= 'z')
                c = static_cast<char>(c - 'a' + 'A');
        return f;
    };
    std::sort(names.begin(), names.end(), [&](const std::string &a, const std::string &b) {
        const std::string fa = folded(a), fb = folded(b);
        return fa != fb ? fa < fb : a < b;
    });
    return names;
}

Matches Expand(const std::string &pattern, bool folders) {
    Matches m;
    const std::string_view last = LastName(pattern);
    m.folder = std::string(ParentOf(pattern));
    if (m.folder.empty())
        m.folder = ".";
    if (!IsFolder(m.folder))
        Raise(err::PathNotFound);
    for (std::string &name : List(m.folder, folders))
        if (WildcardMatch(last, name))
            m.names.push_back(std::move(name));
    return m;
}

} // namespace kestrun::scripting::fs
