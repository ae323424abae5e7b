// What a script changes of "its process" through WScript.Shell: environment variables and the
// current directory. The host process is shared by every thread running scripts at the same time
// (setenv and chdir would race with them), so the changes are kept per script engine instead and
// handed to the programs the script starts.
#pragma once

#include "vbscript/interp.h"

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kestrun::scripting {

class ProcessView {
public:
    // A variable's value: the script's own setting, else the process's (an exact name first,
    // then the first name that differs only in case, as names are case-insensitive on Windows).
    std::optional<std::string> Get(const std::string &name) const;
    void Set(const std::string &name, std::string value) { changes_[name] = std::move(value); }
    void Remove(const std::string &name) { changes_[name] = std::nullopt; }
    // The environment a started program receives, as "NAME=value" entries.
    std::vector<std::string> Environment() const;

    // The current directory: the script's own, else the process's.
    std::string CurrentDirectory() const;
    // Changes it; false when `path` names no directory. Relative paths start from the current
    // one.
    bool SetCurrentDirectory(const std::string &path);

private:
    std::map<std::string, std::optional<std::string>> changes_;
    std::string directory_; // empty: the process's
};

// Implemented by the object host of an engine to give all of its shell objects one view.
class ProcessViewHolder {
public:
    virtual ~ProcessViewHolder() = default;
    std::shared_ptr<ProcessView> processView = std::make_shared<ProcessView>();
};

// The engine's view (through its object host), or a new one when the host keeps none.
std::shared_ptr<ProcessView> ProcessViewOf(vbscript::Interp &in);

} // namespace kestrun::scripting
