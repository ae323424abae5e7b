// Owners for XCB resources: the connection, replies and errors (malloc'd by XCB), and server-side
// ids (pixmaps, pictures, graphics contexts, windows) freed on the same connection.
#pragma once

#include <xcb/xcb.h>

#include <array>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string_view>

namespace kestrun::x11 {

struct ConnectionClose {
    void operator()(xcb_connection_t *connection) const { xcb_disconnect(connection); }
};
using Connection = std::unique_ptr<xcb_connection_t, ConnectionClose>;

struct MallocFree {
    void operator()(void *p) const { std::free(p); }
};
template <class T> using Reply = std::unique_ptr<T, MallocFree>;

// A connection to $DISPLAY and its screen number, or nothing when no server answers. Never
// exits or aborts the process, whatever the server does later.
struct Display {
    Connection connection;
    int screen = 0;
};
inline std::optional<Display> ConnectDisplay() {
    Display display;
    display.connection.reset(xcb_connect(nullptr, &display.screen));
    if (!display.connection || xcb_connection_has_error(display.connection.get()) != 0) {
        return std::nullopt;
    }
    return display;
}

inline xcb_screen_t *ScreenOf(xcb_connection_t *connection, int number) {
    auto it = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (; it.rem > 0; --number, xcb_screen_next(&it)) {
        if (number == 0) {
            return it.data;
        }
    }
    return nullptr;
}

// Waits for a checked request and discards its error, if any: true when it succeeded.
inline bool Succeeded(xcb_connection_t *connection, xcb_void_cookie_t cookie) {
    Reply<xcb_generic_error_t> error(xcb_request_check(connection, cookie));
    return !error;
}

inline xcb_atom_t InternAtom(xcb_connection_t *connection, std::string_view name) {
    Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, uint16_t(name.size()), name.data()), nullptr));
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

// Several atoms in one round trip: all requests go out before the first reply is awaited.
template <size_t N>
std::array<xcb_atom_t, N> InternAtoms(xcb_connection_t *connection,
                                      const std::array<std::string_view, N> &names) {
    std::array<xcb_intern_atom_cookie_t, N> cookies;
    for (size_t i = 0; i < N; ++i) {
        cookies[i] = xcb_intern_atom(connection, 0, uint16_t(names[i].size()), names[i].data());
    }
    std::array<xcb_atom_t, N> atoms;
    for (size_t i = 0; i < N; ++i) {
        Reply<xcb_intern_atom_reply_t> reply(
            xcb_intern_atom_reply(connection, cookies[i], nullptr));
        atoms[i] = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    }
    return atoms;
}

// A server-side id freed with `release` when the owner goes.
class ServerId {
public:
    using Release = xcb_void_cookie_t (*)(xcb_connection_t *, uint32_t);
    ServerId(xcb_connection_t *connection, Release release)
        : connection_(connection), id_(xcb_generate_id(connection)), release_(release) {}
    ~ServerId() {
        if (live_) {
            release_(connection_, id_);
        }
    }
    ServerId(const ServerId &) = delete;
    ServerId &operator=(const ServerId &) = delete;
    uint32_t id() const { return id_; }
    // Call once the creating request succeeded: from then on the id is released.
    void Created() { live_ = true; }

private:
    xcb_connection_t *connection_;
    uint32_t id_;
    Release release_;
    bool live_ = false;
};

} // namespace kestrun::x11
