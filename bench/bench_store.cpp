// Table engine throughput on the IP table with all its tags: appends, opening, key lookups and
// filtered scans. Prints Google Benchmark's table, then a summary against the targets.
#include "engine.h"
#include "schema.h"
#include "table.h"
#include "tablefile.h"
#include "tablelock.h"

#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

using qn::Table;

constexpr int kDatasetRows = 100000;

struct Row {
    QString sysId, computer, ip[4], ipString, alias[4], type, typeDesc;
};

// Deterministic, varied rows: a few subnets, ten system types, names with the aliases an
// administrator gives them, some rows sharing a system.
class RowSource {
public:
    Row next();

private:
    std::mt19937 rng{20240601};
    int sys = 100;
    int i = 0;
};

Row RowSource::next() {
    static const char* const types[][2] = {
        {"UNIX", "Unix server"},   {"PC", "Desktop PC"},       {"MAC", "Macintosh"},
        {"PRN", "Printer"},        {"RTR", "Router"},          {"SW", "Switch"},
        {"SRV", "Windows server"}, {"NAS", "Network storage"}, {"AP", "Wireless access point"},
        {"VM", "Virtual machine"}};
    static const char* const depts[] = {"acct", "eng", "sales", "hr", "lab", "ops", "it", "mkt"};
    static const char* const firstOctets[] = {"10", "172", "192"};
    {
        Row r;
        if (rng() % 4 != 0) // most systems have one address, some have several
            ++sys;
        r.sysId = QStringLiteral("A%1").arg(sys, 7, 10, QChar(u'0'));
        const auto& t = types[rng() % 10];
        r.type = QString::fromLatin1(t[0]);
        r.typeDesc = QString::fromLatin1(t[1]);
        const char* dept = depts[rng() % 8];
        r.computer =
            QStringLiteral("%1-%2-%3").arg(QString::fromLatin1(dept), r.type.toLower()).arg(i);
        int octets[4] = {0, int(rng() % 32), int(rng() % 256), int(1 + rng() % 254)};
        r.ip[0] = QString::fromLatin1(firstOctets[rng() % 3]);
        octets[0] = r.ip[0].toInt();
        for (int k = 1; k < 4; ++k)
            r.ip[k] = QString::number(octets[k]);
        for (int k = 0; k < 4; ++k)
            r.ipString += QStringLiteral("%1").arg(octets[k], 3, 10, QChar(u'0'));
        unsigned aliases = rng() % 5; // 0 to 4 aliases, fewer more often
        aliases = aliases > 2 ? aliases - 2 : aliases;
        if (rng() % 10 == 0)
            aliases = 4;
        for (unsigned k = 0; k < aliases; ++k)
            r.alias[k] = QStringLiteral("%1%2.%3")
                             .arg(QString::fromLatin1(k == 0   ? "www"
                                                      : k == 1 ? "mail"
                                                      : k == 2 ? "ftp"
                                                               : "ns"))
                             .arg(i)
                             .arg(QString::fromLatin1(dept));
        ++i;
        return r;
    }
}

std::vector<Row> makeRows(int count) {
    RowSource source;
    std::vector<Row> rows;
    rows.reserve(size_t(count));
    for (int i = 0; i < count; ++i)
        rows.push_back(source.next());
    return rows;
}

const std::vector<Row>& rows() {
    static const std::vector<Row> all = makeRows(kDatasetRows);
    return all;
}

void appendRow(Table& t, const Row& r) {
    static const QString ipFields[4] = {QStringLiteral("IP1"), QStringLiteral("IP2"),
                                        QStringLiteral("IP3"), QStringLiteral("IP4")};
    static const QString aliasFields[4] = {QStringLiteral("ALIAS1"), QStringLiteral("ALIAS2"),
                                           QStringLiteral("ALIAS3"), QStringLiteral("ALIAS4")};
    t.append();
    t.setFieldText(QStringLiteral("SYSID"), r.sysId);
    t.setFieldText(QStringLiteral("COMPUTER"), r.computer);
    for (int k = 0; k < 4; ++k)
        t.setFieldText(ipFields[k], r.ip[k]);
    t.setFieldText(QStringLiteral("IPSTRING"), r.ipString);
    for (int k = 0; k < 4; ++k)
        t.setFieldText(aliasFields[k], r.alias[k]);
    t.setFieldText(QStringLiteral("TYPE"), r.type);
    t.setFieldText(QStringLiteral("TYPEDESC"), r.typeDesc);
    t.post();
}

