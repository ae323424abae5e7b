// The dialog seam through the GTK helper program: the request goes out on its command line, the
// chosen paths come back NUL-separated on its standard output. The host waits as long as the
// modal dialog is open, as it would for the platform's own dialog.
#include "kestrun/shell/dialog_seam.h"

#include "kestrun/interop/codepage.h"
#include "kestrun/shell/child_process.h"
#include "kestrun/shell/dialog_protocol.h"
#include "kestrun/shell/dialogs.h"

namespace kestrun::shell {
namespace {

namespace protocol = dialog_protocol;

const char *KindName(DialogKind kind) {
    switch (kind) {
    case DialogKind::Open:
        return protocol::kOpen;
    case DialogKind::OpenMultiple:
        return protocol::kOpenMultiple;
    case DialogKind::Save:
        return protocol::kSave;
    case DialogKind::Folder:
        return protocol::kFolder;
    }
    return protocol::kOpen;
}

class HelperDialogs final : public DialogSeam {
public:
    DialogAnswer Show(const DialogRequest &request) override {
        DialogAnswer answer;
        const auto program = FindHelper(protocol::kProgramName);
        if (!program) {
            return answer;
        }
        std::vector<std::string> arguments{KindName(request.kind), std::to_string(request.owner),
                                           interop::WideToUtf8(request.initialFolder),
                                           interop::WideToUtf8(request.title)};
        for (const auto &[description, patterns] : FilterPairs(request.filter)) {
            arguments.push_back(interop::WideToUtf8(description));
            arguments.push_back(interop::WideToUtf8(patterns));
        }
        auto child = ChildProcess::Start(*program, arguments, false);
        if (!child) {
            return answer;
        }
        const auto output = child->ReadOutput(std::nullopt);
        // The helper writes only a confirmed answer, so its output alone decides: a host that
        // reaps every child itself (a SIGCHLD handler) leaves no exit status to read.
        child->Wait();
        if (!output) {
            return answer;
        }
        size_t start = 0;
        while (start < output->size()) {
            const size_t end = output->find('\0', start);
            if (end == std::string::npos) {
                break; // a path without its terminator was cut short
            }
            if (end > start) {
                answer.paths.push_back(
                    interop::Utf8ToWide(std::string_view(*output).substr(start, end - start)));
            }
            start = end + 1;
        }
        answer.confirmed = !answer.paths.empty();
        // The GTK chooser leaves a typed name as it is; the platform's save dialog completes it.
        if (request.kind == DialogKind::Save && answer.confirmed) {
            answer.paths.front() =
                WithDefaultExtension(std::move(answer.paths.front()), request.defaultExtension);
        }
        return answer;
    }
};

} // namespace

std::unique_ptr<DialogSeam> SystemDialogs() {
    return std::make_unique<HelperDialogs>();
}

} // namespace kestrun::shell
