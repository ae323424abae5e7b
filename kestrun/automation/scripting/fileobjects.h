// The File, Folder, Drive and collection objects of the file system object, and the copy, move
// and delete operations they share with it.
#pragma once

#include "vbscript/interp.h"

#include <string>
#include <string_view>

namespace kestrun::scripting {

using vbscript::Args;
using vbscript::Interp;
using vbscript::Value;

// Objects for an existing file or folder; the path is made absolute.
Value NewFile(const std::string &path);
Value NewFolder(const std::string &path);
// The one drive of a Linux system: the root folder "/".
Value NewDrive();
Value NewDrives();

// `v` read with `args`: the arguments go to its default member (`fso.Drives("/")`).
Value IndexedValue(Interp &in, Value v, Args args);

// Raises 438 with the member's name, as the engine does for its own objects.
[[noreturn]] void NoMember(std::u16string_view type, std::u16string_view name);

namespace fsops {

// Each takes Linux paths (UTF-8). With `expand`, wildcards (`*`, `?`) in the last component of
// the source name every matching file (or folder) and the destination is a folder; without
// it the source is taken literally. A destination ending in "/" is a folder to copy or move
// into. The first failure raises the language's error and stops the operation.
void CopyFile(const std::string &source, const std::string &dest, bool overwrite, bool expand);
// Returns where the file went (for a single file).
std::string MoveFile(const std::string &source, const std::string &dest, bool expand);
void DeleteFile(const std::string &target, bool force, bool expand);
void CopyFolder(const std::string &source, const std::string &dest, bool overwrite, bool expand);
std::string MoveFolder(const std::string &source, const std::string &dest, bool expand);
void DeleteFolder(const std::string &target, bool force, bool expand);
// Renames a file or folder within its folder; returns the new path. 58 when the name is taken.
std::string Rename(const std::string &path, std::u16string_view newName);

} // namespace fsops

} // namespace kestrun::scripting
