#pragma once

// On Wayland, Qt 6.4 finds out whether it may draw window frames by starting its OpenGL buffer
// integration the first time any window is shown: EGL and the whole of Mesa's driver (the software
// renderer, where there is no GPU) come into the process, some 50 MB resident, for plain widget
// windows that never draw with OpenGL.
//
// Where the compositor draws window frames itself (it offers xdg-decoration, as sway, KDE's KWin
// and most wlroots compositors do), Qt would not draw its own frames anyway, so Qt is told not to
// ask (QT_WAYLAND_DISABLE_WINDOWDECORATION=1). Where the compositor leaves the frames to its
// clients (GNOME's, weston), nothing changes: a window without a title bar could not be moved.
//
// Call before the application object exists, while no other thread runs. Asks nothing when Qt is
// told to use another platform, when the variable is set already (the user's choice stands), when
// a connection to the compositor was handed to us (WAYLAND_SOCKET: it is Qt's to take, and
// libwayland takes it out of the environment) or when no compositor answers.
void leaveWindowFramesToCompositor();

// The variable is for our own windows alone, yet every process we start would inherit it (a
// browser, through QDesktopServices::openUrl). While one of these lives, the environment lacks it
// when leaveWindowFramesToCompositor() put it there; a variable the user set stays. Qt reads it
// once, when it shows the first window (QWaylandDisplay::supportsWindowDecoration in Qt 6.4),
// which may come later: so it is put back at the end. Main thread only, where Qt reads it.
class OwnWindowFramesSettingWithheld {
public:
    OwnWindowFramesSettingWithheld();
    ~OwnWindowFramesSettingWithheld();
    OwnWindowFramesSettingWithheld(const OwnWindowFramesSettingWithheld&) = delete;
    OwnWindowFramesSettingWithheld& operator=(const OwnWindowFramesSettingWithheld&) = delete;

private:
    bool m_withheld = false;
};
