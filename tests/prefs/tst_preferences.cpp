// The preferences window on its own: what it shows from the store, what a save writes and whom it
// tells, what a close without a save drops, and where the window reopens.

#include "PreferenceController.h"
#include "PreferenceKeys.h"
#include "UserDefaults.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

namespace {

// A private settings folder for one test.
struct Store {
    Store() { qputenv("XDG_CONFIG_HOME", dir.path().toLocal8Bit()); }
    static UserDefaults defaults() { return UserDefaults::standardUserDefaults(); }
    static QString text(const QString& key) {
        return defaults().stringForKey(key).value_or(QStringLiteral("<absent>"));
    }
    static QStringList texts() {
        return {text(PreferenceKeys::DataRefreshInterval), text(PreferenceKeys::ShowSource),
                text(PreferenceKeys::TrimTitle), text(PreferenceKeys::FeedURL)};
    }
    QTemporaryDir dir;
};

// The pop-up's periods, in order.
const float periods[] = {900, 1800, 3600, 0};

struct Seen {
    PreferenceController* sender;
    float period;
    bool showSource;
    bool trimTitle;
    QString feed;
    bool windowVisible;
};

// Records each save it hears of, with what the store held at that moment.
class RecordingDelegate : public PreferenceDelegate {
public:
    void onPreferencesUpdate(PreferenceController* sender) override {
        const UserDefaults defaults = Store::defaults();
        calls.append({sender, defaults.floatForKey(PreferenceKeys::DataRefreshInterval),
                      defaults.boolForKey(PreferenceKeys::ShowSource),
                      defaults.boolForKey(PreferenceKeys::TrimTitle),
                      Store::text(PreferenceKeys::FeedURL), sender->window()->isVisible()});
        if (failWith)
            throw std::runtime_error(failWith);
    }
    QList<Seen> calls;
    const char* failWith = nullptr;
};

struct Controls {
    int index;
    bool showSource;
    bool trimTitle;
    QString feed;
    bool operator==(const Controls&) const = default;
};

Controls controls(const PreferenceController& prefs) {
    return {prefs.intervalCombo()->currentIndex(), prefs.showSourceButton()->isChecked(),
            prefs.trimTitleButton()->isChecked(), prefs.feedAddressEdit()->text()};
}

void edit(PreferenceController& prefs, const Controls& to) {
    prefs.intervalCombo()->setCurrentIndex(to.index);
    prefs.showSourceButton()->setChecked(to.showSource);
    prefs.trimTitleButton()->setChecked(to.trimTitle);
    prefs.feedAddressEdit()->setText(to.feed);
}

QWidget* show(PreferenceController& prefs) {
    QWidget* window = prefs.window();
    window->show();
    if (!QTest::qWaitForWindowExposed(window))
        qFatal("the preferences window never showed");
    return window;
}

} // namespace

namespace QTest {
template <> char* toString(const Controls& c) {
    return qstrdup(QByteArray::number(c.index) + (c.showSource ? " source" : " -") +
                   (c.trimTitle ? " trim " : " - ") + c.feed.toUtf8());
}
} // namespace QTest

