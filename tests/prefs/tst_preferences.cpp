// The preferences window on its own: what it shows from the store, what a save writes and whom it
// tells, what a close without a save drops, and where the window reopens.

#include "PreferenceController.h"
#include "PreferenceKeys.h"
#include "UserDefaults.h"

#include <QtTest>
#include <QtWidgets>

class TestPreferences : public QObject {
    Q_OBJECT

    std::optional<QTemporaryDir> m_config; // a private settings folder for each test
    static UserDefaults defaults() { return UserDefaults::standardUserDefaults(); }
    static QString text(const QString& key) { return defaults().stringForKey(key).value_or("-"); }
    // The settings the window writes, as the file holds them: period|show source|trim title|feed.
    static QString stored() {
        return QStringList{text(PreferenceKeys::DataRefreshInterval),
                           text(PreferenceKeys::ShowSource), text(PreferenceKeys::TrimTitle),
                           text(PreferenceKeys::FeedURL)}
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
    static QString controls(const PreferenceController& p) {
        return QStringLiteral("%1|%2|%3|%4")
            .arg(p.intervalCombo()->currentIndex())
            .arg(int(p.showSourceButton()->isChecked()))
            .arg(int(p.trimTitleButton()->isChecked()))
            .arg(p.feedAddressEdit()->text());
    }
    static void edit(PreferenceController& p, int index, bool source, bool trim,
                     QString feed = {}) {
        p.intervalCombo()->setCurrentIndex(index);
        p.showSourceButton()->setChecked(source);
        p.trimTitleButton()->setChecked(trim);
        p.feedAddressEdit()->setText(feed);
    }
    static void save(PreferenceController& p) { QTest::mouseClick(p.saveButton(), Qt::LeftButton); }
    static QWidget* show(PreferenceController& p) {
        p.window()->show();
        return QTest::qWaitForWindowExposed(p.window()) ? p.window() : nullptr;
    }

private Q_SLOTS:
    void init() { qputenv("XDG_CONFIG_HOME", m_config.emplace().path().toLocal8Bit()); }

    void periodsOffered() {
        // Each row: a period as the settings file holds it, then the items offered beyond the four
        // built-in ones, and the index shown.
        QFile cases(QFINDTESTDATA("periods.txt"));
        QVERIFY(cases.open(QIODevice::ReadOnly));
        for (const QString& row :
             QString::fromUtf8(cases.readAll()).split(u'\n', Qt::SkipEmptyParts)) {
            const QString period = row.section(QRegularExpression("[ |]"), 0, 0);
            defaults().setString(period, PreferenceKeys::DataRefreshInterval);
            PreferenceController prefs;
            prefs.window(); // builds the controls
            QComboBox* combo = prefs.intervalCombo();
            QStringList items;
            for (int i = 0; i < combo->count(); ++i)
                items.append(combo->itemText(i) + ' ' +
                             QString::number(combo->itemData(i).toFloat(), 'g', 7));
            QCOMPARE(items.join(u'|') + " @" + QString::number(combo->currentIndex()),
                     "Every 15 minutes 900|Every 30 minutes 1800|Every 60 minutes 3600|Never 0" +
                         row.mid(period.size()));
            // A save stores the period shown, so a period set by hand stays as it was.
            QVERIFY_THROWS_EXCEPTION(PreferenceError, prefs.updateCheckDataInterval());
            QCOMPARE(text(PreferenceKeys::DataRefreshInterval).toFloat(),
                     combo->currentData().toFloat());
        }
    }

    void saveWritesThenTellsThenCloses() {
        defaults().setFloat(600, PreferenceKeys::DataRefreshInterval);
        defaults().setBool(true, PreferenceKeys::TrimTitle);
        defaults().setString(QStringLiteral("http://old.example/feed"), PreferenceKeys::FeedURL);
        PreferenceController prefs;

        // A close without a save drops the edits: the store is not touched, nobody is told.
        QWidget* window = show(prefs);
        QCOMPARE(controls(prefs), QStringLiteral("4|0|1|http://old.example/feed"));
        edit(prefs, 3, true, false, "http://news.example/feed");
        prefs.notifyNewEntriesButton()->setChecked(true);
        QVERIFY(window->close());
        QCOMPARE(controls(prefs) + ' ' + stored(),
                 "4|0|1|http://old.example/feed 600|-|true|http://old.example/feed");
        QVERIFY(!prefs.notifyNewEntriesButton()->isChecked());

        // A save writes the store as booleans and a trimmed address, then tells the delegate.
        // With nobody to tell it throws; from the button that error, and a delegate's own, go to
        // the log and not into the event loop, and the window stays open for another try.
        show(prefs);
        edit(prefs, 0, true, false, " https://news.example/feed.xml ");
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
        QCOMPARE(controls(prefs), QStringLiteral("0|1|0| https://news.example/feed.xml "));
        // The saved choices are what a later unsaved close, as by Escape, goes back to.
        show(prefs);
        edit(prefs, 2, false, false);
        QTest::keyClick(prefs.feedAddressEdit(), Qt::Key_Escape);
        QVERIFY(!window->isVisible());
        QCOMPARE(controls(prefs), QStringLiteral("0|1|0|https://news.example/feed.xml"));

        // An address that would not be read is refused: nothing written, nobody told, the window
        // stays open and says why until the address is edited.
        show(prefs);
        for (const char* refused : {"ftp://news.example/feed", "http://", "http://news example/"}) {
            edit(prefs, 3, false, false, QString::fromLatin1(refused));
            save(prefs);
            QVERIFY(window->isVisible() && prefs.feedAddressMessage()->isVisible() &&
                    prefs.feedAddressEdit()->accessibleDescription().startsWith("Use a full"));
        }
        QCOMPARE(delegate.calls.size(), 2);
        QTest::keyClick(prefs.feedAddressEdit(), Qt::Key_Backspace);
        QVERIFY(!prefs.feedAddressMessage()->isVisible());
        // An empty address means the built-in feed: none is kept. Enter saves too.
        prefs.feedAddressEdit()->clear();
        QTest::keyClick(prefs.feedAddressEdit(), Qt::Key_Return);
        QCOMPARE(delegate.calls.value(2), QStringLiteral("0|false|false|-|open"));
    }

    void windowReopensWhereItWas() {
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
            // From the keyboard: Tab goes from the top to Save, through named controls only. The
            // address field shows 45 characters.
            QWidget* control = prefs.feedAddressEdit();
            QVERIFY(control->width() >= 45 * control->fontMetrics().averageCharWidth());
            for (QWidget* next : QWidgetList{prefs.intervalCombo(), prefs.showSourceButton(),
                                             prefs.trimTitleButton(),
                                             prefs.notifyNewEntriesButton(), prefs.saveButton()}) {
                QTest::keyClick(control, Qt::Key_Tab);
                QVERIFY(window->focusWidget() == next && !control->accessibleName().isEmpty());
                control = next;
            }
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
        PreferenceController().window(); // never shown: it has no place to remember
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
