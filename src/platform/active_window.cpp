#include "platform/active_window.h"

#include <xcb/xcb.h>

#include <QGuiApplication>
#include <cstdlib>
#include <cstring>

namespace skarnel {

namespace {

// The atom of a name, XCB_ATOM_NONE when no client has made it yet (then no
// window carries a property of that name either).
xcb_atom_t ExistingAtom(xcb_connection_t* connection, const char* name) {
    const xcb_intern_atom_cookie_t cookie =
        xcb_intern_atom(connection, 1, static_cast<std::uint16_t>(std::strlen(name)), name);
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection, cookie, nullptr);
    const xcb_atom_t atom = reply != nullptr ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(reply);
    return atom;
}

// The first 32-bit value of a window's property of that type; nothing when
// the window lacks it or is gone.
std::optional<std::uint32_t> Property32(xcb_connection_t* connection, xcb_window_t window,
                                        xcb_atom_t property, xcb_atom_t type) {
    const xcb_get_property_cookie_t cookie =
        xcb_get_property(connection, 0, window, property, type, 0, 1);
    xcb_generic_error_t* error = nullptr;
    xcb_get_property_reply_t* reply = xcb_get_property_reply(connection, cookie, &error);
    std::optional<std::uint32_t> value;
    if (reply != nullptr && reply->type == type && reply->format == 32 &&
        xcb_get_property_value_length(reply) >= 4) {
        std::uint32_t first = 0;
        std::memcpy(&first, xcb_get_property_value(reply), sizeof first);
        value = first;
    }
    std::free(reply);
    std::free(error);
    return value;
}

}  // namespace

std::optional<std::int64_t> X11ActiveWindow::ProcessId() {
    auto* x11 =
        qApp != nullptr ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* connection = x11 != nullptr ? x11->connection() : nullptr;
    if (connection == nullptr) {
        return std::nullopt;
    }
    const xcb_atom_t activeAtom = ExistingAtom(connection, "_NET_ACTIVE_WINDOW");
    const xcb_atom_t pidAtom = ExistingAtom(connection, "_NET_WM_PID");
    if (activeAtom == XCB_ATOM_NONE || pidAtom == XCB_ATOM_NONE) {
        return std::nullopt;
    }
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    const std::optional<std::uint32_t> active =
        Property32(connection, root, activeAtom, XCB_ATOM_WINDOW);
    if (!active || *active == XCB_WINDOW_NONE) {
        return std::nullopt;
    }
    const std::optional<std::uint32_t> pid =
        Property32(connection, *active, pidAtom, XCB_ATOM_CARDINAL);
    if (!pid || *pid == 0) {
        return std::nullopt;
    }
    return std::int64_t{*pid};
}

}  // namespace skarnel
