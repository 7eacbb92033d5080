#include "WindowIdentity.h"

#include <QGuiApplication>
#include <QPlatformSurfaceEvent>
#include <QWindow>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

namespace {

xcb_atom_t atom(xcb_connection_t* connection, const char* name) {
    const xcb_intern_atom_cookie_t cookie =
        xcb_intern_atom(connection, 0, uint16_t(std::strlen(name)), name);
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection, cookie, nullptr);
    const xcb_atom_t found = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return found;
}

// Gives each window that a window manager frames (not the tray icon's, not a menu) the program's
// icon and, on X11, the desktop file's name, as Qt creates it, before it is shown. Not the
// application's window icon: Qt would render it for the tray icon's window at start-up too.
class WindowIdentity : public QObject {
public:
    WindowIdentity(const QString& desktopFileName, const QIcon& icon)
        : QObject(qGuiApp), m_name(desktopFileName.toUtf8()), m_icon(icon) {
        auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
        m_connection = x11 ? x11->connection() : nullptr;
        if (m_connection) {
            m_property = atom(m_connection, "_KDE_NET_WM_DESKTOP_FILE");
            m_utf8 = atom(m_connection, "UTF8_STRING");
        }
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        const QEvent::Type type = event->type();
        if ((type != QEvent::PlatformSurface && type != QEvent::Show) || !watched->isWindowType())
            return false;
        auto* window = static_cast<QWindow*>(watched);
        if ((window->type() != Qt::Window && window->type() != Qt::Dialog) ||
            window->flags() & (Qt::FramelessWindowHint | Qt::BypassWindowManagerHint))
            return false;
        // As it is shown: a widget hands its own icon (none) to its window once it is created.
        if (type == QEvent::Show && window->icon().isNull())
            window->setIcon(m_icon);
        if (type == QEvent::PlatformSurface && m_property != XCB_ATOM_NONE &&
            m_utf8 != XCB_ATOM_NONE &&
            static_cast<QPlatformSurfaceEvent*>(event)->surfaceEventType() ==
                QPlatformSurfaceEvent::SurfaceCreated) {
            xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, xcb_window_t(window->winId()),
                                m_property, m_utf8, 8, uint32_t(m_name.size()), m_name.constData());
            xcb_flush(m_connection);
        }
        return false;
    }

private:
    QByteArray m_name;
    QIcon m_icon;
    xcb_connection_t* m_connection = nullptr;
    xcb_atom_t m_property = XCB_ATOM_NONE;
    xcb_atom_t m_utf8 = XCB_ATOM_NONE;
};

} // namespace

void identifyWindows(const QString& desktopFileName, const QIcon& icon) {
    QGuiApplication::setDesktopFileName(desktopFileName);
    qGuiApp->installEventFilter(new WindowIdentity(desktopFileName, icon));
}
