#include "AppController.h"
#include "TerminationSignals.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(AppController::applicationName);
    QApplication::setOrganizationName(QStringLiteral("Veltrano"));
    QApplication::setApplicationVersion(QStringLiteral(PINGLARK_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("pinglark"));
    // The program lives in the tray: closing a window (About, Preferences) must not end it.
    QApplication::setQuitOnLastWindowClosed(false);

    quitOnTerminationSignals();

    AppController controller;
    controller.awakeFromNib();
    return QApplication::exec();
}
