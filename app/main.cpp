#include "AppController.h"
#include "SingleInstance.h"
#include "TerminationSignals.h"
#include "WaylandFrames.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    // Before Qt starts: no OpenGL comes in for the frames of our windows where the compositor
    // draws them.
    leaveWindowFramesToCompositor();
    QApplication app(argc, argv);
    QApplication::setApplicationName(AppController::applicationName);
    QApplication::setOrganizationName(QStringLiteral("Veltrano"));
    QApplication::setApplicationVersion(QStringLiteral(PINGLARK_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("pinglark"));
    // The program lives in the tray: closing a window (About, Preferences) must not end it.
    QApplication::setQuitOnLastWindowClosed(false);

    quitOnTerminationSignals();

    // One program per session: a second start shows the running one's preferences and ends,
    // before it has put anything on the panel or touched the settings.
    SingleInstance instance;
    if (!instance.claim(SingleInstance::Request::openPreferences()))
        return 0;

    AppController controller;
    QObject::connect(&instance, &SingleInstance::preferencesRequested, &controller,
                     &AppController::openPrefs);
    controller.awakeFromNib();
    return QApplication::exec();
}
