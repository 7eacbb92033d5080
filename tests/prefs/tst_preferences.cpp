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
struct RecordingDelegate : PreferenceDelegate {
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
void save(PreferenceController& prefs) {
    QTest::mouseClick(prefs.saveButton(), Qt::LeftButton);
}

QWidget* show(PreferenceController& prefs) {
    prefs.window()->show();
    return QTest::qWaitForWindowExposed(prefs.window()) ? prefs.window() : nullptr;
}

} // namespace

class TestPreferences : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void periodsOffered() {
        // As written in the file, the index shown, and the title of an item of its own ("" = none).
        const std::tuple<QString, int, QString> cases[] = {
            {"900", 0, ""},
            {"1800", 1, ""},
            {"3600", 2, ""},
            {"0", 3, ""},
            {"-600", 3, ""},
            {"600", 4, "Every 10 minutes"},
            {"45", 4, "Every 45 seconds"},
            {"60", 4, "Every minute"},
            {"1800.001", 4, "Every 1800.001 seconds"}};
        for (const auto& [period, index, handSet] : cases) {
            Store store;
            defaults().setString(period, PreferenceKeys::DataRefreshInterval);
            PreferenceController prefs;
            prefs.window(); // builds the controls
            QComboBox* combo = prefs.intervalCombo();
            QStringList items;
            for (int i = 0; i < combo->count(); ++i)
                items.append(combo->itemText(i) + ' ' +
                             QString::number(combo->itemData(i).toFloat()));
            QCOMPARE(items.join(u'|'),
                     "Every 15 minutes 900|Every 30 minutes 1800|"
                     "Every 60 minutes 3600|Never 0" +
                         (handSet.isEmpty()
                              ? ""
                              : '|' + handSet + ' ' + QString::number(period.toFloat())));
            QCOMPARE(combo->currentIndex(), index);
            // A save stores the period shown, so a period set by hand stays as it was written.
            RecordingDelegate delegate;
            prefs.setDelegate(&delegate);
            prefs.updateCheckDataInterval();
            QCOMPARE(text(PreferenceKeys::DataRefreshInterval),
                     handSet.isEmpty() ? combo->itemData(index).toString() : period);
        }
    }

    void saveWritesThenTellsThenCloses() {
        Store store;
        defaults().setFloat(600, PreferenceKeys::DataRefreshInterval);
        defaults().setBool(false, PreferenceKeys::ShowSource);
        defaults().setBool(true, PreferenceKeys::TrimTitle);
        defaults().setString(QStringLiteral("http://old.example/feed"), PreferenceKeys::FeedURL);
        const QString before = stored();
        PreferenceController prefs;

        // A close without a save drops the edits: the store is not touched, nobody is told.
        QWidget* window = show(prefs);
        QCOMPARE(controls(prefs), QStringLiteral("4|0|1|http://old.example/feed"));
        edit(prefs, 3, true, false, "http://news.example/feed");
        QVERIFY(window->close());
        QCOMPARE(controls(prefs) + '|' + stored(), "4|0|1|http://old.example/feed|" + before);

        // A save writes the store as booleans and a trimmed address, then tells the delegate.
        // With nobody to tell it throws; from the button that error, and a delegate's own, go to
        // the log and not into the event loop, and the window stays open for another try.
        show(prefs);
        edit(prefs, 0, true, false, " https://news.example/feed.xml ");
        const QString saved = controls(prefs);
        QVERIFY_THROWS_EXCEPTION(PreferenceError, prefs.updateCheckDataInterval());
        QCOMPARE(stored(), QStringLiteral("900|true|false|https://news.example/feed.xml"));
        QTest::ignoreMessage(QtWarningMsg, "Delegate doesn't respond to our Delegate");
        save(prefs);
        RecordingDelegate delegate;
        delegate.failWith = "no room";
        prefs.setDelegate(&delegate);
        QTest::ignoreMessage(QtWarningMsg, "no room");
        save(prefs);
        QVERIFY(window->isVisible());
        // Told while the window is still open, then it closes with the controls as they were set.
        delegate.failWith = nullptr;
        save(prefs);
        QCOMPARE(delegate.calls,
                 QStringList(2, "900|true|false|https://news.example/feed.xml|open"));
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
            save(prefs);
            QVERIFY(window->isVisible() && prefs.feedAddressMessage()->isVisible());
        }
        QCOMPARE(delegate.calls.size(), 2);
        QTest::keyClick(prefs.feedAddressEdit(), Qt::Key_Backspace);
        QVERIFY(!prefs.feedAddressMessage()->isVisible());
        // An empty address means the built-in feed: none is kept.
        prefs.feedAddressEdit()->clear();
        save(prefs);
        QCOMPARE(delegate.calls.value(2), QStringLiteral("0|false|false|<absent>|open"));
    }

    void windowReopensWhereItWas() {
        Store store;
        // Saved while the window was stretched over the screen: only the place comes back. The
        // window is a dialog exactly as large as its content, which tiling desktops float.
        const QString key = PreferenceController::frameKey();
        defaults().setString(QStringLiteral("120,90,1280,772"), key);
        QRect place;
        {
            PreferenceController prefs;
            QWidget* window = show(prefs);
            QVERIFY(window->windowType() == Qt::Dialog &&
                    window->minimumSize() == window->maximumSize());
            place = QRect(QPoint(120, 90), window->size());
            QCOMPARE(window->geometry(), place);
            QVERIFY(window->close());
        }
        const QString size = QStringLiteral(",%1,%2").arg(place.width()).arg(place.height());
        QCOMPARE(text(key), "120,90" + size);
        {
            // After a restart; quitting with the window open keeps the place too.
            PreferenceController prefs;
            QWidget* window = show(prefs);
            QCOMPARE(window->geometry(), place);
            window->setGeometry(place.translated(30, 20));
            QTRY_COMPARE(window->geometry(), place.translated(30, 20));
        }
        QCOMPARE(text(key), "150,110" + size);

        // A place on no screen is dropped; a damaged entry is ignored.
        defaults().setString(QStringLiteral("30000,30000,420,260"), key);
        PreferenceController prefs;
        QVERIFY(QGuiApplication::screenAt(show(prefs)->geometry().center()));
        for (const char* damaged : {"1,2,3", "a,b,c,d", "10,10,0,200"})
            QVERIFY2(!PreferenceController::parseFrame(QString::fromLatin1(damaged)), damaged);
        QCOMPARE(PreferenceController::parseFrame(QStringLiteral("-20, 5, 300, 200")),
                 QRect(-20, 5, 300, 200));
    }
};

QTEST_MAIN(TestPreferences)
#include "tst_preferences.moc"
