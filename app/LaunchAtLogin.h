#pragma once

#include <QString>

// Launching Pinglark when the user logs in.
//
// The list of programs to launch lives in the "loginwindow" persistent domain
// ($XDG_CONFIG_HOME/loginwindow.json) under "AutoLaunchedApplicationDictionary"; Pinglark's entry
// is {"Hide": false, "Path": <executable path>}. On Linux the desktop's XDG autostart does the
// launching, so $XDG_CONFIG_HOME/autostart/pinglark.desktop exists and starts the executable while
// the list holds that entry. Two copies of Pinglark (a build tree's and an installed one) share
// that file: it starts one of them, and counts for that one alone.
namespace LaunchAtLogin {

// Takes every entry equal to Pinglark's out of the list and, when enable is true, appends it at
// the end; every other key and entry stays as it is, in order. The domain is written back (on
// disk when the call returns) in both cases, and the autostart file follows the list: the two
// change together or, when either cannot be written, not at all (a log line says what failed).
// A domain file that exists but is not a JSON object, or whose list is not a JSON array, is
// left untouched and nothing changes. Taking the entry out leaves an autostart file that starts
// another executable as it is. True when the change was made.
bool enabledAutoStart(bool enable, const QString& executablePath);

// Whether Pinglark starts at login: the list holds its exact entry, the autostart file's Exec
// starts this executable, and the desktop has not switched the file off (removed it, or marked it
// Hidden=true or X-GNOME-Autostart-enabled=false, as the desktops' own autostart settings do).
bool isAutoStartEnabled(const QString& executablePath);

// As isAutoStartEnabled, and when the desktop has switched the autostart file off (or another
// copy has taken it over) while the list still holds Pinglark's entry, takes that entry out of the
// list (the "Launch at Login" check state, read each time the menu opens).
bool followDesktopSwitches(const QString& executablePath);

// $XDG_CONFIG_HOME/autostart/pinglark.desktop
QString autostartFilePath();

} // namespace LaunchAtLogin
