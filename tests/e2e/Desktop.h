#pragma once

// A desktop session for the real program, made of real parts: a virtual X display (Xvfb), a
// session bus of its own (dbus-daemon), a settings folder, a runtime folder and a stand-in for the
// desktop's URL opener (an `xdg-open` first on PATH that writes down what it is given). Every
// process it starts is a child of the test and dies with it.

#include <QImage>
#include <QProcess>
#include <QTest>

#include "FeedFixture.h"
#include "HttpServer.h"
#include "SessionServer.h"

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace e2e {

// The feed's address is built into the program: http://127.0.0.1:<feedPort><feedPath>.
inline constexpr quint16 feedPort = E2E_FEED_PORT;
inline const QString feedPath = QStringLiteral("/notifications/veltrano.xml");

inline FeedFixture::Entry entry(const char* title, const char* link) {
    return {QString::fromUtf8(title), QString::fromUtf8(link), QStringLiteral("Veltrano desk")};
}
// The feed the suites start with: titles that menus and dbusmenu labels are known to mangle.
inline const QList<FeedFixture::Entry> firstEntries{
    entry("AT&T and Q&A", "https://news.example/2024/att-qa?id=7&ref=rss"),
    entry("snake_case naming", "https://news.example/2024/snake-case"),
    entry("Tabs\tinside", "https://news.example/2024/tabs"),
    entry("Quarterly report", "https://news.example/2024/report"),
};

// Runs the event loop (the feed server's included) until the predicate holds or the time is up.
inline bool waitFor(const std::function<bool()>& predicate, int timeoutMs = 15000) {
    return QTest::qWaitFor(predicate, timeoutMs);
}

// The smallest rectangle around the pixels of the area that differ between two pictures.
QRect changedArea(const QImage& before, const QImage& after, const QRect& area);
// The lines of a file beside the suites' sources, but for empty ones and # comments; a table's
// rows, split into (this many) fields at each "|" and the spaces around it.
QStringList fixtureLines(const QString& fileName);
QList<QStringList> fixtureRows(const QString& fileName, qsizetype fields);
// Where the picture shows the new-entry dot (blue) in the area.
QRect newEntryDot(const QImage& picture, const QRect& area);
// Serves these entries above the first ones, waits until the next download of the feed has been
// answered in full, and gives the program a moment to read it.
bool refreshWith(HttpServer& server, const QList<FeedFixture::Entry>& newEntries);

struct Window {
    qulonglong id = 0;
    QRect geometry; // in root coordinates
};

class Desktop {
public:
    // Everything the session writes goes below `home`, which is emptied first: an absolute path
    // that holds neither the current folder nor the home folder, else the session refuses to
    // start (and empties nothing).
    explicit Desktop(const QString& home);
    ~Desktop();

    // Checks that these tools and the session's own are on PATH, then starts the display and the
    // bus; what went wrong, or nothing.
    QString startSession(const QStringList& tools = {});
    QString busAddress() const { return m_bus ? m_bus->address() : QString(); }
    QString home() const { return m_home; }

    // Serves the first entries at the feed's address, and writes the settings file the program
    // reads before it starts; what went wrong, or nothing.
    QString serveFeed(HttpServer& server, const QByteArray& generalSection);

    // A child process that dies with the test (by deathSignal, see SessionServer::dieWithParent),
    // ended with the session; output goes to <home>/<logName>.log.
    QProcess* start(const QString& program, const QStringList& arguments, const QString& logName,
                    int deathSignal = SIGKILL);
    // A short command on the display; its standard output, or nothing when it failed.
    std::optional<QByteArray> run(const QString& program, const QStringList& arguments,
                                  int timeoutMs = 15000) const;
    QString log(const QString& logName) const;

    // Whether the session's StatusNotifierWatcher has a host that shows the items.
    bool statusNotifierHost() const;

    // The program under test, on the xcb platform of the display; its output is log("pinglark"),
    // shown when the session ends.
    bool startApp();
    // Starts it and waits until it draws its icon in the area, and the area holds still: where the
    // icon is (12 px at least), or an empty rectangle.
    QRect startAppAndFindIcon(const QRect& area);
    QProcess* app() const { return m_app; }
    // Ends the program (SIGTERM) if it still runs; its exit code, or -1 when it had to be killed.
    int stopApp();
    // The arguments the URL opener was called with, one call per entry, once it has been called
    // at all (or the time is up).
    QList<QStringList> openerCalls() const;

    // X: windows (on screen, unless asked otherwise) whose WM_CLASS (or, by "--name", title)
    // matches, clicks, screenshots.
    QList<Window> windows(const QString& pattern, const char* by = "--classname",
                          bool onlyVisible = true) const;
    bool click(QPoint at) const;
    QImage screenshot() const;
    // A screenshot once the area has looked the same twice in a row; a null image when it never
    // settles.
    QImage settledScreenshot(const QRect& area) const;
    // Saves a picture in the session folder and, for the README, where PINGLARK_E2E_SCREENSHOT
    // says when that path ends in fileName. Given the area of an open menu, only the menu with
    // the bar it hangs from: the picture from its top to a little below the menu, and from
    // `margin` pixels left of the menu to the right edge.
    bool keep(const QImage& picture, const QString& fileName, const QRect& menu = {},
              int margin = 0) const;

private:
    QString m_home;
    QString m_display;
    QString m_refused; // why the session cannot start, if it cannot
    std::unique_ptr<SessionServer> m_xvfb;
    std::unique_ptr<SessionServer> m_bus;
    std::vector<std::unique_ptr<QProcess>> m_children;
    QProcess* m_app = nullptr; // the last child to run the program

    // A process that runs with the display, the bus, the folders and the opener first on PATH.
    std::unique_ptr<QProcess> process(const QString& logName = {}, int deathSignal = SIGKILL) const;
};

} // namespace e2e