// A private folder with its own engine configuration and an alias IP on it.
class Workspace {
public:
    Workspace()
        : m_engine(std::make_unique<qn::Engine>(m_dir.path() + QStringLiteral("/engine.cfg"))) {
        QDir().mkpath(dbPath());
        m_engine->initialize();
        m_engine->addAlias(QStringLiteral("IP"), QStringLiteral("PATH:") + dbPath());
    }
    QString dbPath() const { return m_dir.path() + QStringLiteral("/db"); }
    qn::Engine& engine() { return *m_engine; }
    void createIpTable() {
        qn::schema::createTable(dbPath(), qn::schema::table(QStringLiteral("IP")));
    }

    std::unique_ptr<Table> open(const QString& tag = {}, const QString& filter = {}) {
        auto t = std::make_unique<Table>(*m_engine);
        t->setDatabaseName(QStringLiteral("IP"));
        t->setTableName(QStringLiteral("IP.DBF"));
        t->setIndexName(tag);
        if (!filter.isEmpty()) {
            t->setFilter(filter);
            t->setFiltered(true);
        }
        t->open();
        return t;
    }

private:
    QTemporaryDir m_dir;
    std::unique_ptr<qn::Engine> m_engine;
};

// The 100,000-row table the read benchmarks share, built once.
Workspace& dataset() {
    static Workspace* w = [] {
        auto* ws = new Workspace;
        ws->createIpTable();
        auto t = ws->open();
        for (const Row& r : rows())
            appendRow(*t, r);
        return ws;
    }();
    return *w;
}

void BM_Append(benchmark::State& state) {
    const int count = int(state.range(0));
    const std::vector<Row>& data = rows();
    for (auto _ : state) {
        state.PauseTiming();
        auto ws = std::make_unique<Workspace>();
        ws->createIpTable();
        auto t = ws->open();
        state.ResumeTiming();
        for (int i = 0; i < count; ++i)
            appendRow(*t, data[size_t(i)]);
        state.PauseTiming();
        if (t->file()->dbf().recordCount() != uint32_t(count))
            state.SkipWithError("row count differs");
        t.reset();
        ws.reset();
        state.ResumeTiming();
    }
    state.counters["rows/s"] =
        benchmark::Counter(double(state.iterations()) * count, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Append)->Arg(10000)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Append)->Arg(100000)->Iterations(2)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Open(benchmark::State& state) {
    Workspace& ws = dataset();
    for (auto _ : state) {
        auto t = ws.open(QStringLiteral("IP"));
        benchmark::DoNotOptimize(t->recNo());
        t.reset(); // the last user closes the files
    }
    state.counters["opens/s"] =
        benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Open)->Unit(benchmark::kMicrosecond)->UseRealTime();

