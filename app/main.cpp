#include "AppController.h"
#include "ImageResource.h"
#include "PreferenceKeys.h"
#include "SingleInstance.h"
#include "TerminationSignals.h"
#include "Translations.h"
#include "UserDefaults.h"
#include "WaylandFrames.h"
#include "WebAddress.h"
#include "WindowIdentity.h"

#include <QApplication>
#include <QCommandLineParser>

#include <cstdio>

namespace {

// What the command line asks of this start.
struct Request {
    std::optional<int> exitStatus; // end at once, with this status
    std::optional<QString> feed;   // read the feed at this address from now on
    bool quit = false;             // ask the running program to quit, and start none
};

// Reads the command line: --help and --version are answered here; an unknown option or a feed
// address that is not an absolute http(s) URL ends the start with status 2. Unless `strict`, an
// unknown option decides nothing yet (it may be one of Qt's own, such as -platform, which only
// QApplication takes out of the arguments).
std::optional<Request> readCommandLine(const QStringList& arguments, bool strict) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Lists a news feed's entries in the menu of a tray icon."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption feed(
        QStringLiteral("feed"),
        QStringLiteral("Read the feed at <url>, an http or https address, from now on."),
        QStringLiteral("url"));
    parser.addOption(feed);
    const QCommandLineOption quit(QStringLiteral("quit"),
                                  QStringLiteral("Ask the running Pinglark to quit."));
    parser.addOption(quit);
    const bool parsed = parser.parse(arguments);
    if (!parsed && !strict && !parser.unknownOptionNames().isEmpty())
        return std::nullopt;
    if (!parsed || !parser.positionalArguments().isEmpty()) {
        const QString error = parsed ? QStringLiteral("Unexpected argument '%1'.")
                                           .arg(parser.positionalArguments().constFirst())
                                     : parser.errorText();
        std::fprintf(stderr, "pinglark: %s\nTry 'pinglark --help'.\n", qUtf8Printable(error));
        return Request{2, {}};
    }
    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) {
        std::fputs(qUtf8Printable(parser.helpText().replace(QStringLiteral("<executable_name>"),
                                                            QStringLiteral("pinglark"))),
                   stdout);
        return Request{0, {}};
    }
    if (parser.isSet(version)) {
        std::printf("%s %s\n", qUtf8Printable(AppController::applicationName), PINGLARK_VERSION);
        return Request{0, {}};
    }
    if (parser.isSet(quit))
        return Request{std::nullopt, {}, true};
    if (!parser.isSet(feed))
        return Request{};
    const QString address = parser.value(feed).trimmed();
    if (!webAddress(address)) {
        std::fprintf(stderr,
                     "pinglark: --feed '%s' is not a feed address: give an absolute http:// or "
                     "https:// URL.\n",
                     qUtf8Printable(address));
        return Request{2, {}};
    }
    return Request{std::nullopt, address};
}

// --quit: the running program, if any, is asked to quit; none is started.
int askToQuit() {
    if (SingleInstance::tell(SingleInstance::Request::quit()))
        return 0;
    std::fputs("pinglark: the running Pinglark did not quit.\n", stderr);
    return 1;
}

QStringList argumentList(int argc, char* argv[]) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    return arguments;
}

} // namespace

int main(int argc, char* argv[]) {
    // Answered before there is any window system to talk to.
    std::optional<Request> request = readCommandLine(argumentList(argc, argv), false);
    if (request && request->exitStatus)
        return *request->exitStatus;
    if (request && request->quit) {
        // Only the bus is needed: no window system.
        const QCoreApplication core(argc, argv);
        return askToQuit();
    }

    // Before Qt starts: no OpenGL comes in for the frames of our windows where the compositor
    // draws them.
    leaveWindowFramesToCompositor();
    QApplication app(argc, argv);
    QApplication::setApplicationName(AppController::applicationName);
    QApplication::setOrganizationName(QStringLiteral("Veltrano"));
    QApplication::setApplicationVersion(QStringLiteral(PINGLARK_VERSION));
    installTranslations();
    identifyWindows(QStringLiteral("pinglark"), programIcon());
    // The program lives in the tray: closing a window (About, Preferences) must not end it.
    QApplication::setQuitOnLastWindowClosed(false);
    if (!request)
        request = readCommandLine(QApplication::arguments(), true);
    if (request->exitStatus)
        return *request->exitStatus;
    if (request->quit)
        return askToQuit();

    quitOnTerminationSignals();

    // One program per session: a second start hands its request (show the preferences, or read
    // another feed) to the running one and ends, before it has put anything on the panel or
    // touched the settings.
    SingleInstance instance;
    if (!instance.claim(request->feed ? SingleInstance::Request::useFeed(*request->feed)
                                      : SingleInstance::Request::openPreferences()))
        return 0;
    if (request->feed)
        UserDefaults::standardUserDefaults().setString(*request->feed, PreferenceKeys::FeedURL);

    AppController controller;
    QObject::connect(&instance, &SingleInstance::preferencesRequested, &controller,
                     &AppController::openPrefs);
    QObject::connect(&instance, &SingleInstance::feedRequested, &controller,
                     &AppController::useFeedAddress);
    controller.awakeFromNib();
    return QApplication::exec();
}
