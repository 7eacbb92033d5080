#include "PreferenceController.h"

#include "PreferenceKeys.h"
#include "UserDefaults.h"
#include "WebAddress.h"
#include "ui_Preferences.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QStringList>
#include <QStyle>
#include <QtDebug>

#include <charconv>
#include <cmath>

namespace {

// "Every 10 minutes", "Every 2 hours", "Every 90 seconds": the period in the largest unit that
// divides it.
QString periodTitle(float seconds) {
    if (seconds == std::floor(seconds) && seconds < 1e9f) {
        const auto whole = static_cast<int>(seconds);
        if (whole % 86400 == 0) {
            const int days = whole / 86400;
            return days == 1 ? PreferenceController::tr("Every day")
                             : PreferenceController::tr("Every %n days", nullptr, days);
        }
        if (whole % 3600 == 0) {
            const int hours = whole / 3600;
            return hours == 1 ? PreferenceController::tr("Every hour")
                              : PreferenceController::tr("Every %n hours", nullptr, hours);
        }
        if (whole % 60 == 0) {
            const int minutes = whole / 60;
            return minutes == 1 ? PreferenceController::tr("Every minute")
                                : PreferenceController::tr("Every %n minutes", nullptr, minutes);
        }
        return whole == 1 ? PreferenceController::tr("Every second")
                          : PreferenceController::tr("Every %n seconds", nullptr, whole);
    }
    // A fraction of a second, or too long to count: the number as the store writes it.
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, seconds);
    //: A period that is no whole number of seconds, such as 2.5
    return PreferenceController::tr("Every %1 seconds")
        .arg(QLatin1String(buffer, result.ptr - buffer));
}

} // namespace

PreferenceController::PreferenceController(QObject* parent) : QObject(parent) {}

PreferenceController::~PreferenceController() {
    // Quitting with the window open keeps its place for the next run.
    saveFrame();
}

QWidget* PreferenceController::window() {
    if (m_window)
        return m_window.get();
    // A dialog, exactly as large as its content (the layout fixes its size): tiling window
    // managers and compositors float such a window instead of stretching it over the screen.
    m_window = std::make_unique<QWidget>(nullptr, Qt::Dialog);
    m_ui = std::make_unique<Ui::Preferences>();
    m_ui->setupUi(m_window.get());
    m_intervalCombo = m_ui->intervalCombo;
    m_showSourceButton = m_ui->showSourceButton;
    m_trimTitleButton = m_ui->trimTitleButton;
    m_notifyNewEntriesButton = m_ui->notifyNewEntriesButton;
    m_feedAddressEdit = m_ui->feedAddressEdit;
    m_feedAddressEdit->setPlaceholderText(m_builtInFeedAddress);
    m_feedAddressMark = m_feedAddressEdit->addAction(
        m_window->style()->standardIcon(QStyle::SP_MessageBoxWarning), QLineEdit::TrailingPosition);
    m_feedAddressMark->setToolTip(tr(feedAddressProblem));
    m_ui->feedAddressMessage->setText(tr(feedAddressProblem));
    // An address of 45 characters in view, beside the mark of a refused one. Around the text go
    // the field's frame and 2 px of padding on either side, and the mark's room: its icon, 6 px
    // around it and a quarter of it apart from the text (as QLineEdit lays out its actions). The
    // window, as large as its content, grows with the field.
    const QStyle* style = m_feedAddressEdit->style();
    const int frame = style->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, m_feedAddressEdit);
    const int icon = style->pixelMetric(QStyle::PM_SmallIconSize, nullptr, m_feedAddressEdit);
    m_feedAddressEdit->setMinimumWidth(45 * m_feedAddressEdit->fontMetrics().averageCharWidth() +
                                       2 * (frame + 2) + icon + 6 + icon / 4);
    connect(m_feedAddressEdit, &QLineEdit::textEdited, this, [this] { markFeedAddress(false); });
    m_window->installEventFilter(this);
    connect(m_ui->saveButton, &QPushButton::clicked, this, &PreferenceController::onSaveClicked);
    awakeFromNib();
    restoreFrame();
    return m_window.get();
}

