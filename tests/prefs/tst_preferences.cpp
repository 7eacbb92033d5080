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
    QTemporaryDir dir;
};

UserDefaults defaults() {
    return UserDefaults::standardUserDefaults();
}
QString text(const QString& key) {
    return defaults().stringForKey(key).value_or(QStringLiteral("<absent>"));
}
// The settings the window writes, as the file holds them: period|show source|trim title|feed.
QString stored() {
    return QStringList{text(PreferenceKeys::DataRefreshInterval), text(PreferenceKeys::ShowSource),
                       text(PreferenceKeys::TrimTitle), text(PreferenceKeys::FeedURL)}
        .join(u'|');
}

// Records the store as each save it hears of found it, and whether the window was still open.
class RecordingDelegate : public PreferenceDelegate {
public:
    void onPreferencesUpdate(PreferenceController* sender) override {
        calls.append(stored() + (sender->window()->isVisible() ? "|open" : "|closed"));
        if (failWith)
            throw std::runtime_error(failWith);
    }
    QStringList calls;
    const char* failWith = nullptr;
};

// What the controls show: index|show source|trim title|feed address.
QString controls(const PreferenceController& prefs) {
    return QStringLiteral("%1|%2|%3|%4")
        .arg(prefs.intervalCombo()->currentIndex())
        .arg(int(prefs.showSourceButton()->isChecked()))
        .arg(int(prefs.trimTitleButton()->isChecked()))
        .arg(prefs.feedAddressEdit()->text());
}
void edit(PreferenceController& prefs, int index, bool showSource, bool trimTitle,
          const QString& feed = {}) {
    prefs.intervalCombo()->setCurrentIndex(index);
    prefs.showSourceButton()->setChecked(showSource);
    prefs.trimTitleButton()->setChecked(trimTitle);
    prefs.feedAddressEdit()->setText(feed);
}

QWidget* show(PreferenceController& prefs) {
    QWidget* window = prefs.window();
    window->show();
    if (!QTest::qWaitForWindowExposed(window))
        qFatal("the preferences window never showed");
    return window;
}

} // namespace

