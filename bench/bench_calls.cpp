// File calls per table operation, counted by the latency shim (tests/qnslow.so, preloaded by
// re-running this program under it), and the time each operation takes, on the local disk and
// on any folder given (for instance a network mount):
//
//   bench_calls [--rows N] [folder ...]
//
// Over a network every file call is a round trip, so the counts say more than local times.
// Two engines stand for two users: each has its own open files and caches.
#include "engine.h"
#include "schema.h"
#include "table.h"
#include "tablelock.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <memory>
#include <unistd.h>
#include <vector>

namespace {

using Counts = std::array<unsigned long, 10>;
using CountFn = int (*)(unsigned long*, int);
const char* const kKinds[] = {"open",  "close", "stat", "fstat",    "read",
                              "write", "lock",  "sync", "truncate", "statfs"};

CountFn countFn() {
    static CountFn fn = reinterpret_cast<CountFn>(dlsym(RTLD_DEFAULT, "qnslow_counts"));
    return fn;
}

Counts counts() {
    Counts c{};
    countFn()(c.data(), int(c.size()));
    return c;
}

unsigned long total(const Counts& c) {
    unsigned long n = 0;
    for (unsigned long v : c)
        n += v;
    return n;
}

Counts operator-(const Counts& a, const Counts& b) {
    Counts d{};
    for (size_t i = 0; i < a.size(); ++i)
        d[i] = a[i] - b[i];
    return d;
}

// One user of the folder: an engine with the alias IP on it.
struct User {
    explicit User(const QString& folder, const QString& cfg)
        : engine(std::make_unique<qn::Engine>(cfg)) {
        engine->initialize();
        engine->addAlias(QStringLiteral("IP"), QStringLiteral("PATH:") + folder);
    }
    std::unique_ptr<qn::Table> open(const QString& tag = QStringLiteral("IP")) {
        auto t = std::make_unique<qn::Table>(*engine);
        t->setDatabaseName(QStringLiteral("IP"));
        t->setTableName(QStringLiteral("IP.DBF"));
        t->setIndexName(tag);
        t->open();
        return t;
    }
    std::unique_ptr<qn::Engine> engine;
};

QString ipString(int i) {
    return QStringLiteral("%1%2%3%4")
        .arg(10 + i % 3 * 81, 3, 10, QChar(u'0'))
        .arg(i / 65536 % 256, 3, 10, QChar(u'0'))
        .arg(i / 256 % 256, 3, 10, QChar(u'0'))
        .arg(i % 256, 3, 10, QChar(u'0'));
}

void appendRow(qn::Table& t, int i, const char* who) {
    t.append();
    t.setFieldText(QStringLiteral("SYSID"), QStringLiteral("%1%2").arg(QLatin1String(who)).arg(i));
    t.setFieldText(QStringLiteral("COMPUTER"),
                   QStringLiteral("pc-%1-%2").arg(QLatin1String(who)).arg(i));
    t.setFieldText(QStringLiteral("IPSTRING"), ipString(i));
    t.setFieldText(QStringLiteral("TYPE"), i % 2 ? QStringLiteral("PC") : QStringLiteral("UNIX"));
    t.setFieldText(QStringLiteral("ALIAS1"), i % 3 ? QStringLiteral("www%1").arg(i) : QString());
    t.post();
}

struct Measure {
    const char* what;
    double calls = 0, us = 0;
    Counts detail{};
};

template <class F> Measure measure(const char* what, int times, F&& op) {
    const Counts before = counts();
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < times; ++i)
        op(i);
    Measure m{what};
    m.us = double(clock.nsecsElapsed()) / 1000.0 / times;
    m.detail = counts() - before;
    m.calls = double(total(m.detail)) / times;
    return m;
}

