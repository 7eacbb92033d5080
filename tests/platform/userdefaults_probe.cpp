// Reads keys from the standard settings store in a process of its own, as the application does
// after a restart, and prints one line per key:
//   <key> contains=<0|1> bool=<0|1> float=<value>
#include "UserDefaults.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const UserDefaults defaults = UserDefaults::standardUserDefaults();
    const QStringList keys = app.arguments().mid(1);
    for (const QString& key : keys) {
        std::printf("%s contains=%d bool=%d float=%.9g\n", qUtf8Printable(key),
                    defaults.contains(key) ? 1 : 0, defaults.boolForKey(key) ? 1 : 0,
                    static_cast<double>(defaults.floatForKey(key)));
    }
    return 0;
}