void lookups(benchmark::State& state, const QString& tag, const QString& field, QString Row::*key) {
    Workspace& ws = dataset();
    auto t = ws.open(tag);
    const std::vector<Row>& data = rows();
    std::vector<QString> keys;
    std::mt19937 rng(7);
    for (int i = 0; i < 4096; ++i)
        keys.push_back(data[rng() % data.size()].*key);
    size_t i = 0;
    int64_t misses = 0;
    const QString computer = QStringLiteral("COMPUTER");
    for (auto _ : state) {
        t->setKey();
        t->setFieldText(field, keys[i++ & 4095]);
        if (!t->gotoKey())
            ++misses;
        benchmark::DoNotOptimize(t->fieldText(computer));
    }
    if (misses)
        state.SkipWithError("a key that is in the table was not found");
    state.counters["lookups/s"] =
        benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_LookupIP(benchmark::State& state) {
    lookups(state, QStringLiteral("IP"), QStringLiteral("IPSTRING"), &Row::ipString);
}
BENCHMARK(BM_LookupIP)->Unit(benchmark::kNanosecond)->UseRealTime();

void BM_LookupSysID(benchmark::State& state) {
    lookups(state, QStringLiteral("SYSID"), QStringLiteral("SYSID"), &Row::sysId);
}
BENCHMARK(BM_LookupSysID)->Unit(benchmark::kNanosecond)->UseRealTime();

// A table of the given size (built once, in groups of appends) and keys spread over it.
struct Sized {
    Workspace ws;
    std::vector<QString> keys;
};

Sized& sizedDataset(int count) {
    static std::map<int, std::unique_ptr<Sized>> made;
    std::unique_ptr<Sized>& d = made[count];
    if (!d) {
        d = std::make_unique<Sized>();
        d->ws.createIpTable();
        auto t = d->ws.open();
        RowSource source;
        std::mt19937 rng(11);
        for (int i = 0; i < count;) {
            qn::TableGroup group(*t);
            for (int k = 0; k < 1000 && i < count; ++k, ++i) {
                const Row r = source.next();
                if (rng() % uint32_t(std::max(1, count / 4096)) == 0)
                    d->keys.push_back(r.sysId);
                appendRow(*t, r);
            }
            group.commit();
        }
        std::shuffle(d->keys.begin(), d->keys.end(), rng);
    }
    return *d;
}

// Read system calls of this process so far (/proc/self/io): index blocks and row pages.
uint64_t readCalls() {
    QFile io(QStringLiteral("/proc/self/io"));
    if (!io.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : io.readAll().split('\n'))
        if (line.startsWith("syscr:"))
            return line.mid(6).trimmed().toULongLong();
    return 0;
}

// 10,000 lookups by SysID on a table just opened (nothing cached), at the size given: the rate
// should fall with the tree's depth only. Rows and file reads per lookup are the stable figures.
// 10,000 SysID lookups; cold: on a table just opened, nothing cached; warm: on one table kept
// open after a first pass, so that only the lookups' own work is left (what bounds the cold
// figure is the file reads it has to make).
void sizedLookups(benchmark::State& state, bool warm) {
    Sized& d = sizedDataset(int(state.range(0)));
    constexpr int kLookups = 10000;
    const QString field = QStringLiteral("SYSID"), computer = QStringLiteral("COMPUTER");
    uint64_t rows = 0, reads = 0;
    int64_t misses = 0;
    std::unique_ptr<Table> kept;
    auto pass = [&](Table& t) {
        for (int i = 0; i < kLookups; ++i) {
            t.setKey();
            t.setFieldText(field, d.keys[size_t(i) % d.keys.size()]);
            if (!t.gotoKey())
                ++misses;
            benchmark::DoNotOptimize(t.fieldText(computer));
        }
    };
    if (warm) {
        kept = d.ws.open(field);
        pass(*kept);
    }
    for (auto _ : state) {
        const uint64_t rows0 = Table::counters().rowsRead, reads0 = readCalls();
        auto t = warm ? nullptr : d.ws.open(field);
        pass(warm ? *kept : *t);
        t.reset();
        rows += Table::counters().rowsRead - rows0;
        reads += readCalls() - reads0;
    }
    if (misses)
        state.SkipWithError("a key that is in the table was not found");
    const double n = double(state.iterations()) * kLookups;
    state.counters["lookups/s"] = benchmark::Counter(n, benchmark::Counter::kIsRate);
    state.counters["rows/lookup"] = double(rows) / n;
    state.counters["reads/lookup"] = double(reads) / n;
}

void BM_LookupAfterOpen(benchmark::State& state) {
    sizedLookups(state, false);
}
BENCHMARK(BM_LookupAfterOpen)
    ->Arg(10000)
    ->Arg(1000000)
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_LookupWarm(benchmark::State& state) {
    sizedLookups(state, true);
}
BENCHMARK(BM_LookupWarm)
    ->Arg(10000)
    ->Arg(1000000)
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// A physical pass over every row through the filter, reading three fields of each visible row.
void scan(benchmark::State& state, const QString& filter) {
    Workspace& ws = dataset();
    auto t = ws.open({}, filter);
    const QString f1 = QStringLiteral("COMPUTER"), f2 = QStringLiteral("IPSTRING"),
                  f3 = QStringLiteral("SYSID");
    int64_t visible = 0;
    for (auto _ : state) {
        visible = 0;
        for (t->first(); !t->eof(); t->next()) {
            benchmark::DoNotOptimize(t->fieldText(f1));
            benchmark::DoNotOptimize(t->fieldText(f2));
            benchmark::DoNotOptimize(t->fieldText(f3));
            ++visible;
        }
    }
    state.counters["rows/s"] =
        benchmark::Counter(double(state.iterations()) * kDatasetRows, benchmark::Counter::kIsRate);
    state.counters["visible"] = double(visible);
}

void BM_ScanFiltered(benchmark::State& state) {
    scan(state, QStringLiteral("TYPE = 'UNIX' and IP1 = '10'"));
}
BENCHMARK(BM_ScanFiltered)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ScanAll(benchmark::State& state) {
    scan(state, {});
}
BENCHMARK(BM_ScanAll)->Unit(benchmark::kMillisecond)->UseRealTime();

// Keeps every run's figures for the summary printed after the table.
class Reporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs)
            if (!r.error_occurred)
                m_runs[r.benchmark_name()] = r;
        ConsoleReporter::ReportRuns(runs);
    }
    const Run* find(const std::string& name) const {
        auto it = m_runs.find(name);
        return it == m_runs.end() ? nullptr : &it->second;
    }

