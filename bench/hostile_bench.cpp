// What a refresh costs in time when the feed means harm: bodies of every shape that the 8 MiB
// download cap lets through, from the downloaded bytes to the finished menu. Goal: every shape
// within 3x the time per MB of an ordinary feed of about the same size, so that no body within
// the cap can freeze the program (every step of a refresh is linear in the body).
//
// Prints each shape's time per MB and its ratio to the ordinary feed's; exits non-zero when a
// ratio is over the goal.

#include "HostileFeeds.h"
#include "StartedController.h"

#include <QApplication>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>

using namespace HostileFeeds;

namespace {

constexpr double goal = 3.0;
const std::string ordinaryName = "ordinary feed, short entries up to the cap";

// unit repeated to fill the cap inside head and tail.
QByteArray filled(const QByteArray& head, const QByteArray& unit, const QByteArray& tail) {
    return head + unit.repeated((bodyCap - head.size() - tail.size()) / unit.size()) + tail;
}

// One Atom entry whose title is unit repeated to fill the cap.
QByteArray atomTitle(const QByteArray& type, const QByteArray& unit) {
    return filled("<feed><entry><link href='http://x/1'/><title type='" + type + "'>", unit,
                  "</title></entry></feed>");
}

// Elements of names that all differ, perAttribute new attribute names each (none: no attributes),
// up to the cap.
QByteArray distinctNames(int perElement) {
    QByteArray body = "<rdf:RDF>";
    for (int n = 0; body.size() < bodyCap - 100000;) {
        body += "<e" + QByteArray::number(n++, 36);
        for (int i = 0; i < perElement; ++i)
            body += " a" + QByteArray::number(n++, 36) + "=''";
        body += "/>";
    }
    return body + "</rdf:RDF>";
}

struct Shape {
    std::string name;
    QByteArray body;
};

std::vector<Shape> shapes() {
    return {
        {ordinaryName, largeFeedBody()},
        {"RSS 1.0, tiny entries", tinyEntries(false)},
        {"RSS 2.0, tiny entries", tinyEntries(true)},
        {"Atom, tiny entries",
         filled("<feed>", "<entry><title>t</title><link href='x'/></entry>\n", "</feed>")},
        {"Atom HTML title of 8 M '&'",
         atomTitle("html", "<![CDATA[" + QByteArray(bodyCap - 100, '&') + "]]>")},
        {"Atom HTML title of '&#' and '&amp'", atomTitle("html", "&amp;#1&amp;amp")},
        {"Atom HTML title of unclosed tags and quotes", atomTitle("html", "&lt;a x=\"'")},
        {"Atom XHTML title of elements and blanks", atomTitle("xhtml", "<b>x</b> ")},
        {"one name of 8 MB",
         filled("<rdf:RDF><item><title>t</title></item><", "n", "/></rdf:RDF>")},
        {"1,000 attributes per element", upToCap(Where::Root, attributes(1000))},
        {"elements of distinct names", distinctNames(0)},
        {"attributes of distinct names, 10 per element", distinctNames(10)},
        {"attributes of distinct names, 10,000 per element", distinctNames(10000)},
        {"one element, attributes of distinct names", upToCap(Where::Root, attributes(800000))},
        {"deep: titles of 99,990 nested elements", upToCap(Where::Title, nested(99990))},
        {"deep: 1,000,000 nested elements", upToCap(Where::Title, nested(1000000))},
        {"text and undeclared entities", upToCap(Where::Root, "x&a;")},
        {"entities of 100 elements each",
         upToCap(Where::Root, "&e;", entityDeclaration(QByteArray("<a/>").repeated(100)))},
    };
}

// Keeps each shape's time per MB, as the console shows the runs.
class Reporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> secondsPerMB;

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            const double seconds = run.real_accumulated_time / double(run.iterations);
            secondsPerMB[run.run_name.function_name] =
                seconds / (double(sizes.at(run.run_name.function_name)) / 1e6);
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, qsizetype> sizes;
};

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    qputenv("XDG_CACHE_HOME", config.path().toLocal8Bit());
    QApplication application(argc, argv);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    const auto app = startedController();

    Reporter reporter;
    for (const Shape& shape : shapes()) {
        reporter.sizes[shape.name] = shape.body.size();
        benchmark::RegisterBenchmark(shape.name.c_str(),
                                     [&app, body = shape.body](benchmark::State& state) {
                                         app->finishRefresh(
                                             body); // the menu as this body leaves it
                                         settle();
                                         for (auto _ : state) {
                                             app->finishRefresh(body);
                                             settle();
                                         }
                                         state.SetBytesProcessed(state.iterations() * body.size());
                                     })
            ->Unit(benchmark::kMillisecond)
            ->MinTime(0.5);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    const double ordinary = reporter.secondsPerMB[ordinaryName];
    bool ok = ordinary > 0;
    std::printf("time per MB against the ordinary feed's %.1f ms (goal <= %.0fx):\n",
                ordinary * 1e3, goal);
    for (const auto& [name, seconds] : reporter.secondsPerMB) {
        const double ratio = seconds / ordinary;
        std::printf("  %-48s %6.1f ms/MB  %5.2fx\n", name.c_str(), seconds * 1e3, ratio);
        ok &= ratio <= goal;
    }
    if (!ok)
        std::printf("MISSED: a body within the cap costs over %.0fx an ordinary one\n", goal);
    return ok ? 0 : 1;
}
