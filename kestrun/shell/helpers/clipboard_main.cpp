// kestrun-clipboard: owns the X11 CLIPBOARD selection for a list of file URIs, the way file
// managers offer files for "paste as copy". See clipboard_protocol.h for the conversation.
//
// Targets served: TARGETS, TIMESTAMP, text/uri-list (URIs each ended by CRLF),
// x-special/gnome-copied-files ("copy" and the URIs on lines of their own) and
// application/x-kde-cutselection ("0": not a cut).
#include "kestrun/shell/clipboard_protocol.h"
#include "kestrun/x11/xcb_owned.h"

#include <fcntl.h>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace {

namespace protocol = kestrun::shell::clipboard_protocol;
namespace x11 = kestrun::x11;

void Answer(std::string_view text) {
    while (!text.empty()) {
        const ssize_t written = ::write(1, text.data(), text.size());
        if (written <= 0) {
            break;
        }
        text.remove_prefix(size_t(written));
    }
    // The caller reads until the pipe closes: hand it /dev/null from now on.
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null >= 0) {
        ::dup2(null, 1);
        ::close(null);
    }
}

struct Atoms {
    xcb_atom_t clipboard, targets, timestamp, uriList, gnomeFiles, kdeCut, stamp;
};

class SelectionServer {
public:
    SelectionServer(xcb_connection_t *c, xcb_window_t window, Atoms atoms, xcb_timestamp_t since,
                    const std::vector<std::string> &uris)
        : c_(c), window_(window), atoms_(atoms), since_(since) {
        std::string gnome = "copy";
        for (const auto &uri : uris) {
            uriList_ += uri + "\r\n";
            gnome += "\n" + uri;
        }
        gnome_ = gnome;
    }

    // Serves requests until the selection is taken away or the connection ends.
    void Run() {
        while (true) {
            x11::Reply<xcb_generic_event_t> event(xcb_wait_for_event(c_));
            if (!event) {
                return; // the display went away
            }
            switch (event->response_type & 0x7F) {
            case XCB_SELECTION_CLEAR:
                return;
            case XCB_SELECTION_REQUEST:
                Serve(*reinterpret_cast<xcb_selection_request_event_t *>(event.get()));
                break;
            default:
                break;
            }
        }
    }

private:
    void Serve(const xcb_selection_request_event_t &request) {
        xcb_atom_t property = request.property == XCB_ATOM_NONE ? request.target : request.property;
        if (request.selection != atoms_.clipboard) {
            property = XCB_ATOM_NONE;
        } else if (request.target == atoms_.targets) {
            const xcb_atom_t list[] = {atoms_.targets, atoms_.timestamp, atoms_.uriList,
                                       atoms_.gnomeFiles, atoms_.kdeCut};
            Put(request.requestor, property, XCB_ATOM_ATOM, 32, std::size(list), list);
        } else if (request.target == atoms_.timestamp) {
            Put(request.requestor, property, XCB_ATOM_INTEGER, 32, 1, &since_);
        } else if (request.target == atoms_.uriList) {
            Put(request.requestor, property, atoms_.uriList, 8, uriList_.size(), uriList_.data());
        } else if (request.target == atoms_.gnomeFiles) {
            Put(request.requestor, property, atoms_.gnomeFiles, 8, gnome_.size(), gnome_.data());
        } else if (request.target == atoms_.kdeCut) {
            Put(request.requestor, property, atoms_.kdeCut, 8, 1, "0");
        } else {
            property = XCB_ATOM_NONE;
        }
        xcb_selection_notify_event_t notify{};
        notify.response_type = XCB_SELECTION_NOTIFY;
        notify.time = request.time;
        notify.requestor = request.requestor;
        notify.selection = request.selection;
        notify.target = request.target;
        notify.property = property;
        xcb_send_event(c_, 0, request.requestor, XCB_EVENT_MASK_NO_EVENT,
                       reinterpret_cast<const char *>(&notify));
        xcb_flush(c_);
    }

    void Put(xcb_window_t requestor, xcb_atom_t property, xcb_atom_t type, uint8_t format,
             size_t count, const void *data) {
        // Errors (a requestor that went away) arrive as events and are dropped by Run.
        xcb_change_property(c_, XCB_PROP_MODE_REPLACE, requestor, property, type, format,
                            uint32_t(count), data);
    }

    xcb_connection_t *c_;
    xcb_window_t window_;
    Atoms atoms_;
    xcb_timestamp_t since_;
    std::string uriList_;
    std::string gnome_;
};

// The server's current time, read from the PropertyNotify of a zero-length append.
xcb_timestamp_t ServerTime(xcb_connection_t *c, xcb_window_t window, xcb_atom_t property) {
    xcb_change_property(c, XCB_PROP_MODE_APPEND, window, property, XCB_ATOM_STRING, 8, 0, "");
    xcb_flush(c);
    while (true) {
        x11::Reply<xcb_generic_event_t> event(xcb_wait_for_event(c));
        if (!event || event->response_type == 0) {
            return XCB_CURRENT_TIME; // no display, or no window: the ownership check fails
        }
        if ((event->response_type & 0x7F) == XCB_PROPERTY_NOTIFY) {
            return reinterpret_cast<xcb_property_notify_event_t *>(event.get())->time;
        }
    }
}

int Serve(const std::vector<std::string> &uris) {
    auto display = x11::ConnectDisplay();
    if (!display) {
        Answer(protocol::kNotOwned);
        return 2;
    }
    xcb_connection_t *c = display->connection.get();
    xcb_screen_t *screen = x11::ScreenOf(c, display->screen);
    if (screen == nullptr) {
        Answer(protocol::kNotOwned);
        return 2;
    }
    const auto names = x11::InternAtoms<7>(
        c, {"CLIPBOARD", "TARGETS", "TIMESTAMP", "text/uri-list", "x-special/gnome-copied-files",
            "application/x-kde-cutselection", "_KESTRUN_CLIPBOARD_TIME"});
    const Atoms atoms{names[0], names[1], names[2], names[3], names[4], names[5], names[6]};
    const xcb_window_t window = xcb_generate_id(c);
    const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    // Not waited for on its own: a window that could not be made fails the ownership check.
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &mask);
    const xcb_timestamp_t since = ServerTime(c, window, atoms.stamp);
    xcb_set_selection_owner(c, window, atoms.clipboard, since);
    x11::Reply<xcb_get_selection_owner_reply_t> owner(
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, atoms.clipboard), nullptr));
    if (!owner || owner->owner != window) {
        Answer(protocol::kNotOwned);
        return 1;
    }
    Answer(protocol::kOwned);
    SelectionServer(c, window, atoms, since, uris).Run();
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    ::close_range(3, ~0U, 0);
    std::vector<std::string> uris(argv + 1, argv + argc);
    // The caller waits for this process; the selection is served by a child it does not know.
    const pid_t server = ::fork();
    if (server < 0) {
        Answer(protocol::kNotOwned);
        return 1;
    }
    if (server > 0) {
        return 0;
    }
    // Serving needs no folder; holding the caller's one would keep it from being unmounted.
    [[maybe_unused]] const int moved = ::chdir("/");
    return Serve(uris);
}