QPushButton* PreferenceController::saveButton() const {
    return m_ui ? m_ui->saveButton : nullptr;
}

QLabel* PreferenceController::feedAddressMessage() const {
    return m_ui ? m_ui->feedAddressMessage : nullptr;
}

void PreferenceController::setBuiltInFeedAddress(const QString& address) {
    m_builtInFeedAddress = address;
    if (m_feedAddressEdit)
        m_feedAddressEdit->setPlaceholderText(address);
}

void PreferenceController::loadFeedAddress() {
    m_feedAddressEdit->setText(UserDefaults::standardUserDefaults()
                                   .stringForKey(PreferenceKeys::FeedURL)
                                   .value_or(QString()));
    markFeedAddress(false);
}

void PreferenceController::loadNotifyNewEntries() {
    m_defaultNotifyNewEntries =
        UserDefaults::standardUserDefaults().boolForKey(PreferenceKeys::NotifyNewEntries);
    m_notifyNewEntriesButton->setChecked(m_defaultNotifyNewEntries);
}

void PreferenceController::markFeedAddress(bool wrong) {
    m_feedAddressMark->setVisible(wrong);
    m_ui->feedAddressMessage->setVisible(wrong);
    // A screen reader cannot see the mark: the field's description says why it is there.
    m_feedAddressEdit->setAccessibleDescription(tr(wrong ? feedAddressProblem : feedAddressFormat));
    if (wrong) {
        m_feedAddressEdit->setFocus();
        m_feedAddressEdit->selectAll();
    }
}

void PreferenceController::awakeFromNib() {
    m_intervalCombo->clear();
    int row = 0;
    for (const IntervalChoice& choice : intervalChoices) {
        m_intervalCombo->insertItem(row, tr(choice.title));
        m_intervalCombo->setItemData(row, QVariant::fromValue(choice.seconds));
        ++row;
    }

    const UserDefaults defaults = UserDefaults::standardUserDefaults();
    // 0, an absent key and anything that is no period (negative, not a number) show as "Never".
    const float period = defaults.floatForKey(PreferenceKeys::DataRefreshInterval);
    int index = 3;
    if (double(period) == 900.0) {
        index = 0;
    } else if (double(period) == 1800.0) {
        index = 1;
    } else if (double(period) == 3600.0) {
        index = 2;
    } else if (period > 0.0f && std::isfinite(period)) {
        // A period set by hand gets an item of its own, so that a save keeps it.
        index = m_intervalCombo->count();
        m_intervalCombo->addItem(periodTitle(period), QVariant::fromValue(period));
    }
    const bool showSource = defaults.boolForKey(PreferenceKeys::ShowSource);
    const bool trimTitle = defaults.boolForKey(PreferenceKeys::TrimTitle);

    m_showSourceButton->setChecked(showSource);
    m_trimTitleButton->setChecked(trimTitle);
    m_intervalCombo->setCurrentIndex(index);
    loadFeedAddress();
    loadNotifyNewEntries();

    m_defaultSelectedIndex = index;
    m_defaultShowSource = showSource;
    m_defaultTrimEntry = trimTitle;
    m_saving = false;
}

