#include "FeedFixture.h"

namespace FeedFixture {

namespace {

const QByteArray declaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
const QByteArray channelLinks = "<link>http://veltrano.invalid/</link>\n"
                                "<description>News from Veltrano</description>\n";

// <name>text</name> on a line of its own; nothing without a text.
QByteArray element(const QByteArray& name, const std::optional<QString>& text) {
    return text ? "<" + name + ">" + escaped(*text) + "</" + name + ">\n" : QByteArray();
}

// An item's title, link and creator, as RSS 1.0 and 2.0 write them.
QByteArray rssFields(const Entry& entry) {
    return element("title", entry.title) + element("link", entry.link) +
           element("dc:creator", entry.creator);
}

} // namespace

QByteArray rdf(const QList<Entry>& entries, const QString& channelTitle) {
    QByteArray sequence, items;
    for (const Entry& entry : entries) {
        if (entry.link)
            sequence += "<rdf:li rdf:resource=\"" + escaped(*entry.link) + "\"/>\n";
        items += (entry.link ? "<item rdf:about=\"" + escaped(*entry.link) + "\">\n"
                             : QByteArray("<item>\n")) +
                 rssFields(entry) + "</item>\n";
    }
    return declaration +
           "<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\"\n"
           "         xmlns=\"http://purl.org/rss/1.0/\"\n"
           "         xmlns:dc=\"http://purl.org/dc/elements/1.1/\">\n"
           "<channel rdf:about=\"http://veltrano.invalid/notifications/veltrano.xml\">\n" +
           element("title", channelTitle) + channelLinks + "<items><rdf:Seq>\n" + sequence +
           "</rdf:Seq></items>\n</channel>\n" + items + "</rdf:RDF>\n";
}

QByteArray rss2(const QList<Entry>& entries, const QString& channelTitle) {
    QByteArray xml = declaration +
                     "<rss version=\"2.0\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\">\n"
                     "<channel>\n" +
                     element("title", channelTitle) + channelLinks;
    for (const Entry& entry : entries)
        xml += "<item>\n" + rssFields(entry) + "</item>\n";
    return xml + "</channel>\n</rss>\n";
}

QByteArray atom(const QList<Entry>& entries, const QString& feedTitle) {
    QByteArray xml = declaration + "<feed xmlns=\"http://www.w3.org/2005/Atom\">\n" +
                     element("title", feedTitle) +
                     "<link rel=\"self\" href=\"/notifications/veltrano.xml\"/>\n"
                     "<link rel=\"alternate\" href=\"http://veltrano.invalid/\"/>\n"
                     "<id>http://veltrano.invalid/</id>\n"
                     "<updated>2025-01-01T00:00:00Z</updated>\n";
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const Entry& entry = entries[i];
        xml += "<entry>\n" + element("title", entry.title) +
               (entry.link ? "<link href=\"" + escaped(*entry.link) + "\"/>\n" : QByteArray()) +
               element("id", entry.link.value_or(QStringLiteral("urn:veltrano:%1").arg(i + 1))) +
               (entry.creator ? "<author>" + element("name", entry.creator) + "</author>\n"
                              : QByteArray()) +
               "</entry>\n";
    }
    return xml + "</feed>\n";
}

} // namespace FeedFixture
