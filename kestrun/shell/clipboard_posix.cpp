// The clipboard seam through the helper program that owns the X11 CLIPBOARD selection. A
// selection lives only as long as its owner, so the owner cannot be the calling process: the
// helper runs in a session of its own, detached from the caller, which waits (bounded) only for
// its answer.
#include "kestrun/shell/clipboard_seam.h"

#include "kestrun/shell/child_process.h"
#include "kestrun/shell/clipboard.h"
#include "kestrun/shell/clipboard_protocol.h"

#include <chrono>
#include <climits>
#include <unistd.h>

namespace kestrun::shell {
namespace {

namespace protocol = clipboard_protocol;

class HelperClipboard final : public ClipboardSeam {
public:
    bool PutFiles(const std::vector<std::string> &files) override {
        const auto program = FindHelper(protocol::kProgramName);
        if (!program) {
            return false;
        }
        std::vector<std::string> uris;
        for (const auto &file : files) {
            uris.push_back(FileUri(file));
        }
        auto child = ChildProcess::Start(*program, uris, true);
        if (!child) {
            return false;
        }
        const auto answer =
            child->ReadOutput(std::chrono::milliseconds(protocol::kAnswerMilliseconds), '\n');
        if (!answer) {
            child->Kill(); // no answer in time: the helper and its server process go
        }
        child->Wait();
        return answer && *answer == protocol::kOwned;
    }
};

} // namespace

std::unique_ptr<ClipboardSeam> SystemClipboard() {
    return std::make_unique<HelperClipboard>();
}

std::string RelativePathBase() {
    char buffer[PATH_MAX];
    return ::getcwd(buffer, sizeof buffer) != nullptr ? std::string(buffer) : std::string("/");
}

} // namespace kestrun::shell
