#pragma once

// What the refresh benchmarks start from: a controller after start-up, and the event loop's work
// between two refreshes.

#include "AppController.h"

#include <QCoreApplication>
#include <QSignalSpy>

#include <memory>

// A controller after start-up, whose own first refresh failed (nothing listens on the discard
// port), so its menu shows the placeholder.
inline std::unique_ptr<AppController> startedController() {
    auto app = std::make_unique<AppController>(
        SiteAddresses::forSite(QStringLiteral("http://127.0.0.1:9")));
    QSignalSpy firstRefresh(app.get(), &AppController::refreshFinished);
    app->awakeFromNib();
    firstRefresh.wait(10000);
    return app;
}

// What the event loop does between two refreshes: replaced entries are freed then.
inline void settle() {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}
