// From downloaded bytes to the finished menu: parse, walk the items, build the entries, mark the
// new ones and title them, for feeds of 15, 1,000 and 10,000 items (RSS 1.0; RSS 2.0 and Atom
// beside it).

#include "FeedFixture.h"
#include "NumberedEntries.h"
#include "StartedController.h"

#include <QApplication>
#include <QMenu>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <memory>

namespace {

// The refresh that runs every period: the menu already lists the feed, and the document has a
// new entry at the top (two documents alternate), so every refresh marks a new entry, blinks and
// rewrites every entry.
void refreshEveryPeriod(benchmark::State& state,
                        QByteArray (*write)(const QList<FeedFixture::Entry>&)) {
    const int items = static_cast<int>(state.range(0));
    const QByteArray older = write(numbered(items, 2));
    const QByteArray newer = write(numbered(items, 1));
    const auto app = startedController();
    app->finishRefresh(older);

    bool flip = false;
    for (auto _ : state) {
        app->finishRefresh((flip = !flip) ? newer : older);
        settle(); // replaced entries are freed once the refresh is over
    }
    state.counters["entries"] = static_cast<double>(app->barMenu()->actions().size());
    state.SetBytesProcessed(state.iterations() * newer.size());
}

void BM_RefreshToMenu(benchmark::State& state) {
    refreshEveryPeriod(state,
                       [](const QList<FeedFixture::Entry>& e) { return FeedFixture::rdf(e); });
}
BENCHMARK(BM_RefreshToMenu)->Arg(15)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

// The same for the other two formats the refresh reads.
void BM_Rss2ToMenu(benchmark::State& state) {
    refreshEveryPeriod(state,
                       [](const QList<FeedFixture::Entry>& e) { return FeedFixture::rss2(e); });
}
BENCHMARK(BM_Rss2ToMenu)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
void BM_AtomToMenu(benchmark::State& state) {
    refreshEveryPeriod(state,
                       [](const QList<FeedFixture::Entry>& e) { return FeedFixture::atom(e); });
}
BENCHMARK(BM_AtomToMenu)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

// The first refresh that fills an empty menu: every entry is a new menu item.
void BM_FirstFill(benchmark::State& state) {
    const int items = static_cast<int>(state.range(0));
    const QByteArray feed = FeedFixture::rdf(numbered(items, 1));
    const auto app = startedController();
    for (auto _ : state) {
        app->finishRefresh(feed);
        state.PauseTiming();
        app->finishRefresh(std::nullopt); // back to the placeholder alone
        settle();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(state.iterations() * feed.size());
}
BENCHMARK(BM_FirstFill)->Arg(15)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    QApplication app(argc, argv);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
