// Cost of the settings store's reads and writes as the program makes them: a handle taken from
// UserDefaults::standardUserDefaults() for each call, over a file of the usual keys.
//
//   settings_bench

#include "UserDefaults.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

using namespace Qt::StringLiterals;

namespace {

void ReadBool(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(UserDefaults::standardUserDefaults().boolForKey(u"TrimTitle"_s));
}
BENCHMARK(ReadBool);

void ReadFloat(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            UserDefaults::standardUserDefaults().floatForKey(u"DataRefreshInterval"_s));
    }
}
BENCHMARK(ReadFloat);

void WriteBool(benchmark::State& state) {
    bool value = false;
    for (auto _ : state)
        UserDefaults::standardUserDefaults().setBool(value = !value, u"ShowSource"_s);
}
BENCHMARK(WriteBool);

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    UserDefaults defaults = UserDefaults::standardUserDefaults();
    defaults.setBool(true, u"HasRun"_s);
    defaults.setFloat(0, u"ShowSource"_s);
    defaults.setFloat(1, u"TrimTitle"_s);
    defaults.setFloat(1800, u"DataRefreshInterval"_s);
    defaults.setString(u"http://news.example/feed.xml"_s, u"FeedURL"_s);
    defaults.setString(u"120,90,420,260"_s, u"PrefWindowFrame"_s);

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