private:
    std::map<std::string, Run> m_runs;
};

double seconds(const benchmark::BenchmarkReporter::Run& r) {
    return r.real_accumulated_time / double(r.iterations);
}

double counter(const benchmark::BenchmarkReporter::Run& r, const char* name) {
    auto it = r.counters.find(name);
    return it == r.counters.end() ? 0 : it->second.value;
}

void summary(const Reporter& rep) {
    auto line = [](const char* what, double value, const char* unit, const char* target, bool ok) {
        std::printf("%-44s %14.1f %-10s target %-14s %s\n", what, value, unit, target,
                    ok ? "met" : "MISSED");
    };
    std::printf("\nSummary\n");
    const auto* a10 = rep.find("BM_Append/10000/iterations:5/real_time");
    const auto* a100 = rep.find("BM_Append/100000/iterations:2/real_time");
    if (a10 && a100) {
        double r100 = counter(*a100, "rows/s");
        line("append 100k rows, every tag", r100, "rows/s", ">= 20000", r100 >= 20000);
        line("append 10k rows, every tag", counter(*a10, "rows/s"), "rows/s", "", true);
        double ratio = seconds(*a100) / seconds(*a10);
        line("time of 100k / time of 10k", ratio, "x", "<= 12", ratio <= 12);
    }
    if (const auto* o = rep.find("BM_Open/real_time")) {
        double us = seconds(*o) * 1e6;
        line("open table + production index", us, "us", "< 100", us < 100);
    }
    for (const char* name : {"BM_LookupIP/real_time", "BM_LookupSysID/real_time"})
        if (const auto* l = rep.find(name)) {
            double v = counter(*l, "lookups/s");
            line(name, v, "lookups/s", ">= 500000", v >= 500000);
        }
    const auto* s10 = rep.find("BM_LookupAfterOpen/10000/iterations:5/real_time");
    const auto* s1m = rep.find("BM_LookupAfterOpen/1000000/iterations:5/real_time");
    if (s10 && s1m) {
        const double ratio = counter(*s10, "lookups/s") / counter(*s1m, "lookups/s");
        line("lookups after open, 10k rows / 1M rows", ratio, "x", "<= 2", ratio <= 2);
        std::printf("  per lookup at 10k: %.2f rows, %.2f file reads; at 1M: %.2f rows, %.2f "
                    "file reads\n",
                    counter(*s10, "rows/lookup"), counter(*s10, "reads/lookup"),
                    counter(*s1m, "rows/lookup"), counter(*s1m, "reads/lookup"));
    }
    const auto* w10 = rep.find("BM_LookupWarm/10000/iterations:5/real_time");
    const auto* w1m = rep.find("BM_LookupWarm/1000000/iterations:5/real_time");
    if (w10 && w1m) // for comparison: the same lookups with nothing left to read
        line("lookups warm, 10k rows / 1M rows",
             counter(*w10, "lookups/s") / counter(*w1m, "lookups/s"), "x", "", true);
    if (const auto* s = rep.find("BM_ScanFiltered/real_time")) {
        double v = counter(*s, "rows/s");
        line("filtered physical scan", v, "rows/s", ">= 3000000", v >= 3000000);
    }
    if (const auto* s = rep.find("BM_ScanAll/real_time")) // every row decoded: for comparison
        line("unfiltered scan, three fields of every row", counter(*s, "rows/s"), "rows/s", "",
             true);
}

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    Reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    summary(reporter);
    benchmark::Shutdown();
    return 0;
}
