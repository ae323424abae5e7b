// Paths, file facts and error numbers shared by the file system objects. Paths are Linux paths in
// UTF-8 ('/' separates components; '\' is an ordinary character of a name).
#pragma once

#include "vbscript/interp.h"

#include <cstdint>
#include <ctime>
#include <dirent.h>
#include <string>
#include <string_view>
#include <vector>

namespace kestrun::scripting::fs {

using vbscript::Interp;
using vbscript::Value;

// A script's path text as a file name (UTF-8). A name with a zero character raises 52.
struct DirCloser {
    void operator()(DIR *d) const { closedir(d); }
};

std::string Native(std::u16string_view path);
std::u16string Wide(std::string_view path);

// Raises the language's error for a failed system call on `path`. A missing file is
// `notFound` (53 for files, 76 for folders) when its folder exists, 76 when it does not.
[[noreturn]] void RaiseErrno(int error, const std::string &path, int32_t notFound);
[[noreturn]] void Raise(int32_t number);

// The path made absolute against the current folder, with "." and ".." resolved and repeated
// or trailing separators removed (the root stays "/"). Nothing is looked up on disk.
std::string Absolute(std::string_view path);
// The last component ("" for "/"), ignoring trailing separators.
std::string_view LastName(std::string_view path);
// Everything before the last component, without its trailing separator ("/" for a top-level
// name, "" when there is no separator).
std::string_view ParentOf(std::string_view path);
std::string Join(std::string_view folder, std::string_view name);

bool HasWildcards(std::string_view name);
// `*` matches any run of characters, `?` one character; a pattern ending in ".*" also matches
// names without an extension, so "*.*" matches every name.
bool WildcardMatch(std::string_view pattern, std::string_view name);

struct Info {
    bool exists = false;
    bool folder = false;
    bool link = false; // the name itself is a symbolic link
    uint64_t size = 0;
    timespec modified{}, accessed{}, created{};
};
// Follows symbolic links for the facts, notes whether the name is one. When the name does not
// exist, errno tells why.
Info Stat(const std::string &path);
bool IsFolder(const std::string &path);
bool IsFile(const std::string &path);
// The process may not write the file: what the read-only attribute reports.
bool ReadOnly(const std::string &path);
// The attribute bits of the platform's file objects: 1 read-only, 2 hidden (leading dot),
// 16 folder, 32 archive (every file), 1024 symbolic link.
int32_t Attributes(const std::string &path, const Info &info);
// Sets or clears the read-only attribute (write permission); other bits are left alone.
void SetAttributes(const std::string &path, int32_t attributes);

// A file time as a Date value in local time.
Value DateOf(const timespec &t);
// A size as a Long when it fits, otherwise a Double.
Value SizeValue(uint64_t size);

// The names in `folder` (without "." and ".."), folders or files as asked, in the order of a
// case-insensitive comparison. Raises 76 when the folder cannot be read.
std::vector<std::string> List(const std::string &folder, bool folders);

// The entries that a path with wildcards in its last component matches: the folder part must
// exist (76), and `folders` chooses what kind of entries match.
struct Matches {
    std::string folder;
    std::vector<std::string> names;
};
Matches Expand(const std::string &pattern, bool folders);

} // namespace kestrun::scripting::fs
