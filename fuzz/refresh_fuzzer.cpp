// Arbitrary feed documents through the refresh into the menu: whatever arrives, the menu ends up
// with entries or the placeholder, above the fixed items, and nothing crashes.

#include "AppController.h"
#include "FeedMenuItem.h"

#include <QApplication>
#include <QMenu>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

AppController* controller = nullptr;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    controller->finishRefresh(bytes);
    QCoreApplication::sendPostedEvents();
    // Replaced entries are freed as the event loop would free them.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    // The feed part is on top and is either entries or one disabled placeholder.
    const QList<QAction*> actions = controller->barMenu()->actions();
    qsizetype feedItems = 0;
    while (feedItems < actions.size() && isFeedMenuItem(actions[feedItems]))
        ++feedItems;
    for (qsizetype i = feedItems; i < actions.size(); ++i)
        if (isFeedMenuItem(actions[i]))
            std::abort();
    if (feedItems == 0)
        std::abort();
    const auto* top = static_cast<FeedMenuItem*>(actions[0]);
    if (!top->feedTitle() && (feedItems != 1 || top->isEnabled()))
        std::abort();
    controller->updateMenuView();
    return 0;
}

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    static QApplication app(*argc, *argv);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    // Nothing listens on the discard port: start-up's own refresh fails at once.
    static AppController app_controller(
        SiteAddresses::forSite(QStringLiteral("http://127.0.0.1:9")));
    controller = &app_controller;
    QSignalSpy firstRefresh(controller, &AppController::refreshFinished);
    controller->awakeFromNib();
    firstRefresh.wait(10000);
    return 0;
}