class TestPreferences : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void openingShowsTheStore_data() {
        QTest::addColumn<QString>("period"); // as written in the file; "" = absent
        QTest::addColumn<QString>("showSource");
        QTest::addColumn<QString>("trimTitle");
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("handSet"); // the title of an item of its own; "" = none
        const auto row = [](const char* title, const char* period, const char* showSource,
                            const char* trimTitle, int index, const char* handSet = "") {
            QTest::newRow(title) << QString::fromLatin1(period) << QString::fromLatin1(showSource)
                                 << QString::fromLatin1(trimTitle) << index
                                 << QString::fromLatin1(handSet);
        };
        row("absent", "", "", "", 3);
        row("15 minutes", "900", "true", "false", 0);
        row("30 minutes", "1800", "false", "true", 1);
        row("60 minutes, first-run numbers", "3600", "0", "1", 2);
        row("never", "0", "1.0", "0.0", 3);
        row("negative", "-600", "", "", 3);
        row("not a number", "soon", "", "", 3);
        row("10 minutes by hand", "600", "true", "true", 4, "Every 10 minutes");
        row("45 seconds", "45", "", "", 4, "Every 45 seconds");
        row("90 seconds", "90", "", "", 4, "Every 90 seconds");
        row("one minute", "60", "", "", 4, "Every minute");
        row("2 hours", "7200", "", "", 4, "Every 2 hours");
        row("close to 30 minutes", "1800.001", "", "", 4, "Every 1800.001 seconds");
    }
    void openingShowsTheStore() {
        QFETCH(QString, period);
        QFETCH(QString, showSource);
        QFETCH(QString, trimTitle);
        QFETCH(int, index);
        QFETCH(QString, handSet);
        Store store;
        UserDefaults defaults = Store::defaults();
        const std::pair<QString, QString> stored[] = {{PreferenceKeys::DataRefreshInterval, period},
                                                      {PreferenceKeys::ShowSource, showSource},
                                                      {PreferenceKeys::TrimTitle, trimTitle}};
        for (const auto& [key, text] : stored)
            if (!text.isEmpty())
                defaults.setString(text, key);
        const Controls expected{index, defaults.boolForKey(PreferenceKeys::ShowSource),
                                defaults.boolForKey(PreferenceKeys::TrimTitle)};
        const float storedPeriod = defaults.floatForKey(PreferenceKeys::DataRefreshInterval);

        PreferenceController prefs;
        QWidget* window = prefs.window();
        QCOMPARE(prefs.window(), window); // built once

        QComboBox* combo = prefs.intervalCombo();
        QCOMPARE(combo->count(), handSet.isEmpty() ? 4 : 5);
        const QStringList titles{"Every 15 minutes", "Every 30 minutes", "Every 60 minutes",
                                 "Never", handSet};
        for (int i = 0; i < combo->count(); ++i) {
            QCOMPARE(combo->itemText(i), titles[i]);
            QCOMPARE(combo->itemData(i).toFloat(), i < 4 ? periods[i] : storedPeriod);
        }
        QCOMPARE(controls(prefs), expected);

        // Opening writes nothing; a save that only toggles a check box stores the period shown,
        // so a period set by hand stays as it was written.
        for (const auto& [key, text] : stored)
            QCOMPARE(Store::text(key), text.isEmpty() ? QStringLiteral("<absent>") : text);
        RecordingDelegate delegate;
        prefs.setDelegate(&delegate);
        prefs.showSourceButton()->toggle();
        prefs.updateCheckDataInterval();
        if (handSet.isEmpty())
            QCOMPARE(defaults.floatForKey(PreferenceKeys::DataRefreshInterval), periods[index]);
        else
            QCOMPARE(Store::text(PreferenceKeys::DataRefreshInterval), period);
        QCOMPARE(defaults.boolForKey(PreferenceKeys::ShowSource), !expected.showSource);
        QCOMPARE(defaults.boolForKey(PreferenceKeys::TrimTitle), expected.trimTitle);
    }

    void closeWithoutSaveDropsTheEdits() {
        Store store;
        UserDefaults defaults = Store::defaults();
        defaults.setFloat(600, PreferenceKeys::DataRefreshInterval);
        defaults.setBool(false, PreferenceKeys::ShowSource);
        defaults.setBool(true, PreferenceKeys::TrimTitle);
        const QStringList before = Store::texts();

        PreferenceController prefs;
        RecordingDelegate delegate;
        prefs.setDelegate(&delegate);
        QWidget* window = show(prefs);
        const Controls loaded{4, false, true};
        QCOMPARE(controls(prefs), loaded);
        edit(prefs, {3, true, false, "http://news.example/feed"});
        QVERIFY(window->close());
        QCOMPARE(controls(prefs), loaded);
        QCOMPARE(Store::texts(), before);
        QVERIFY(delegate.calls.isEmpty());

        // After a save the saved choices are what a later unsaved close goes back to.
        show(prefs);
        const Controls saved{0, true, true, "https://news.example/feed"};
        edit(prefs, saved);
        QTest::mouseClick(prefs.saveButton(), Qt::LeftButton);
        show(prefs);
        edit(prefs, {2, false, false, ""});
        QVERIFY(window->close());
        QCOMPARE(controls(prefs), saved);
    }

    void saveWritesThenTellsTheDelegateThenCloses_data() {
        QTest::addColumn<int>("index");
        QTest::addColumn<bool>("showSource");
        QTest::addColumn<bool>("trimTitle");
        QTest::addColumn<QString>("feed"); // as typed; empty: the built-in feed, no key kept
        QTest::newRow("15 minutes, both options, a feed")
            << 0 << true << true << " https://news.example/feed.xml ";
        QTest::newRow("60 minutes, sources only") << 2 << true << false << "";
        QTest::newRow("never, no option") << 3 << false << false << "";
    }
    void saveWritesThenTellsTheDelegateThenCloses() {
        QFETCH(int, index);
        QFETCH(bool, showSource);
        QFETCH(bool, trimTitle);
        QFETCH(QString, feed);
        Store store;
        UserDefaults defaults = Store::defaults();
        defaults.setString("http://old.example/feed", PreferenceKeys::FeedURL);
        defaults.setFloat(1800, PreferenceKeys::DataRefreshInterval);
        defaults.setBool(!showSource, PreferenceKeys::ShowSource);
        defaults.setBool(!trimTitle, PreferenceKeys::TrimTitle);

        PreferenceController prefs;
        RecordingDelegate delegate;
        prefs.setDelegate(&delegate);
        QWidget* window = show(prefs);
        const Controls chosen{index, showSource, trimTitle, feed};
        edit(prefs, chosen);
        QTest::mouseClick(prefs.saveButton(), Qt::LeftButton);

        QCOMPARE(delegate.calls.size(), 1);
        const Seen& seen = delegate.calls[0];
        QCOMPARE(seen.sender, &prefs);
        QCOMPARE(seen.period, periods[index]);
        QCOMPARE(seen.showSource, showSource);
        QCOMPARE(seen.trimTitle, trimTitle);
        QCOMPARE(seen.feed, feed.isEmpty() ? "<absent>" : feed.trimmed());
        QVERIFY(seen.windowVisible); // told before the window closes
        QVERIFY(!window->isVisible());
        QCOMPARE(controls(prefs), chosen);
        // Booleans are written as booleans, not as the numbers of the first run.
        QCOMPARE(Store::text(PreferenceKeys::ShowSource),
                 showSource ? QStringLiteral("true") : QStringLiteral("false"));
    }

    void refusedFeedAddressSavesNothing_data() {
        QTest::addColumn<QString>("address");
        for (const char* address : {"ftp://news.example/feed", "file:///etc/passwd",
                                    "news.example/feed", "http://", "http://news example/feed"})
            QTest::newRow(address) << QString::fromLatin1(address);
    }
    void refusedFeedAddressSavesNothing() {
        QFETCH(QString, address);
        Store store;
        Store::defaults().setString("http://old.example/feed", PreferenceKeys::FeedURL);
        const QStringList before = Store::texts();
        PreferenceController prefs;
        RecordingDelegate delegate;
        prefs.setDelegate(&delegate);
        QWidget* window = show(prefs);
        QLabel* message = prefs.feedAddressMessage();
        QVERIFY(!message->isVisible());
        edit(prefs, {0, true, true, address});
        QTest::mouseClick(prefs.saveButton(), Qt::LeftButton);
        QCOMPARE(Store::texts(), before);
        QVERIFY(delegate.calls.isEmpty());
        QVERIFY(window->isVisible());
        QVERIFY(message->isVisible());

        // Mended, the address saves with the rest.
        prefs.feedAddressEdit()->clear();
        QTest::keyClicks(prefs.feedAddressEdit(), "https://news.example/feed");
        QVERIFY(!message->isVisible());
        QTest::mouseClick(prefs.saveButton(), Qt::LeftButton);
        QCOMPARE(delegate.calls.size(), 1);
        QCOMPARE(Store::text(PreferenceKeys::FeedURL), "https://news.example/feed");
        QVERIFY(!window->isVisible());
    }

    void saveWithNobodyToTell() {
        Store store;
        PreferenceController prefs;
        QWidget* window = show(prefs);
        edit(prefs, {0, true, false});

        // Called directly, the save throws after writing the store.
        QVERIFY_THROWS_EXCEPTION(PreferenceError, prefs.updateCheckDataInterval());
        QCOMPARE(Store::defaults().floatForKey(PreferenceKeys::DataRefreshInterval), 900.0f);
        QVERIFY(Store::defaults().boolForKey(PreferenceKeys::ShowSource));
        QVERIFY(window->isVisible());

        // From the button, the error goes to the log and not into the event loop.
        QTest::ignoreMessage(QtWarningMsg, "Delegate doesn't respond to our Delegate");
        QTest::mouseClick(prefs.saveButton(), Qt::LeftButton);
        QVERIFY(window->isVisible());

        // So does a delegate that fails; the window stays open for another try.
        RecordingDelegate delegate;
        delegate.failWith = "no room";
        prefs.setDelegate(&delegate);
        QTest::ignoreMessage(QtWarningMsg, "no room");
        QTest::mouseClick(prefs.saveButton(), Qt::LeftButton);
        QCOMPARE(delegate.calls.size(), 1);
        QVERIFY(window->isVisible());
        delegate.failWith = nullptr;
        QTest::mouseClick(prefs.saveButton(), Qt::LeftButton);
        QCOMPARE(delegate.calls.size(), 2);
        QVERIFY(!window->isVisible());
    }

    void windowReopensWhereItWas() {
        Store store;
        // Saved while the window was stretched over the screen: only the place comes back. The
        // window is a dialog exactly as large as its content, which tiling desktops float.
        Store::defaults().setString(QStringLiteral("120,90,1280,772"),
                                    PreferenceController::frameKey());
        QRect place;
        {
            PreferenceController prefs;
            QWidget* window = show(prefs);
            QCOMPARE(window->windowType(), Qt::Dialog);
            QCOMPARE(window->minimumSize(), window->maximumSize());
            QCOMPARE(window->size(), window->sizeHint());
            place = QRect(QPoint(120, 90), window->size());
            QCOMPARE(window->geometry(), place);
            QVERIFY(window->close());
        }
        const QString size = QStringLiteral("%1,%2").arg(place.width()).arg(place.height());
        QCOMPARE(Store::text(PreferenceController::frameKey()), "120,90," + size);
        {
            // A fresh controller, as after a restart; quitting with the window open keeps the
            // place too.
            PreferenceController prefs;
            QWidget* window = show(prefs);
            QCOMPARE(window->geometry(), place);
            window->setGeometry(place.translated(30, 20));
            QTRY_COMPARE(window->geometry(), place.translated(30, 20));
        }
        QCOMPARE(Store::text(PreferenceController::frameKey()), "150,110," + size);

        // A place on no screen is dropped; a damaged entry is ignored.
        Store::defaults().setString(QStringLiteral("30000,30000,420,260"),
                                    PreferenceController::frameKey());
        {
            PreferenceController prefs;
            QWidget* window = show(prefs);
            QCOMPARE(window->size(), place.size());
            QVERIFY(QGuiApplication::screenAt(window->geometry().center()));
        }
        for (const char* damaged : {"", "1,2,3", "a,b,c,d", "10,10,-5,200", "10,10,0,0"})
            QVERIFY2(!PreferenceController::parseFrame(QString::fromLatin1(damaged)), damaged);
        QCOMPARE(PreferenceController::parseFrame(QStringLiteral("-20, 5, 300, 200")),
                 QRect(-20, 5, 300, 200));
    }
};

QTEST_MAIN(TestPreferences)
#include "tst_preferences.moc"
