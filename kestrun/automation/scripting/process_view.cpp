#include "kestrun/automation/scripting/process_view.h"

#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string_view>

extern char **environ;

namespace kestrun::scripting {

namespace {

// The process's variables as name and value.
std::vector<std::pair<std::string_view, std::string_view>> ProcessVariables() {
    std::vector<std::pair<std::string_view, std::string_view>> out;
    for (char **e = environ; e && *e; ++e) {
        const std::string_view entry(*e);
        const size_t eq = entry.find('=');
        if (eq != std::string_view::npos && eq > 0)
            out.emplace_back(entry.substr(0, eq), entry.substr(eq + 1));
    }
    return out;
}

bool SameIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

} // namespace

std::optional<std::string> ProcessView::Get(const std::string &name) const {
    if (name.empty())
        return std::nullopt;
    if (auto it = changes_.find(name); it != changes_.end())
        return it->second;
    for (const auto &[changed, value] : changes_)
        if (SameIgnoringCase(changed, name))
            return value;
    if (name.find('=') != std::string::npos)
        return std::nullopt;
    if (const char *v = std::getenv(name.c_str()))
        return std::string(v);
    for (const auto &[n, v] : ProcessVariables())
        if (SameIgnoringCase(n, name) && !changes_.count(std::string(n)))
            return std::string(v);
    return std::nullopt;
}

std::vector<std::string> ProcessView::Environment() const {
    std::vector<std::string> out;
    for (const auto &[n, v] : ProcessVariables())
        if (!changes_.count(std::string(n)))
            out.push_back(std::string(n) + "=" + std::string(v));
    for (const auto &[n, v] : changes_)
        if (v)
            out.push_back(n + "=" + *v);
    return out;
}

std::string ProcessView::CurrentDirectory() const {
    if (!directory_.empty())
        return directory_;
    std::error_code error;
    std::filesystem::path here = std::filesystem::current_path(error);
    return error ? std::string("/") : here.string();
}

bool ProcessView::SetCurrentDirectory(const std::string &path) {
    if (path.empty() || path.find('\0') != std::string::npos)
        return false;
    std::filesystem::path target(path);
    if (target.is_relative())
        target = std::filesystem::path(CurrentDirectory()) / target;
    struct stat st {};
    if (::stat(target.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return false;
    std::string text = target.lexically_normal().string();
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    directory_ = std::move(text);
    return true;
}

std::shared_ptr<ProcessView> ProcessViewOf(vbscript::Interp &in) {
    if (auto *holder = dynamic_cast<ProcessViewHolder *>(in.objects.get()))
        return holder->processView;
    return std::make_shared<ProcessView>();
}

} // namespace kestrun::scripting
