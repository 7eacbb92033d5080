#pragma once

#include <QIcon>
#include <QString>

// Makes every window of the program say which program it belongs to, so that task bars and
// window switchers show the program's own name and icon for it: the icon (_NET_WM_ICON on X11)
// and the desktop file's name. Qt hands the desktop file's name to Wayland compositors itself
// (the app_id), but Qt 6.4 does not put it on X11 windows, where KDE Plasma reads it from
// _KDE_NET_WM_DESKTOP_FILE: each window gets it there once it exists.
//
// Call once, after the application object exists.
void identifyWindows(const QString& desktopFileName, const QIcon& icon);
