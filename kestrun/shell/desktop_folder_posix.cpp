#include "kestrun/shell/desktop_folder_seam.h"

#include "kestrun/interop/codepage.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace kestrun::shell {
namespace {

std::string Environment(const char *name) {
    const char *value = std::getenv(name);
    return value == nullptr ? std::string() : std::string(value);
}

// A quoted value of the user-dirs file: backslash escapes a character.
std::string Unquote(std::string_view quoted) {
    std::string out;
    for (size_t i = 0; i < quoted.size(); ++i) {
        if (quoted[i] == '\\' && i + 1 < quoted.size()) {
            ++i;
        }
        out.push_back(quoted[i]);
    }
    return out;
}

} // namespace

std::string DesktopFolderFrom(std::string_view userDirs, std::string_view home) {
    const std::string fallback = std::string(home) + "/Desktop";
    std::string found;
    size_t start = 0;
    while (start < userDirs.size()) {
        size_t end = userDirs.find('\n', start);
        if (end == std::string_view::npos) {
            end = userDirs.size();
        }
        std::string_view line = userDirs.substr(start, end - start);
        start = end + 1;
        const size_t first = line.find_first_not_of(" \t");
        if (first == std::string_view::npos) {
            continue;
        }
        line.remove_prefix(first);
        constexpr std::string_view key = "XDG_DESKTOP_DIR=\"";
        if (!line.starts_with(key)) {
            continue;
        }
        line.remove_prefix(key.size());
        const size_t close = line.rfind('"');
        if (close == std::string_view::npos) {
            continue;
        }
        std::string value = Unquote(line.substr(0, close));
        if (value.starts_with("$HOME")) {
            value = std::string(home) + value.substr(5);
        } else if (!value.starts_with("/")) {
            continue;
        }
        found = value; // the last assignment wins, as when the file is sourced by a shell
    }
    return found.empty() ? fallback : found;
}

std::u16string DesktopFolder() {
    const std::string home = Environment("HOME");
    if (home.empty()) {
        return {};
    }
    std::string config = Environment("XDG_CONFIG_HOME");
    if (config.empty() || config.front() != '/') {
        config = home + "/.config";
    }
    std::ifstream file(config + "/user-dirs.dirs");
    std::ostringstream content;
    if (file) {
        content << file.rdbuf();
    }
    return interop::Utf8ToWide(DesktopFolderFrom(content.str(), home));
}

} // namespace kestrun::shell
