#include "WindowIdentity.h"

#include <QGuiApplication>
#include <QIcon>
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

// Puts the desktop file's name on each X11 window as Qt creates it, before it is shown.
class DesktopFileOnX11Windows : public QObject {
public:
    DesktopFileOnX11Windows(xcb_connection_t* connection, const QString& desktopFileName)
        : QObject(qGuiApp), m_connection(connection), m_name(desktopFileName.toUtf8()),
          m_property(atom(connection, "_KDE_NET_WM_DESKTOP_FILE")),
          m_utf8(atom(connection, "UTF8_STRING")) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::PlatformSurface && watched->isWindowType() &&
            static_cast<QPlatformSurfaceEvent*>(event)->surfaceEventType() ==
                QPlatformSurfaceEvent::SurfaceCreated &&
            m_property != XCB_ATOM_NONE && m_utf8 != XCB_ATOM_NONE) {
            xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE,
                                xcb_window_t(static_cast<QWindow*>(watched)->winId()), m_property,
                                m_utf8, 8, uint32_t(m_name.size()), m_name.constData());
            xcb_flush(m_connection);
        }
        return false;
    }

private:
    xcb_connection_t* m_connection;
    QByteArray m_name;
    xcb_atom_t m_property;
    xcb_atom_t m_utf8;
};

} // namespace

void identifyWindows(const QString& desktopFileName, const QString& iconFile) {
    QGuiApplication::setDesktopFileName(desktopFileName);
    QGuiApplication::setWindowIcon(QIcon(iconFile));
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !x11->connection())
        return;
    qGuiApp->installEventFilter(new DesktopFileOnX11Windows(x11->connection(), desktopFileName));
}
