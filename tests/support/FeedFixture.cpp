#include "FeedFixture.h"

#include <QFile>

namespace FeedFixture {

QList<Entry> numbered(int count, int first) {
    QList<Entry> entries;
    entries.reserve(count);
    for (int n = first; n < first + count; ++n) {
        entries.append({QStringLiteral("Entry %1").arg(n),
                        QStringLiteral("http://veltrano.invalid/entries/%1").arg(n),
                        QStringLiteral("Author %1").arg(n),
                        {}});
    }
    return entries;
}

QByteArray escaped(const QString& text) {
    QByteArray out = text.toUtf8();
    out.replace('&', "&amp;");
    out.replace('<', "&lt;");
    out.replace('>', "&gt;");
    out.replace('"', "&quot;");
    return out;
}

QByteArray rdf(const QList<Entry>& entries, const QByteArray& extraChildren,
               const QString& channelTitle) {
    QByteArray xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\"\n"
        "         xmlns=\"http://purl.org/rss/1.0/\"\n"
        "         xmlns:dc=\"http://purl.org/dc/elements/1.1/\">\n"
        "  <channel rdf:about=\"http://veltrano.invalid/notifications/veltrano.xml\">\n"
        "    <title>" +
        escaped(channelTitle) +
        "</title>\n"
        "    <link>http://veltrano.invalid/</link>\n"
        "    <description>News from Veltrano</description>\n"
        "    <items>\n      <rdf:Seq>\n";
    for (const Entry& entry : entries) {
        if (entry.link)
            xml += "        <rdf:li rdf:resource=\"" + escaped(*entry.link) + "\"/>\n";
    }
    xml += "      </rdf:Seq>\n    </items>\n  </channel>\n";
    for (const Entry& entry : entries) {
        xml += entry.link ? "  <item rdf:about=\"" + escaped(*entry.link) + "\">\n"
                          : QByteArray("  <item>\n");
        if (entry.title)
            xml += "    <title>" + escaped(*entry.title) + "</title>\n";
        if (entry.link)
            xml += "    <link>" + escaped(*entry.link) + "</link>\n";
        if (entry.creator)
            xml += "    <dc:creator>" + escaped(*entry.creator) + "</dc:creator>\n";
        if (!entry.extraXml.isEmpty())
            xml += "    " + entry.extraXml + "\n";
        xml += "  </item>\n";
    }
    if (!extraChildren.isEmpty())
        xml += "  " + extraChildren + "\n";
    xml += "</rdf:RDF>\n";
    return xml;
}

QByteArray rss2(const QList<Entry>& entries, const QString& channelTitle) {
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                     "<rss version=\"2.0\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\">\n"
                     "  <channel>\n"
                     "    <title>" +
                     escaped(channelTitle) +
                     "</title>\n"
                     "    <link>http://veltrano.invalid/</link>\n"
                     "    <description>News from Veltrano</description>\n";
    for (const Entry& entry : entries) {
        xml += "    <item>\n";
        if (entry.title)
            xml += "      <title>" + escaped(*entry.title) + "</title>\n";
        if (entry.link)
            xml += "      <link>" + escaped(*entry.link) + "</link>\n";
        if (entry.creator)
            xml += "      <dc:creator>" + escaped(*entry.creator) + "</dc:creator>\n";
        if (!entry.extraXml.isEmpty())
            xml += "      " + entry.extraXml + "\n";
        xml += "    </item>\n";
    }
    xml += "  </channel>\n</rss>\n";
    return xml;
}

QByteArray atom(const QList<Entry>& entries, const QString& feedTitle) {
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                     "<feed xmlns=\"http://www.w3.org/2005/Atom\">\n"
                     "  <title>" +
                     escaped(feedTitle) +
                     "</title>\n"
                     "  <link rel=\"self\" href=\"/notifications/veltrano.xml\"/>\n"
                     "  <link rel=\"alternate\" href=\"http://veltrano.invalid/\"/>\n"
                     "  <id>http://veltrano.invalid/</id>\n"
                     "  <updated>2025-01-01T00:00:00Z</updated>\n";
    int serial = 0;
    for (const Entry& entry : entries) {
        xml += "  <entry>\n";
        if (entry.title)
            xml += "    <title>" + escaped(*entry.title) + "</title>\n";
        if (entry.link)
            xml += "    <link href=\"" + escaped(*entry.link) + "\"/>\n";
        ++serial;
        xml += "    <id>" +
               (entry.link ? escaped(*entry.link) : "urn:veltrano:" + QByteArray::number(serial)) +
               "</id>\n";
        if (entry.creator)
            xml += "    <author><name>" + escaped(*entry.creator) + "</name></author>\n";
        if (!entry.extraXml.isEmpty())
            xml += "    " + entry.extraXml + "\n";
        xml += "  </entry>\n";
    }
    xml += "</feed>\n";
    return xml;
}

QString dataDir() {
    const QString fromEnvironment = qEnvironmentVariable("PINGLARK_TEST_DATA");
    return fromEnvironment.isEmpty() ? QStringLiteral(PINGLARK_TEST_DATA_SOURCE_DIR)
                                     : fromEnvironment;
}

QByteArray sample(const QString& fileName) {
    QFile file(dataDir() + QLatin1Char('/') + fileName);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

} // namespace FeedFixture