void run(const QString& where, int rows) {
    QTemporaryDir dir(where + QStringLiteral("/bench_calls-XXXXXX"));
    const QString db = dir.path() + QStringLiteral("/db");
    QDir().mkpath(db);
    qn::schema::createTable(db, qn::schema::table(QStringLiteral("IP")));
    User a(db, dir.path() + QStringLiteral("/a.cfg")), b(db, dir.path() + QStringLiteral("/b.cfg"));
    std::vector<Measure> out;
    {
        auto t = a.open();
        const int n = rows / 2;
        Measure m = measure("append (every IP tag)", n, [&](int i) { appendRow(*t, i, "A"); });
        out.push_back(m);
        std::printf("  %s: %.0f rows/s\n", qPrintable(where), 1e6 / m.us);
        // 50 appends under one group: calls and time per row.
        const int groups = std::max(2, rows / 500);
        Measure g = measure("append, grouped by 50", groups, [&](int i) {
            qn::TableGroup group(*t);
            for (int k = 0; k < 50; ++k)
                appendRow(*t, 3 * rows + i * 50 + k, "G");
            group.commit();
        });
        g.calls /= 50;
        g.us /= 50;
        out.push_back(g);
        std::printf("  %s, grouped: %.0f rows/s\n", qPrintable(where), 1e6 / g.us);
    }
    {
        auto ta = a.open(), tb = b.open();
        const int n = std::max(100, rows / 20);
        out.push_back(measure("append, two users in turn", n, [&](int i) {
            appendRow(i % 2 ? *ta : *tb, rows + i, i % 2 ? "A" : "B");
        }));
        for (int i = rows / 2 + n; i < rows; ++i)
            appendRow(*ta, i, "A");
    }
    out.push_back(measure("open table + index, close", 100, [&](int) {
        auto t = b.open();
        t.reset();
    }));
    {
        auto reader = b.open(QStringLiteral("SYSID"));
        auto writer = a.open();
        reader->setKey();
        reader->setFieldText(QStringLiteral("SYSID"), QStringLiteral("A7"));
        reader->gotoKey();
        out.push_back(measure("lookup, nothing changed", 200, [&](int i) {
            reader->setKey();
            reader->setFieldText(QStringLiteral("SYSID"),
                                 QStringLiteral("A%1").arg(i * 37 % (rows / 2)));
            reader->gotoKey();
            (void)reader->fieldText(QStringLiteral("COMPUTER"));
        }));
        Counts spent{};
        double us = 0;
        const int n = 200;
        for (int i = 0; i < n; ++i) {
            appendRow(*writer, 2 * rows + i, "C");
            Measure m = measure("", 1, [&](int) {
                reader->setKey();
                reader->setFieldText(QStringLiteral("SYSID"),
                                     QStringLiteral("A%1").arg(i * 37 % (rows / 2)));
                reader->gotoKey();
                (void)reader->fieldText(QStringLiteral("COMPUTER"));
            });
            for (size_t k = 0; k < spent.size(); ++k)
                spent[k] += m.detail[k];
            us += m.us;
        }
        Measure m{"lookup after another user's append"};
        m.detail = spent;
        m.calls = double(total(spent)) / n;
        m.us = us / n;
        out.push_back(m);
    }
    std::printf("\n%s (%d rows)\n%-36s %8s %10s   %s\n", qPrintable(where), rows, "operation",
                "calls", "us", "calls by kind (per operation)");
    for (const Measure& m : out) {
        std::printf("%-36s %8.1f %10.1f  ", m.what, m.calls, m.us);
        const double times = m.calls > 0 ? double(total(m.detail)) / m.calls : 1;
        for (size_t k = 0; k < m.detail.size(); ++k)
            if (m.detail[k])
                std::printf(" %s %.1f", kKinds[k], double(m.detail[k]) / times);
        std::printf("\n");
    }
}

} // namespace

int main(int argc, char** argv) {
    if (!countFn()) {
        // Counting needs the shim in front of the C library: run again under it.
        setenv("LD_PRELOAD", QUILLNET_SHIM, 1);
        setenv("QNSLOW_MATCH", ".dbf,.mdx", 1);
        unsetenv("QNSLOW_CALLS");
        execv("/proc/self/exe", argv);
        std::perror("bench_calls: cannot run under the shim");
        return 1;
    }
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    int rows = 10000;
    if (args.size() >= 2 && args[0] == QLatin1String("--rows")) {
        rows = args[1].toInt();
        args = args.mid(2);
    }
    std::printf("File calls per operation on an IP table (%d rows), as the shim counts them\n",
                rows);
    args.prepend(QDir::tempPath());
    for (const QString& where : args)
        run(where, rows);
    return 0;
}
