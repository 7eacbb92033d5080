// Saves settings and the login items as fast as it can, forever, so that a test can kill it at
// any moment and look at what is left on disk. Prints "ready" once the first round is written.

#include "LaunchAtLogin.h"
#include "PreferenceKeys.h"
#include "UserDefaults.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const QString program = QStringLiteral("/opt/pinglark/bin/pinglark");
    for (int round = 1;; ++round) {
        UserDefaults defaults = UserDefaults::standardUserDefaults();
        defaults.setFloat(float(round), PreferenceKeys::DataRefreshInterval);
        defaults.setBool(round % 2 == 0, PreferenceKeys::ShowSource);
        LaunchAtLogin::enabledAutoStart(round % 2 == 0, program);
        if (round == 1) {
            std::puts("ready");
            std::fflush(stdout);
        }
    }
}
