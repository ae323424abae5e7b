// The table of libkestrun.so's exports as the command-line host reads it: every export's result,
// its arguments with name, kind, direction and meaning, and an example call. The text of the
// table is kestrun/exports.list, built into the host.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrun_cli {

enum class Kind {
    InString,
    RefString,
    OutString,
    Long,
    RefLong,
    Integer,
    Flag,
    StringArray,
    VariantArray,
    RefVariant,
};
enum class Direction { In, Out, InOut };
enum class ResultKind { String, Long, Integer, Double, None };

struct ArgumentInfo {
    std::string name;
    Kind kind = Kind::InString;
    Direction direction = Direction::In;
    std::string meaning;
};

struct ExportInfo {
    std::string name;
    ResultKind result = ResultKind::None;
    std::vector<ArgumentInfo> arguments;
    std::string resultMeaning;
    bool resultIsStatus = false; // a Long or Integer result that is positive on success
    std::string example;         // the arguments of a typical call
};

std::string_view KindName(Kind kind);
std::string_view DirectionName(Direction direction);
std::string_view ResultName(ResultKind result);

struct TableError {
    int line = 0;
    std::string message;
};

// Parses the table text; on failure `error` says where and why.
std::optional<std::vector<ExportInfo>> ParseExportTable(std::string_view text, TableError &error);

// The table built into this host (parsed once; a malformed table is a build fault and ends the
// program with a message).
const std::vector<ExportInfo> &BuiltInExports();

const ExportInfo *FindExport(const std::vector<ExportInfo> &table, std::string_view name);

// One line per export: NAME(arg, ...) -> Result.
std::string Signature(const ExportInfo &info);

// The help page of one export: arguments, result and an example.
std::string DescribeExport(const ExportInfo &info);

} // namespace kestrun_cli
