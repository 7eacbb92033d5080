// The preferences window in the running program: opened from the menu, and a save taking effect
// at once on the refresh timer, the entries' titles and the feed that is read.

#include "AppHarness.h"

#include "PreferenceKeys.h"
#include "UserDefaults.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>

namespace {

// Opens the window from the menu, sets the controls and clicks Save.
void saveFromTheWindow(AppController& app, int index, bool showSource, bool trimTitle,
                       const std::optional<QString>& feed = std::nullopt) {
    app.preferencesMenuItem()->trigger();
    PreferenceController* prefs = app.preferencesController();
    prefs->intervalCombo()->setCurrentIndex(index);
    prefs->showSourceButton()->setChecked(showSource);
    prefs->trimTitleButton()->setChecked(trimTitle);
    if (feed)
        prefs->feedAddressEdit()->setText(*feed);
    QTest::mouseClick(prefs->saveButton(), Qt::LeftButton);
}

} // namespace

class TestPrefsApply : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void savedPeriodTakesEffectAtOnce() {
        AppHarness h({entry("1")});
        // A one-second period set by hand, then "Never" chosen in the window.
        UserDefaults::standardUserDefaults().setString("1", PreferenceKeys::DataRefreshInterval);
        AppController& app = h.start();
        QTRY_VERIFY_WITH_TIMEOUT(h.server.requestCount(AppHarness::feedPath) >= 2, 5000);

        // Opened from the menu, closed, then opened again: the same controller and window, shown
        // in front again.
        app.preferencesMenuItem()->trigger();
        PreferenceController* prefs = app.preferencesController();
        QWidget* window = prefs->window();
        QVERIFY(QTest::qWaitForWindowActive(window));
        QVERIFY(window->close());
        window->setWindowState(Qt::WindowMinimized);
        app.preferencesMenuItem()->trigger();
        QVERIFY(app.preferencesController() == prefs && prefs->window() == window);
        QVERIFY(!window->isMinimized());
        QVERIFY(QTest::qWaitForWindowActive(window));
        QTRY_VERIFY(!app.isRefreshing());
        saveFromTheWindow(app, 3, false, true);
        QVERIFY(!app.dataTimer());

        saveFromTheWindow(app, 0, false, true);
        // The same period again: a new timer, counting down from a full period.
        QPointer<QTimer> before = app.dataTimer();
        saveFromTheWindow(app, 0, false, true);
        QVERIFY(!before);
        // Another period takes effect at once.
        saveFromTheWindow(app, 2, false, true);
        QCOMPARE(app.dataTimer()->interval(), 3600 * 1000);
    }

    void displayOptionsRetitleOnlyWhenChanged() {
        const QString longTitle = QStringLiteral("A headline that is far longer than the limit");
        AppHarness h({{longTitle, "http://x/1", "Ann"}, {"Short", "http://x/2", "Bob"}});
        UserDefaults defaults = UserDefaults::standardUserDefaults(); // as a later run finds it
        defaults.setBool(true, PreferenceKeys::HasRun);
        defaults.setBool(false, PreferenceKeys::TrimTitle);
        AppController& app = h.start();
        const auto titles = [&] {
            return h.feedItems().at(0)->title() + '|' + h.feedItems().at(1)->title();
        };
        // A title the program did not set shows whether the menu was re-titled: nothing changed,
        // or only the period, and the titles stay as they are.
        h.feedItems().at(1)->setTitle(QStringLiteral("untouched"));
        saveFromTheWindow(app, 1, false, false);
        saveFromTheWindow(app, 0, false, false);
        QCOMPARE(titles(), longTitle + "|untouched");
        // Only TrimTitle changed, then only ShowSource: every entry is re-titled.
        saveFromTheWindow(app, 0, false, true);
        QCOMPARE(titles(), longTitle.left(35) + "...|Short");
        saveFromTheWindow(app, 0, true, true);
        QCOMPARE(titles(), longTitle.left(35) + "...  <Ann>|Short  <Bob>");

        // The placeholder keeps its title whatever the options.
        h.server.serveStatus(AppHarness::feedPath, 404);
        QTest::ignoreMessage(QtWarningMsg, formatError);
        QVERIFY(h.refresh());
        saveFromTheWindow(app, 0, false, false);
        QCOMPARE(h.feedItems().at(0)->text(), QStringLiteral("No Data Loaded"));
    }

    void aChangedFeedAddressIsReadAtOnceAsAFirstCheck() {
        AppHarness h({entry("1"), entry("2")});
        AppController& app = h.start();
        h.server.serve("/own.xml", FeedFixture::rss2({entry("7"), entry("8")}, "Own news"));
        // The old feed blinks for a new top entry, and its next refresh is still in flight when
        // the address changes.
        QCOMPARE(h.after({entry("0"), entry("1"), entry("2")}), "new blank blank blinking");
        h.server.hang(AppHarness::feedPath);
        app.updateData();
        QTRY_COMPARE(h.server.requestCount(AppHarness::feedPath), 3);

        // Saved in the window: read now (not at the next period), marking nothing and not
        // blinking; the old fetch brings nothing.
        QVERIFY(h.finished(
            [&] { saveFromTheWindow(app, 1, false, true, h.server.url("/own.xml").toString()); }));
        QCOMPARE(h.links().join(' ') + ' ' + h.state(),
                 "http://news.example/7 http://news.example/8 blank blank");

        // What the old feed brought while the menu was open waits for the menu to close; a
        // change of address drops it, so the menu never shows it.
        h.server.serve("/own.xml", FeedFixture::rss2({entry("5")}, "Own news"));
        app.barMenu()->popup(QPoint(10, 10));
        app.updateData();
        QTRY_VERIFY(!app.isRefreshing());
        const QUrl slow = h.server.url("/slow.xml");
        h.server.hang(slow.path());
        app.useFeedAddress(slow.toString());
        app.barMenu()->hide();
        QCoreApplication::processEvents();
        QCOMPARE(h.links(), QStringList({"http://news.example/7", "http://news.example/8"}));

        // Handed over by a later start: kept, read at once, and shown at the window's next
        // opening. A bad one changes nothing.
        const QString other = h.server.url("/other.xml").toString();
        h.server.serve("/other.xml", FeedFixture::atom({entry("9")}, "Other news"));
        QTest::ignoreMessage(QtWarningMsg, "Feed address \"ftp://x/feed\" refused: it is not an "
                                           "absolute http or https address");
        app.useFeedAddress("ftp://x/feed");
        QCOMPARE(app.feedAddress(), slow);
        QVERIFY(h.finished([&] { app.useFeedAddress(other); }));
        QCOMPARE(h.links().join(' ') + ' ' + h.state(), "http://news.example/9 blank");
        app.preferencesMenuItem()->trigger();
        const QLineEdit* field = app.preferencesController()->feedAddressEdit();
        QCOMPARE(field->text() + '|' + field->placeholderText(),
                 other + '|' + h.server.url(AppHarness::feedPath).toString());

        // An empty field: the built-in feed again, with its own home item even while it fails.
        h.server.serveStatus(AppHarness::feedPath, 404);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Could not update the feed"));
        QTest::ignoreMessage(QtWarningMsg, formatError);
        QVERIFY(h.finished([&] { saveFromTheWindow(app, 1, false, true, QString()); }));
        QCOMPARE(app.homeMenuItem()->text(), "Veltrano Feeds");
        UrlRecorder recorder;
        app.homeMenuItem()->trigger();
        QCOMPARE(recorder.opened, QList{h.server.url("/go/rss_info")});
    }
};

QTEST_MAIN(TestPrefsApply)
#include "tst_prefsapply.moc"
