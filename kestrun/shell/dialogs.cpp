#include "kestrun/shell/dialogs.h"

#include "kestrun/interop/codepage.h"
#include "kestrun/interop/errors.h"

namespace kestrun::shell {
namespace {

using interop::AnsiToWide;
using interop::WideToAnsi;

// The notes a failed file dialog call appends, one per stage it reached (GBK).
// 对话框已初始化;
constexpr char kNoteFilled[] = "\xB6\xD4\xBB\xB0\xBF\xF2\xD2\xD1\xB3\xF5\xCA\xBC\xBB\xAF;";
// 已执行试图打开对话框;
constexpr char kNoteCalling[] =
    "\xD2\xD1\xD6\xB4\xD0\xD0\xCA\xD4\xCD\xBC\xB4\xF2\xBF\xAA\xB6\xD4\xBB\xB0\xBF\xF2;";
// 已执行打开对话框;
constexpr char kNoteConfirmed[] =
    "\xD2\xD1\xD6\xB4\xD0\xD0\xB4\xF2\xBF\xAA\xB6\xD4\xBB\xB0\xBF\xF2;";

enum class Stage { None, Filled, Calling, Confirmed };

std::string FailureText(Stage stage) {
    std::string text;
    interop::ExceptionMessage(text);
    if (stage >= Stage::Filled) {
        text += kNoteFilled;
    }
    if (stage >= Stage::Calling) {
        text += kNoteCalling;
    }
    if (stage >= Stage::Confirmed) {
        text += kNoteConfirmed;
    }
    return text;
}

std::u16string InitialFolder(std::string_view initialFolder, const DesktopFolderSource &desktop) {
    return initialFolder.empty() ? desktop() : AnsiToWide(initialFolder);
}

// The common road of the two file dialogs; `finish` turns a confirmed answer into the result.
template <class Finish>
std::string RunFileDialog(DialogSeam &dialogs, DialogRequest request, Finish &&finish) {
    Stage stage = Stage::None;
    try {
        stage = Stage::Filled;
        stage = Stage::Calling;
        const DialogAnswer answer = dialogs.Show(request);
        if (!answer.confirmed || answer.paths.empty()) {
            return {};
        }
        stage = Stage::Confirmed;
        const std::u16string result = finish(answer);
        return result.empty() ? std::string() : WideToAnsi(result);
    } catch (...) {
        return FailureText(stage);
    }
}

} // namespace

std::u16string FilterList(std::u16string_view filter) {
    if (filter.empty()) {
        return {};
    }
    std::u16string list(filter);
    for (char16_t &unit : list) {
        if (unit == u'|') {
            unit = u'\0';
        }
    }
    list.append(2, u'\0');
    return list;
}

std::vector<std::pair<std::u16string, std::u16string>> FilterPairs(std::u16string_view list) {
    std::vector<std::pair<std::u16string, std::u16string>> pairs;
    std::vector<std::u16string> texts;
    size_t start = 0;
    while (start < list.size()) {
        const size_t end = std::min(list.find(u'\0', start), list.size());
        if (end == start) {
            break;
        }
        texts.emplace_back(list.substr(start, end - start));
        start = end + 1;
    }
    for (size_t i = 0; i + 1 < texts.size(); i += 2) {
        pairs.emplace_back(texts[i], texts[i + 1]);
    }
    return pairs;
}

std::u16string JoinSelection(const std::vector<std::u16string> &paths,
                             std::u16string_view separator) {
    std::u16string joined;
    for (const auto &path : paths) {
        joined.append(path).append(separator);
    }
    return joined;
}

std::vector<std::u16string> SelectionPaths(std::u16string_view buffer, size_t firstName) {
    std::vector<std::u16string> paths;
    if (firstName == 0 || firstName >= buffer.size()) {
        return paths;
    }
    std::u16string folder(buffer.substr(0, firstName - 1));
    if (folder.empty() || folder.back() != u'\\') {
        folder.push_back(u'\\');
    }
    size_t start = firstName;
    while (start < buffer.size()) {
        const size_t end = std::min(buffer.find(u'\0', start), buffer.size());
        if (end == start) {
            break;
        }
        paths.push_back(folder + std::u16string(buffer.substr(start, end - start)));
        start = end + 1;
    }
    return paths;
}

std::u16string WithDefaultExtension(std::u16string path, std::u16string_view extension) {
    while (!extension.empty() && extension.front() == u'.') {
        extension.remove_prefix(1);
    }
    if (extension.empty() || path.empty() || path.back() == u'/') {
        return path;
    }
    const size_t slash = path.rfind(u'/');
    const size_t nameStart = slash == std::u16string::npos ? 0 : slash + 1;
    if (path.find(u'.', nameStart) == std::u16string::npos) {
        path.append(u".").append(extension);
    }
    return path;
}

std::string ShowOpenFile(DialogSeam &dialogs, const DesktopFolderSource &desktop, uint64_t owner,
                         std::string_view filter, std::string_view initialFolder,
                         std::string_view fileTitle, std::string_view separator,
                         int32_t multiSelect) {
    std::u16string joinWith;
    DialogRequest request;
    try {
        request.kind = multiSelect == 1 ? DialogKind::OpenMultiple : DialogKind::Open;
        request.owner = owner;
        request.initialFolder = InitialFolder(initialFolder, desktop);
        request.filter = FilterList(AnsiToWide(filter));
        // The file title reaches a field the dialog neither reads nor fills.
        (void)AnsiToWide(fileTitle);
        joinWith = AnsiToWide(separator);
    } catch (...) {
        return FailureText(Stage::None);
    }
    const bool multiple = request.kind == DialogKind::OpenMultiple;
    return RunFileDialog(dialogs, std::move(request), [&](const DialogAnswer &answer) {
        return multiple ? JoinSelection(answer.paths, joinWith) : answer.paths.front();
    });
}

std::string ShowSaveFile(DialogSeam &dialogs, const DesktopFolderSource &desktop, uint64_t owner,
                         std::string_view filter, std::string_view initialFolder,
                         std::string_view fileTitle, std::string_view defaultExtension) {
    DialogRequest request;
    try {
        request.kind = DialogKind::Save;
        request.owner = owner;
        request.initialFolder = InitialFolder(initialFolder, desktop);
        request.filter = FilterList(AnsiToWide(filter));
        (void)AnsiToWide(fileTitle);
        request.defaultExtension = AnsiToWide(defaultExtension);
    } catch (...) {
        return FailureText(Stage::None);
    }
    // The dialog has completed the name with the default extension.
    return RunFileDialog(dialogs, std::move(request),
                         [](const DialogAnswer &answer) { return answer.paths.front(); });
}

std::string ShowBrowserFolder(DialogSeam &dialogs, const DesktopFolderSource &desktop,
                              uint64_t owner, std::string_view initialFolder,
                              std::string_view title) {
    try {
        DialogRequest request;
        request.kind = DialogKind::Folder;
        request.owner = owner;
        // The tree starts at the desktop; the caller's folder goes where only a callback would
        // read it, and there is none.
        (void)AnsiToWide(initialFolder);
        request.initialFolder = desktop();
        request.title = AnsiToWide(title);
        const DialogAnswer answer = dialogs.Show(request);
        if (!answer.confirmed || answer.paths.empty() || answer.paths.front().empty()) {
            return {};
        }
        return WideToAnsi(answer.paths.front());
    } catch (...) {
        std::string text;
        interop::ExceptionMessage(text);
        return text;
    }
}

} // namespace kestrun::shell