void PreferenceController::updateCheckDataInterval() {
    QWidget* const win = window();
    // An address that would not be read is refused before anything is written.
    const QString feedAddress = m_feedAddressEdit->text().trimmed();
    if (!feedAddress.isEmpty() && !webAddress(feedAddress)) {
        markFeedAddress(true);
        return;
    }
    const int index = m_intervalCombo->currentIndex();
    bool isNumber = false;
    float period = (index >= 0 ? m_intervalCombo->itemData(index) : QVariant()).toFloat(&isNumber);
    if (!isNumber)
        period = 0.0f;
    const bool showSource = m_showSourceButton->isChecked();
    const bool trimTitle = m_trimTitleButton->isChecked();
    const bool notifyNewEntries = m_notifyNewEntriesButton->isChecked();

    UserDefaults defaults = UserDefaults::standardUserDefaults();
    defaults.setFloat(period, PreferenceKeys::DataRefreshInterval);
    defaults.setBool(showSource, PreferenceKeys::ShowSource);
    defaults.setBool(trimTitle, PreferenceKeys::TrimTitle);
    defaults.setBool(notifyNewEntries, PreferenceKeys::NotifyNewEntries);
    // An empty field means the built-in feed: no address of the user's is kept.
    if (feedAddress.isEmpty())
        defaults.remove(PreferenceKeys::FeedURL);
    else
        defaults.setString(feedAddress, PreferenceKeys::FeedURL);

    // From now on the stored choices are the ones an unsaved close goes back to, so the window
    // never shows something other than the store once it is reopened.
    m_defaultSelectedIndex = index;
    m_defaultShowSource = showSource;
    m_defaultTrimEntry = trimTitle;
    m_defaultNotifyNewEntries = notifyNewEntries;

    if (!m_delegate)
        throw PreferenceError(delegateError.toStdString());
    m_delegate->onPreferencesUpdate(this);

    m_saving = true;
    win->close();
    m_saving = false;
}

void PreferenceController::onSaveClicked() {
    // Qt's event loop must never see an exception: a failed save is reported in the log.
    try {
        updateCheckDataInterval();
    } catch (const std::exception& error) {
        qWarning("%s", error.what());
    }
}

bool PreferenceController::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_window.get() && event->type() == QEvent::Close)
        windowWillClose();
    // As in a dialog, for the keys the focused control leaves alone (an open list of periods
    // keeps its own): Enter saves, Escape closes without saving.
    if (watched == m_window.get() && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<const QKeyEvent*>(event);
        if ((key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier)
            return false;
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            onSaveClicked();
            return true;
        }
        if (key->key() == Qt::Key_Escape) {
            m_window->close();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

void PreferenceController::windowWillClose() {
    saveFrame();
    if (m_saving)
        return;
    m_intervalCombo->setCurrentIndex(m_defaultSelectedIndex);
    m_showSourceButton->setChecked(m_defaultShowSource);
    m_trimTitleButton->setChecked(m_defaultTrimEntry);
    m_notifyNewEntriesButton->setChecked(m_defaultNotifyNewEntries);
    loadFeedAddress();
}

// --- The window's place --------------------------------------------------------------------

std::optional<QRect> PreferenceController::parseFrame(const QString& text) {
    const QStringList parts = text.split(u',');
    if (parts.size() != 4)
        return std::nullopt;
    int values[4] = {};
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        values[i] = parts[i].trimmed().toInt(&ok);
        if (!ok)
            return std::nullopt;
    }
    if (values[2] <= 0 || values[3] <= 0)
        return std::nullopt;
    return QRect(values[0], values[1], values[2], values[3]);
}

void PreferenceController::restoreFrame() {
    const std::optional<QString> text =
        UserDefaults::standardUserDefaults().stringForKey(frameKey());
    const std::optional<QRect> frame = text ? parseFrame(*text) : std::nullopt;
    // The size is the content's; only the place comes back, and only where the desktop lets a
    // window choose it. A place on a screen that is no longer there is dropped: the window would
    // open out of sight. The desktop then places it.
    if (!frame || !(QGuiApplication::screenAt(frame->topLeft()) ||
                    QGuiApplication::screenAt(frame->center())))
        return;
    // The place of the content, as saved (move() would place the frame around it there).
    m_window->setGeometry(QRect(frame->topLeft(), m_window->size()));
}

void PreferenceController::saveFrame() {
    // A window that was never on screen has no place of its own to remember.
    if (!m_window || !m_window->isVisible())
        return;
    const QRect frame = m_window->geometry();
    UserDefaults::standardUserDefaults().setString(QStringLiteral("%1,%2,%3,%4")
                                                       .arg(frame.x())
                                                       .arg(frame.y())
                                                       .arg(frame.width())
                                                       .arg(frame.height()),
                                                   frameKey());
}
