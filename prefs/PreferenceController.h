#pragma once

#include <QObject>
#include <QRect>
#include <QString>

#include <memory>
#include <optional>
#include <stdexcept>

class PreferenceController;
class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

namespace Ui {
class Preferences;
}

// Told when the user has saved the preferences. The store already holds the new values.
class PreferenceDelegate {
public:
    virtual void onPreferencesUpdate(PreferenceController* sender) = 0;

protected:
    virtual ~PreferenceDelegate() = default;
};

// Raised by a save that has nobody to tell.
class PreferenceError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The preferences window: the feed address, the refresh period, the two display options and the
// notifications of new entries. The
// window is built from Preferences.ui at the first request for it and lives as long as the
// controller. Its controls show the store's values when it is built; a save writes them back and
// tells the delegate; a close without a save drops the edits. As in a dialog, Enter saves and
// Escape closes.
class PreferenceController : public QObject {
    Q_OBJECT
public:
    // Where the window's place is remembered, as "x,y,width,height" (the size is the content's).
    static inline const QString frameAutosaveName = QStringLiteral("PrefWindow");
    static QString frameKey() { return frameAutosaveName + QStringLiteral("Frame"); }
    static inline const QString delegateError =
        QStringLiteral("Delegate doesn't respond to our Delegate");
    static constexpr const char* feedAddressProblem =
        QT_TR_NOOP("Use a full web address, starting with http:// or https://");
    // What a screen reader tells of the address field, beside its name.
    static constexpr const char* feedAddressFormat =
        QT_TR_NOOP("An http or https address; empty for the built-in feed");

    // The pop-up's choices, in order, with their periods in seconds. A stored period that is
    // none of them (set by hand) follows them as an item of its own.
    struct IntervalChoice {
        const char* title;
        float seconds;
    };
    static constexpr IntervalChoice intervalChoices[] = {
        {QT_TR_NOOP("Every 15 minutes"), 900.0f},
        {QT_TR_NOOP("Every 30 minutes"), 1800.0f},
        {QT_TR_NOOP("Every 60 minutes"), 3600.0f},
        {QT_TR_NOOP("Never"), 0.0f},
    };

    explicit PreferenceController(QObject* parent = nullptr);
    ~PreferenceController() override;

    // The window, built (and set from the store) at the first call.
    QWidget* window();

    // Not owned; may be null.
    void setDelegate(PreferenceDelegate* delegate) { m_delegate = delegate; }

    // The feed read while the address field is empty, shown there as a hint.
    void setBuiltInFeedAddress(const QString& address);
    // Shows the stored feed address in the field, as after a save: someone else (a later start
    // of the program) has stored another one.
    void loadFeedAddress();
    // Likewise for the notifications of new entries, turned on elsewhere.
    void loadNotifyNewEntries();

    // The save: writes the choices, tells the delegate and closes the window. Throws
    // PreferenceError when there is no delegate; the store is written by then and the window
    // stays open. A feed address that is not an absolute http(s) URL saves nothing: the field
    // is marked and says why, and the window stays open.
    void updateCheckDataInterval();

    // The controls; null until the window is built.
    QComboBox* intervalCombo() const { return m_intervalCombo; }
    QCheckBox* showSourceButton() const { return m_showSourceButton; }
    QCheckBox* trimTitleButton() const { return m_trimTitleButton; }
    QCheckBox* notifyNewEntriesButton() const { return m_notifyNewEntriesButton; }
    QLineEdit* feedAddressEdit() const { return m_feedAddressEdit; }
    QLabel* feedAddressMessage() const;
    QPushButton* saveButton() const;

    // The remembered frame text as a rectangle; nothing when it is not four numbers or the size
    // is not positive.
    static std::optional<QRect> parseFrame(const QString& text);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void awakeFromNib();
    void windowWillClose();
    // The save button's slot: a failed save is logged, never thrown into the event loop.
    void onSaveClicked();
    void restoreFrame();
    void saveFrame();
    void markFeedAddress(bool wrong);

    QComboBox* m_intervalCombo = nullptr;
    QCheckBox* m_showSourceButton = nullptr;
    QCheckBox* m_trimTitleButton = nullptr;
    QCheckBox* m_notifyNewEntriesButton = nullptr;
    QLineEdit* m_feedAddressEdit = nullptr;
    QAction* m_feedAddressMark = nullptr;
    QString m_builtInFeedAddress;
    int m_defaultSelectedIndex = 0;
    bool m_defaultShowSource = false;
    bool m_defaultTrimEntry = false;
    bool m_defaultNotifyNewEntries = false;
    PreferenceDelegate* m_delegate = nullptr;
    bool m_saving = false;

    std::unique_ptr<Ui::Preferences> m_ui;
    std::unique_ptr<QWidget> m_window;
};
