// Parse speed and memory of the XML tree beside other parsers, on RSS 1.0 feeds of about 10 KB,
// 600 KB and 12 MB, plus the refresh's walk over a parsed feed.
//
//   xml_parse_bench                              all of it
//   xml_parse_bench --benchmark_filter=Parse     parse speed only (MB/s as bytes_per_second)
//
// Each parse iteration builds the tree and frees it again. Retained memory is the heap in use
// while one tree of the 12 MB feed is alive (mallinfo2, including mmap'd blocks).

#include "XMLTree.h"

#include <QByteArray>
#include <QDomDocument>
#include <QString>

#include <benchmark/benchmark.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <malloc.h>
#include <pugixml.hpp>

#include <array>
#include <optional>

using namespace Qt::StringLiterals;

namespace {

// An RSS 1.0 document of at least `target` bytes, shaped like a news feed: a channel with its
// item list, then items with title, link, description and Dublin Core fields.
QByteArray makeFeed(qsizetype target) {
    const int items = std::max(3, int(target / 630));
    QByteArray doc;
    doc.reserve(target + 4096);
    doc += "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
           "<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\"\n"
           "         xmlns=\"http://purl.org/rss/1.0/\"\n"
           "         xmlns:dc=\"http://purl.org/dc/elements/1.1/\">\n"
           "  <channel rdf:about=\"http://news.example.org/\">\n"
           "    <title>Example News &amp; Notes</title>\n"
           "    <link>http://news.example.org/</link>\n"
           "    <description>Stories from around the example world.</description>\n"
           "    <items>\n      <rdf:Seq>\n";
    for (int i = 0; i < items; ++i)
        doc += "        <rdf:li rdf:resource=\"http://news.example.org/story/" +
               QByteArray::number(i) + "\"/>\n";
    doc += "      </rdf:Seq>\n    </items>\n  </channel>\n";
    for (int i = 0; i < items; ++i) {
        const QByteArray n = QByteArray::number(i);
        doc +=
            "  <item rdf:about=\"http://news.example.org/story/" + n +
            "\">\n"
            "    <title>Story " +
            n +
            ": caf\xC3\xA9 owners &amp; city council agree on \xE2\x80\x9Cquiet hours\xE2\x80\x9D"
            "</title>\n"
            "    <link>http://news.example.org/story/" +
            n +
            "</link>\n"
            "    <description>&lt;p&gt;After months of talks the council and the owners of "
            "the old town's caf\xC3\xA9s settled on quiet hours from ten at night. Residents "
            "welcomed the move; some owners expect fewer late guests.&lt;/p&gt;</description>\n"
            "    <dc:creator>Reporter " +
            QByteArray::number(i % 37) +
            "</dc:creator>\n"
            "    <dc:date>2024-05-" +
            QByteArray::number(10 + i % 18) +
            "T08:30:00Z</dc:date>\n"
            "    <dc:subject>Local</dc:subject>\n"
            "  </item>\n";
    }
    doc += "</rdf:RDF>\n";
    return doc;
}

const std::array<QByteArray, 3>& feeds() {
    static const std::array<QByteArray, 3> all = {makeFeed(10 * 1024), makeFeed(600 * 1024),
                                                  makeFeed(12 * 1024 * 1024)};
    return all;
}

const QByteArray& feedArg(const benchmark::State& state) {
    return feeds()[std::size_t(state.range(0))];
}

std::size_t heapInUse() {
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

void setSizeLabel(benchmark::State& state, const QByteArray& feed) {
    state.SetLabel(std::to_string(feed.size() / 1024) + " KB");
    state.SetBytesProcessed(int64_t(state.iterations()) * feed.size());
}

// Parsers. Each returns an owned tree, and the benchmark frees it.

void BM_Parse_XMLTree(benchmark::State& state) {
    const QByteArray& feed = feedArg(state);
    for (auto _ : state) {
        auto tree = XMLTree::treeWithData(feed);
        if (!tree)
            state.SkipWithError("XMLTree refused the feed");
        benchmark::DoNotOptimize(tree);
    }
    setSizeLabel(state, feed);
}

void BM_Parse_QDomDocument(benchmark::State& state) {
    const QByteArray& feed = feedArg(state);
    for (auto _ : state) {
        QDomDocument doc;
        if (!doc.setContent(feed))
            state.SkipWithError("QDomDocument refused the feed");
        benchmark::DoNotOptimize(doc);
    }
    setSizeLabel(state, feed);
}

void BM_Parse_libxml2(benchmark::State& state) {
    const QByteArray& feed = feedArg(state);
    for (auto _ : state) {
        xmlDocPtr doc =
            xmlReadMemory(feed.constData(), int(feed.size()), "feed.xml", nullptr, XML_PARSE_NONET);
        if (!doc)
            state.SkipWithError("libxml2 refused the feed");
        benchmark::DoNotOptimize(doc);
        xmlFreeDoc(doc);
    }
    setSizeLabel(state, feed);
}

void BM_Parse_pugixml(benchmark::State& state) {
    const QByteArray& feed = feedArg(state);
    for (auto _ : state) {
        pugi::xml_document doc;
        if (!doc.load_buffer(feed.constData(), std::size_t(feed.size())))
            state.SkipWithError("pugixml refused the feed");
        benchmark::DoNotOptimize(doc);
    }
    setSizeLabel(state, feed);
}

// What a refresh does with the parsed feed: find the feed element, walk its children, and read
// the title, link and creator of every item. The goal is under a tenth of the parse time.
void BM_HotPath_XMLTree(benchmark::State& state) {
    const QByteArray& feed = feedArg(state);
    const XMLTree tree = XMLTree::treeWithData(feed).value();
    const QString rdf = u"rdf:RDF"_s, item = u"item"_s, title = u"title"_s, link = u"link"_s,
                  creator = u"dc:creator"_s;
    int entries = 0;
    for (auto _ : state) {
        entries = 0;
        const auto root = tree.descendentNamed(rdf);
        for (int i = 0, n = root->count(); i < n; ++i) {
            const XMLTree child = *root->childAtIndex(i);
            if (child.name() != item)
                continue;
            const auto t = child.descendentNamed(title);
            if (!t)
                continue;
            // Each text is kept on its own, as the refresh keeps them for the menu entry.
            const QString titleText = t->description();
            std::optional<QString> linkText, creatorText;
            if (const auto l = child.descendentNamed(link))
                linkText = l->description();
            if (const auto c = child.descendentNamed(creator))
                creatorText = c->description();
            benchmark::DoNotOptimize(titleText);
            benchmark::DoNotOptimize(linkText);
            benchmark::DoNotOptimize(creatorText);
            ++entries;
        }
    }
    state.counters["items"] = entries;
    setSizeLabel(state, feed);
}

// Heap held by one tree of the largest feed.
template <typename Build> void retained(benchmark::State& state, Build build) {
    const QByteArray& feed = feeds()[2];
    std::size_t bytes = 0;
    for (auto _ : state) {
        malloc_trim(0);
        const std::size_t before = heapInUse();
        auto tree = build(feed);
        bytes = heapInUse() - before;
        benchmark::DoNotOptimize(tree);
    }
    state.counters["retained_MB"] = double(bytes) / (1024.0 * 1024.0);
    state.counters["feed_MB"] = double(feed.size()) / (1024.0 * 1024.0);
}

void BM_Memory_XMLTree(benchmark::State& state) {
    retained(state, [](const QByteArray& feed) { return XMLTree::treeWithData(feed); });
}

void BM_Memory_QDomDocument(benchmark::State& state) {
    retained(state, [](const QByteArray& feed) {
        auto doc = std::make_unique<QDomDocument>();
        doc->setContent(feed);
        return doc;
    });
}

void BM_Memory_libxml2(benchmark::State& state) {
    retained(state, [](const QByteArray& feed) {
        return std::unique_ptr<xmlDoc, void (*)(xmlDocPtr)>(
            xmlReadMemory(feed.constData(), int(feed.size()), "feed.xml", nullptr, XML_PARSE_NONET),
            xmlFreeDoc);
    });
}

void BM_Memory_pugixml(benchmark::State& state) {
    retained(state, [](const QByteArray& feed) {
        auto doc = std::make_unique<pugi::xml_document>();
        doc->load_buffer(feed.constData(), std::size_t(feed.size()));
        return doc;
    });
}

} // namespace

BENCHMARK(BM_Parse_XMLTree)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Parse_QDomDocument)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Parse_libxml2)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Parse_pugixml)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HotPath_XMLTree)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Memory_XMLTree)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Memory_QDomDocument)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Memory_libxml2)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Memory_pugixml)->Iterations(1)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    xmlInitParser();
    feeds(); // generated once, before any measurement
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    xmlCleanupParser();
    return 0;
}
