// pinglark-demo-server: serves a Veltrano-like feed on 127.0.0.1 and puts a new entry at its top
// every few seconds, so that Pinglark can be watched at work without a real feed host. The same
// entries are served as RSS 1.0, RSS 2.0 and Atom 1.0, each at a path of its own; the feed address
// built into Pinglark serves the format that --format names (RSS 1.0 by default).
//
//   pinglark-demo-server [--port N] [--new-every S] [--items N] [--format rss1|rss2|atom]
//
// Prints one line per event to stdout ("listening on …", "published …", "served …").

#include "FeedFixture.h"
#include "HttpServer.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QLocale>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <cstdio>

namespace {

const QString feedPath = QStringLiteral("/notifications/veltrano.xml");

// The formats, and where each is served besides the feed address.
struct Format {
    const char* name;
    QString path;
    QByteArray contentType;
    QByteArray (*write)(const QList<FeedFixture::Entry>&, const QString&);
};
const Format formats[] = {
    {"rss1", QStringLiteral("/notifications/veltrano.rdf"), "application/rdf+xml; charset=utf-8",
     [](const QList<FeedFixture::Entry>& entries, const QString& title) {
         return FeedFixture::rdf(entries, title);
     }},
    {"rss2", QStringLiteral("/notifications/veltrano-rss2.xml"),
     "application/rss+xml; charset=utf-8", FeedFixture::rss2},
    {"atom", QStringLiteral("/notifications/veltrano.atom"), "application/atom+xml; charset=utf-8",
     FeedFixture::atom},
};
const QString homePath = QStringLiteral("/go/rss_info");
// Like a real feed, only the newest entries stay in it.
constexpr qsizetype feedWindow = 15;

struct Story {
    const char* title;
    const char* author;
};

// The feed as it stands at start, newest first.
const Story initialStories[] = {
    {"Harbour bridge reopens after two years of repair work", "Marta Ferrante"},
    {"Council & citizens agree on the 2025 budget", "Luca Berti"},
    {"New rail timetable", "Anna Sorrenti"},
    {"Library opening hours longer in summer, starting next week", "Paolo Nardini"},
    {"Market square", "Giulia Moro"},
    {"Volunteers clean the river banks", "Niccolò Bassi"},
    {"Night buses: three new lines connect the outer districts", "Elena Russo"},
    {"Football: Veltrano wins 2-1", "Tommaso Greco"},
};

// What is published afterwards, in turn.
const Story laterStories[] = {
    {"Breaking: the old lighthouse will become a museum", "Marta Ferrante"},
    {"Road works on Via Roma until Friday", "Luca Berti"},
    {"School year starts with two new kindergartens & a gym", "Anna Sorrenti"},
    {"Weather: storm warning for the coast tonight", "Elena Russo"},
    {"Town choir wins the regional competition", "Giulia Moro"},
};

void say(const QString& line) {
    std::fputs(qPrintable(line + QLatin1Char('\n')), stdout);
    std::fflush(stdout);
}

class DemoFeed {
public:
    DemoFeed(HttpServer& server, qsizetype items, const Format& served)
        : m_server(server), m_window(std::max(feedWindow, items)), m_served(served) {
        // Oldest first, so that each one lands at the top; past the opening stories, the later
        // ones fill in, in turn.
        for (qsizetype i = items - 1; i >= 0; --i) {
            const auto opening = qsizetype(std::size(initialStories));
            add(i < opening ? initialStories[i]
                            : laterStories[(i - opening) % qsizetype(std::size(laterStories))]);
        }
        publish();
        m_server.serve(homePath,
                       page(QStringLiteral("Veltrano feeds"),
                            QStringLiteral("The news of Veltrano, as a feed at "
                                           "<a href=\"%1\">%1</a>.")
                                .arg(feedPath)),
                       "text/html; charset=utf-8");
    }

    void publishNext() {
        const Story& story = laterStories[m_nextLater % std::size(laterStories)];
        ++m_nextLater;
        add(story);
        publish();
        say(QStringLiteral("published \"%1\" (%2 items)")
                .arg(m_entries.first().title.value_or(QString()), QString::number(itemCount())));
    }

    qsizetype itemCount() const { return m_entries.size(); }

private:
    void add(const Story& story) {
        ++m_serial;
        const QString path = QStringLiteral("/news/%1").arg(m_serial);
        const QString title = QString::fromUtf8(story.title);
        FeedFixture::Entry entry;
        entry.title = title;
        entry.link = m_server.url(path).toString();
        entry.creator = QString::fromUtf8(story.author);
        m_entries.prepend(entry);
        while (m_entries.size() > m_window)
            m_server.removeRoute(QUrl(*m_entries.takeLast().link).path());
        m_server.serve(path,
                       page(title, QStringLiteral("By %1.").arg(
                                       QString::fromUtf8(FeedFixture::escaped(*entry.creator)))),
                       "text/html; charset=utf-8");
    }