class TestPreferences : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void periodsOffered_data() {
        QTest::addColumn<QString>("period"); // as written in the file
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("handSet"); // the title of an item of its own; "" = none
        QTest::newRow("15 minutes") << "900" << 0 << "";
        QTest::newRow("30 minutes") << "1800" << 1 << "";
        QTest::newRow("60 minutes") << "3600" << 2 << "";
        QTest::newRow("never") << "0" << 3 << "";
        QTest::newRow("negative") << "-600" << 3 << "";
        QTest::newRow("10 minutes by hand") << "600" << 4 << "Every 10 minutes";
        QTest::newRow("45 seconds") << "45" << 4 << "Every 45 seconds";
        QTest::newRow("one minute") << "60" << 4 << "Every minute";
        QTest::newRow("close to 30 minutes") << "1800.001" << 4 << "Every 1800.001 seconds";
    }
    void periodsOffered() {
        QFETCH(QString, period);
        QFETCH(int, index);
        QFETCH(QString, handSet);
        Store store;
        defaults().setString(period, PreferenceKeys::DataRefreshInterval);
        PreferenceController prefs;
        prefs.window(); // builds the controls
        QComboBox* combo = prefs.intervalCombo();
        QStringList items;
        for (int i = 0; i < combo->count(); ++i)
            items.append(combo->itemText(i) + ' ' + QString::number(combo->itemData(i).toFloat()));
        QStringList offered{"Every 15 minutes 900", "Every 30 minutes 1800",
                            "Every 60 minutes 3600", "Never 0"};
        if (!handSet.isEmpty())
            offered.append(handSet + ' ' + QString::number(period.toFloat()));
        QCOMPARE(items, offered);
        QCOMPARE(combo->currentIndex(), index);

        // A save stores the period shown, so a period set by hand stays as it was written.
        RecordingDelegate delegate;
        prefs.setDelegate(&delegate);
        prefs.updateCheckDataInterval();
        QCOMPARE(text(PreferenceKeys::DataRefreshInterval),
                 handSet.isEmpty() ? combo->itemData(index).toString() : period);
    }

    void saveWritesThenTellsThenCloses() {
        Store store;
        defaults().setFloat(600, PreferenceKeys::DataRefreshInterval);
        defaults().setBool(false, PreferenceKeys::ShowSource);
        defaults().setBool(true, PreferenceKeys::TrimTitle);
        defaults().setString(QStringLiteral("http://old.example/feed"), PreferenceKeys::FeedURL);
        const QString before = stored();
        PreferenceController prefs;
        RecordingDelegate delegate;
        prefs.setDelegate(&delegate);

        // A close without a save drops the edits: the store is not touched, nobody is told.
        QWidget* window = show(prefs);
        const QString loaded = controls(prefs);
        QCOMPARE(loaded, QStringLiteral("4|0|1|http://old.example/feed"));
        edit(prefs, 3, true, false, "http://news.example/feed");
        QVERIFY(window->close());
        QCOMPARE(controls(prefs), loaded);
        QCOMPARE(stored(), before);

        // A save writes the store as booleans and a trimmed address, then tells the delegate
        // while the window is still open, then closes it with the controls as they were set.
        show(prefs);
        edit(prefs, 0, true, false, " https://news.example/feed.xml ");
        const QString saved = controls(prefs);
        QTest::mouseClick(prefs.saveButton(), Qt::LeftButton);
        QCOMPARE(delegate.calls, QStringList{"900|true|false|https://news.example/feed.xml|open"});
        QVERIFY(!window->isVisible());
        QCOMPARE(controls(prefs), saved);
        // The saved choices are what a later unsaved close goes back to.
        show(prefs);
        edit(prefs, 2, false, false);
        QVERIFY(window->close());
        QCOMPARE(controls(prefs), QStringLiteral("0|1|0|https://news.example/feed.xml"));

        // An address that would not be read is refused: nothing written, nobody told, the window
        // stays open and says why until the address is edited.
        show(prefs);
        for (const char* refused : {"ftp://news.example/feed", "http://", "http://news example/"}) {
            edit(prefs, 3, false, false, QString::fromLatin1(refused));
            QTest::mouseClick(prefs.saveButton(), Qt::LeftButton);
            QVERIFY(window->isVisible() && prefs.feedAddressMessage()->isVisible());
        }
        QCOMPARE(delegate.calls.size(), 1);
        QTest::keyClick(prefs.feedAddressEdit(), Qt::Key_Backspace);
        QVERIFY(!prefs.feedAddressMessage()->isVisible());
        // An empty address means the built-in feed: none is kept.
        prefs.feedAddressEdit()->clear();
        QTest::mouseClick(prefs.saveButton(), Qt::LeftButton);
        QCOMPARE(delegate.calls.value(1), QStringLiteral("0|false|false|<absent>|open"));
    }

    void saveWithNobodyToTell() {
        Store store;
        PreferenceController prefs;
        QWidget* window = show(prefs);
        edit(prefs, 0, true, false);

        // Called directly, the save throws after writing the store.
        QVERIFY_THROWS_EXCEPTION(PreferenceError, prefs.updateCheckDataInterval());
        QCOMPARE(stored(), QStringLiteral("900|true|false|<absent>"));
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
        defaults().setString(QStringLiteral("120,90,1280,772"), PreferenceController::frameKey());
        QRect place;
        {
            PreferenceController prefs;
            QWidget* window = show(prefs);
            QCOMPARE(window->windowType(), Qt::Dialog);
            QCOMPARE(window->minimumSize(), window->maximumSize());
            place = QRect(QPoint(120, 90), window->size());
            QCOMPARE(window->geometry(), place);
            QVERIFY(window->close());
        }
        const QString size = QStringLiteral("%1,%2").arg(place.width()).arg(place.height());
        QCOMPARE(text(PreferenceController::frameKey()), "120,90," + size);
        {
            // A fresh controller, as after a restart; quitting with the window open keeps the
            // place too.
            PreferenceController prefs;
            QWidget* window = show(prefs);
            QCOMPARE(window->geometry(), place);
            window->setGeometry(place.translated(30, 20));
            QTRY_COMPARE(window->geometry(), place.translated(30, 20));
        }
        QCOMPARE(text(PreferenceController::frameKey()), "150,110," + size);

        // A place on no screen is dropped; a damaged entry is ignored.
        defaults().setString(QStringLiteral("30000,30000,420,260"),
                             PreferenceController::frameKey());
        {
            PreferenceController prefs;
            QVERIFY(QGuiApplication::screenAt(show(prefs)->geometry().center()));
        }
        for (const char* damaged : {"1,2,3", "a,b,c,d", "10,10,0,200"})
            QVERIFY2(!PreferenceController::parseFrame(QString::fromLatin1(damaged)), damaged);
        QCOMPARE(PreferenceController::parseFrame(QStringLiteral("-20, 5, 300, 200")),
                 QRect(-20, 5, 300, 200));
    }
};

QTEST_MAIN(TestPreferences)
#include "tst_preferences.moc"
