// The preferences window on its own: what it shows from the store, what a save writes and whom it
// tells, what a close without a save drops, and where the window reopens.

#include "DataFile.h"
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
            if (!failWith.isEmpty())
                throw std::runtime_error(failWith.toStdString());
        }
        QStringList calls;
        QString failWith;
    };

    // The window as saving.txt writes it: controls | store | open or closed, refused, told.
    static QString state(PreferenceController& p, const RecordingDelegate& delegate) {
        const bool refused = p.feedAddressMessage()->isVisible() &&
                             p.feedAddressEdit()->accessibleDescription().startsWith("Use a full");
        QString window = p.window()->isVisible() ? "open" : "closed";
        if (refused)
            window += " refused";
        if (!delegate.calls.isEmpty())
            window += QString(" told %1: ").arg(delegate.calls.size()) + delegate.calls.last();
        return QStringLiteral("%1|%2|%3|%4|%5 | %6 | %7")
            .arg(p.intervalCombo()->currentIndex())
            .arg(int(p.showSourceButton()->isChecked()))
            .arg(int(p.trimTitleButton()->isChecked()))
            .arg(int(p.notifyNewEntriesButton()->isChecked()))
            .arg(p.feedAddressEdit()->text(), stored(), window);
    }
    static QWidget* show(PreferenceController& p) {
        p.window()->show();
        return QTest::qWaitForWindowExposed(p.window()) ? p.window() : nullptr;
    }

private Q_SLOTS:
    void init() { qputenv("XDG_CONFIG_HOME", m_config.emplace().path().toLocal8Bit()); }

    void periodsOffered() {
        // Each row: a period as the settings file holds it, then the items offered beyond the four
        // built-in ones, and the index shown.
        for (const QString& row : dataLines(QFINDTESTDATA("periods.txt"))) {
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

    // saving.txt: what a save writes and whom it tells, and what a close without a save drops.
    void saveWritesThenTellsThenCloses() {
        defaults().setFloat(600, PreferenceKeys::DataRefreshInterval);
        defaults().setBool(true, PreferenceKeys::TrimTitle);
        defaults().setString(QStringLiteral("http://old.example/feed"), PreferenceKeys::FeedURL);
        PreferenceController prefs;
        RecordingDelegate delegate;
        for (const QString& row : dataLines(QFINDTESTDATA("saving.txt"))) {
            const QString step = row.section(" | ", 0, 0).trimmed(),
                          word = step.section(u' ', 0, 0);
            const QString rest = step.section(u' ', 1);
            const QStringList values = rest.split(u' ');
            if (word == "show") {
                show(prefs);
            } else if (word == "edit") {
                prefs.intervalCombo()->setCurrentIndex(values[0].toInt());
                prefs.showSourceButton()->setChecked(values[1] == "1");
                prefs.trimTitleButton()->setChecked(values[2] == "1");
                prefs.notifyNewEntriesButton()->setChecked(values[3] == "1");
                prefs.feedAddressEdit()->setText(rest.section(u' ', 4).remove(u'\''));
            } else if (word == "close") {
                QVERIFY(prefs.window()->close());
            } else if (word == "save") {
                if (!rest.isEmpty())
                    QTest::ignoreMessage(QtWarningMsg, qPrintable(rest));
                QTest::mouseClick(prefs.saveButton(), Qt::LeftButton);
            } else if (word == "write") {
                QVERIFY_THROWS_EXCEPTION(PreferenceError, prefs.updateCheckDataInterval());
            } else if (word == "delegate") {
                prefs.setDelegate(&delegate);
                delegate.failWith = rest;
            } else {
                const QKeySequence key(word);
                QVERIFY2(key.count() == 1, qPrintable(row));
                QTest::keyClick(prefs.feedAddressEdit(), key[0].key());
            }
            QCOMPARE(step + " | " + state(prefs, delegate),
                     step + " | " + row.section(" | ", 1).trimmed());
        }
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
