#pragma once

#include <QAbstractNativeEventFilter>
#include <QObject>
#include <cstdint>
#include <vector>

struct xcb_connection_t;

namespace skarnel {

// Hot key 1, Ctrl+Insert, for the whole desktop: it reaches this program
// whichever window has the keyboard focus. Only on X11, where it is a passive
// key grab on the root window; Wayland offers no such grab (see
// DesktopHotKey for what is used there).
//
// NumLock and CapsLock change the modifier state of a key press, so the key is
// grabbed with Control alone and with each of those locks added.
class GlobalHotKey : public QObject, public QAbstractNativeEventFilter {
    Q_OBJECT
public:
    explicit GlobalHotKey(QObject* parent = nullptr) : QObject(parent) {}
    ~GlobalHotKey() override { Release(); }
    GlobalHotKey(const GlobalHotKey&) = delete;
    GlobalHotKey& operator=(const GlobalHotKey&) = delete;

    // Whether the display lets a program grab a key for the whole desktop
    // (X11). Needs a QGuiApplication.
    static bool DisplayOffersGrabs();
    // Takes the key. False, holding nothing, when the display is not X11 or
    // when the X server refuses a grab (another client holds the key). True
    // when already claimed.
    bool Claim();
    // Gives the key back; nothing when not claimed.
    void Release();
    bool Claimed() const { return !grabbed_.empty(); }

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

signals:
    // The key combination was pressed (not on its release).
    void activated();

private:
    void Ungrab();

    xcb_connection_t* connection_ = nullptr;
    std::uint32_t root_ = 0;
    std::uint8_t keycode_ = 0;
    std::uint16_t locks_ = 0;             // the NumLock and CapsLock modifier bits
    std::vector<std::uint16_t> grabbed_;  // modifier sets held, each with keycode_
};

}  // namespace skarnel
