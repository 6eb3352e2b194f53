#include "platform/global_hotkey.h"

#include <X11/keysym.h>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <QCoreApplication>
#include <QGuiApplication>
#include <QMetaObject>
#include <cstdlib>

namespace skarnel {

namespace {

// The modifier bits that take part in a key grab.
constexpr std::uint16_t kModifierBits = XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_LOCK |
                                        XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 | XCB_MOD_MASK_2 |
                                        XCB_MOD_MASK_3 | XCB_MOD_MASK_4 | XCB_MOD_MASK_5;

// The first keycode producing the key symbol, 0 when no key does.
xcb_keycode_t KeycodeOf(xcb_key_symbols_t* symbols, xcb_keysym_t symbol) {
    xcb_keycode_t* codes = xcb_key_symbols_get_keycode(symbols, symbol);
    const xcb_keycode_t code = codes != nullptr ? codes[0] : XCB_NO_SYMBOL;
    std::free(codes);
    return code;
}

// The modifier bit NumLock sets: the modifier its key is mapped to, usually Mod2.
std::uint16_t NumLockMask(xcb_connection_t* connection, xcb_key_symbols_t* symbols) {
    std::uint16_t mask = 0;
    xcb_keycode_t* numLock = xcb_key_symbols_get_keycode(symbols, XK_Num_Lock);
    xcb_get_modifier_mapping_reply_t* map =
        xcb_get_modifier_mapping_reply(connection, xcb_get_modifier_mapping(connection), nullptr);
    if (numLock != nullptr && map != nullptr) {
        const xcb_keycode_t* mapped = xcb_get_modifier_mapping_keycodes(map);
        const int perModifier = map->keycodes_per_modifier;
        for (int i = 0; i < 8 * perModifier; ++i) {
            for (const xcb_keycode_t* k = numLock; *k != XCB_NO_SYMBOL; ++k) {
                if (mapped[i] == *k) {
                    mask |= static_cast<std::uint16_t>(1U << (i / perModifier));
                }
            }
        }
    }
    std::free(numLock);
    std::free(map);
    return mask != 0 ? mask : static_cast<std::uint16_t>(XCB_MOD_MASK_2);
}

}  // namespace

bool GlobalHotKey::DisplayOffersGrabs() {
    auto* x11 =
        qApp != nullptr ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 != nullptr && x11->connection() != nullptr;
}

bool GlobalHotKey::Claim() {
    if (Claimed()) {
        return true;
    }
    auto* x11 =
        qApp != nullptr ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (x11 == nullptr || x11->connection() == nullptr) {
        return false;
    }
    connection_ = x11->connection();
    root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;

    xcb_key_symbols_t* symbols = xcb_key_symbols_alloc(connection_);
    if (symbols == nullptr) {
        return false;
    }
    keycode_ = KeycodeOf(symbols, XK_Insert);
    locks_ = NumLockMask(connection_, symbols) | XCB_MOD_MASK_LOCK;
    xcb_key_symbols_free(symbols);
    if (keycode_ == XCB_NO_SYMBOL) {
        return false;
    }

    const std::uint16_t numLock = locks_ & ~XCB_MOD_MASK_LOCK;
    const std::uint16_t variants[] = {
        XCB_MOD_MASK_CONTROL, static_cast<std::uint16_t>(XCB_MOD_MASK_CONTROL | numLock),
        XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_LOCK,
        static_cast<std::uint16_t>(XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_LOCK | numLock)};
    // All four requests go out before the first answer is awaited.
    xcb_void_cookie_t cookies[4];
    for (int i = 0; i < 4; ++i) {
        cookies[i] = xcb_grab_key_checked(connection_, 1, root_, variants[i], keycode_,
                                          XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
    }
    bool refused = false;
    for (int i = 0; i < 4; ++i) {
        if (xcb_generic_error_t* error = xcb_request_check(connection_, cookies[i])) {
            // BadAccess: another client holds this combination.
            refused = true;
            std::free(error);
        } else {
            grabbed_.push_back(variants[i]);
        }
    }
    if (refused) {
        Ungrab();
        return false;
    }
    qApp->installNativeEventFilter(this);
    return true;
}

void GlobalHotKey::Release() {
    if (!Claimed()) {
        return;
    }
    // Without the application the connection is gone, and the grabs with it.
    if (QCoreApplication::instance() != nullptr) {
        QCoreApplication::instance()->removeNativeEventFilter(this);
        Ungrab();
    }
    grabbed_.clear();
}

void GlobalHotKey::Ungrab() {
    for (std::uint16_t modifiers : grabbed_) {
        xcb_ungrab_key(connection_, keycode_, root_, modifiers);
    }
    xcb_flush(connection_);
    grabbed_.clear();
}

bool GlobalHotKey::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType != "xcb_generic_event_t") {
        return false;
    }
    auto* event = static_cast<xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7f) != XCB_KEY_PRESS) {
        return false;
    }
    auto* press = static_cast<xcb_key_press_event_t*>(message);
    const std::uint16_t modifiers = press->state & kModifierBits & ~locks_;
    if (press->event != root_ || press->detail != keycode_ || modifiers != XCB_MOD_MASK_CONTROL) {
        return false;
    }
    // Later, from the event loop: the receiver may open a modal dialog, which
    // must not run inside the dispatch of a native event.
    QMetaObject::invokeMethod(
        this, [this] { emit activated(); }, Qt::QueuedConnection);
    return true;
}

}  // namespace skarnel