    void publish() {
        const QByteArray lastModified =
            QLocale::c()
                .toString(QDateTime::currentDateTimeUtc(),
                          QStringLiteral("ddd, dd MMM yyyy hh:mm:ss 'GMT'"))
                .toLatin1();
        for (const Format& format : formats) {
            HttpServer::Response feed;
            feed.body = format.write(m_entries, QStringLiteral("Veltrano"));
            feed.contentType = format.contentType;
            feed.etag = "\"veltrano-" + QByteArray::number(m_serial) + '-' + format.name + '"';
            feed.lastModified = lastModified;
            m_server.setRoute(format.path, feed);
            if (&format == &m_served)
                m_server.setRoute(feedPath, feed);
        }
    }

    static QByteArray page(const QString& title, const QString& bodyHtml) {
        return "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" +
               FeedFixture::escaped(title) + "</title></head>\n<body><h1>" +
               FeedFixture::escaped(title) + "</h1>\n<p>" + bodyHtml.toUtf8() +
               "</p></body></html>\n";
    }

    HttpServer& m_server;
    const qsizetype m_window;
    const Format& m_served;
    QList<FeedFixture::Entry> m_entries;
    int m_serial = 0;
    qsizetype m_nextLater = 0;
};

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("pinglark-demo-server"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Serves a demo news feed for Pinglark on 127.0.0.1."));
    parser.addHelpOption();
    const QCommandLineOption portOption(QStringLiteral("port"),
                                        QStringLiteral("Port to listen on (0: any free one)."),
                                        QStringLiteral("N"), QStringLiteral("8731"));
    const QCommandLineOption everyOption(
        QStringLiteral("new-every"),
        QStringLiteral("Publish a new entry every S seconds (0: never)."), QStringLiteral("S"),
        QStringLiteral("30"));
    const QCommandLineOption itemsOption(
        QStringLiteral("items"), QStringLiteral("Entries in the feed at start (1 to 1000)."),
        QStringLiteral("N"), QStringLiteral("8"));
    parser.addOption(portOption);
    parser.addOption(everyOption);
    const QCommandLineOption formatOption(
        QStringLiteral("format"),
        QStringLiteral("Format served at %1: rss1, rss2 or atom.").arg(feedPath),
        QStringLiteral("F"), QStringLiteral("rss1"));
    parser.addOption(itemsOption);
    parser.addOption(formatOption);
    parser.process(app);

    bool portOk = false;
    const uint port = parser.value(portOption).toUInt(&portOk);
    bool everyOk = false;
    const double every = parser.value(everyOption).toDouble(&everyOk);
    bool itemsOk = false;
    const int items = parser.value(itemsOption).toInt(&itemsOk);
    const auto served = std::find_if(std::begin(formats), std::end(formats), [&](const Format& f) {
        return parser.value(formatOption) == QLatin1String(f.name);
    });
    if (!portOk || port > 65535 || !everyOk || every < 0 || every > 86400 || !itemsOk ||
        items < 1 || items > 1000 || served == std::end(formats)) {
        std::fputs("pinglark-demo-server: --port takes 0 to 65535, --new-every 0 to 86400, "
                   "--items 1 to 1000, --format rss1, rss2 or atom\n",
                   stderr);
        return 2;
    }

    HttpServer server;
    if (!server.listen(quint16(port))) {
        std::fprintf(stderr, "pinglark-demo-server: cannot listen on 127.0.0.1:%u\n", port);
        return 1;
    }
    DemoFeed feed(server, items, *served);

    QObject::connect(&server, &HttpServer::requestReceived, &server, [&](int index) {
        const HttpServer::Request request = server.requests().at(index);
        const bool isFeed =
            std::any_of(std::begin(formats), std::end(formats),
                        [&](const Format& f) { return request.path == f.path.toUtf8(); });
        if (isFeed || request.path == feedPath.toUtf8())
            say(QStringLiteral("served %1 (%2 items)")
                    .arg(QString::fromUtf8(request.path), QString::number(feed.itemCount())));
        else
            say(QStringLiteral("served %1").arg(QString::fromUtf8(request.path)));
        // Nobody reads the log back: keep memory flat however long the server runs.
        server.clearRequests();
    });

    QTimer publisher;
    if (every > 0) {
        QObject::connect(&publisher, &QTimer::timeout, &publisher, [&feed] { feed.publishNext(); });
        publisher.start(std::chrono::milliseconds(qint64(every * 1000)));
    }

    say(QStringLiteral("listening on %1 (%2, %3 items%4)")
            .arg(server.url(feedPath).toString(), QLatin1String(served->name),
                 QString::number(feed.itemCount()),
                 every > 0 ? QStringLiteral(", a new one every %1 s").arg(every) : QString()));
    for (const Format& format : formats)
        say(QStringLiteral("also %1 at %2")
                .arg(QLatin1String(format.name), server.url(format.path).toString()));
    return QCoreApplication::exec();
}
