// Name look-ups. The real resolver is asked inside the private namespaces test_discovery makes,
// where the hosts file is the test's own and the only name server is a loopback address there.
#include "discoverytest.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QUdpSocket>

using namespace qn;
using namespace qn::discovery;
using test::outcome;

namespace {

/// A name service whose answers the test gives by hand, in any order, or never.
struct ManualNameService : NameService {
    std::map<int, std::pair<QPointer<QObject>, std::function<void(const QHostInfo&)>>> pending;
    QList<int> aborted;
    int lastId = 0; // look-ups asked for

    int lookup(const QString&, QObject* context,
               std::function<void(const QHostInfo&)> done) override {
        pending[++lastId] = {context, std::move(done)};
        return lastId;
    }
    void abort(int id) override { aborted << id; }
    /// Answers look-up id (the latest by default), as if aborting had come too late.
    void answer(const QList<QHostAddress>& addresses, int id = 0) {
        auto p = pending.extract(id ? id : lastId).mapped();
        QHostInfo info;
        if (addresses.isEmpty())
            info.setError(QHostInfo::HostNotFound);
        info.setAddresses(addresses);
        if (p.first)
            p.second(info);
    }
};

/// A resolver over a manual service, and what it reports: "name = address" or "name: error".
struct Rig {
    ManualNameService* s = new ManualNameService;
    Resolver r{std::unique_ptr<NameService>(s)};
    QStringList answers;
    Rig() {
        QObject::connect(&r, &Resolver::resolved, &r,
                         [this](const QString& n, const QString& a) { answers << n + " = " + a; });
        QObject::connect(&r, &Resolver::failed, &r,
                         [this](const QString& n, const QString& e) { answers << n + ": " + e; });
    }
    QString resolve(const QString& name) {
        return outcome([&] { return r.resolve(name); });
    }
};

} // namespace

class TestDiscoveryResolver : public QObject {
    Q_OBJECT
private slots:

    void dottedDecimal_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("address");
        const char* const rows[][3] = {
            {"limits", "255.255.255.0", "255.255.255.0"},
            {"leading zeros read as decimal", "010.001.2.30", "10.1.2.30"},
            {"octet too large", "256.1.1.1", ""},
            {"four digits", "0010.1.1.1", ""},
            {"three parts", "10.0.9", ""},
            {"five parts", "1.2.3.4.5", ""},
            {"empty part", "1..3.4", ""},
            {"sign", "+1.2.3.4", ""},
            {"hex", "0x1.2.3.4", ""},
            {"name", "pc1", ""}};
        for (const auto& r : rows)
            QTest::newRow(r[0]) << QString(r[1]) << QString(r[2]);
    }
    void dottedDecimal() {
        QFETCH(QString, name);
        QFETCH(QString, address);
        QCOMPARE(Resolver::dottedDecimal(name), address);
    }
    // Dotted-decimal text needs no service but is answered from the event loop like a real
    // look-up; of a reply, the first IPv4 address counts. While a look-up waits, events are
    // serviced; a handler that starts its own look-up gets its own answer and the outer one is
    // cancelled.
    void answers() {
        Rig rig;
        rig.r.lookup("010.0.0.9");
        QVERIFY(rig.answers.isEmpty());
        QTRY_COMPARE(rig.answers, QStringList{"010.0.0.9 = 10.0.0.9"});
        QCOMPARE(rig.resolve("192.168.1.20"), QString("192.168.1.20"));
        QCOMPARE(rig.s->lastId, 0);
        rig.answers.clear();
        rig.r.lookup("dual");
        rig.s->answer(
            {QHostAddress("fd00::1"), QHostAddress("10.0.0.2"), QHostAddress("10.0.0.3")});
        rig.r.lookup("v6only");
        rig.s->answer({QHostAddress("fd00::2")});
        rig.r.lookup("unknown");
        rig.s->answer({});
        QCOMPARE(rig.answers, (QStringList{"dual = 10.0.0.2", "v6only: Host Lookup Failed",
                                           "unknown: Host Lookup Failed"}));
        QVERIFY(!rig.r.isBusy());
        int ticks = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
        ticker.start(10);
        QTimer::singleShot(300, &rig.r, [&] { rig.s->answer({QHostAddress("10.9.9.9")}); });
        QCOMPARE(rig.resolve("pc"), QString("10.9.9.9"));
        QVERIFY2(ticks >= 5, "no events were serviced during the look-up");

        QString inner;
        QTimer::singleShot(20, &rig.r, [&] {
            QTimer::singleShot(20, &rig.r, [&] { rig.s->answer({QHostAddress("10.0.0.2")}); });
            inner = rig.resolve("inner");
        });
        QCOMPARE(rig.resolve("outer"), QString("error: Host Lookup Canceled"));
        QCOMPARE(inner, QString("10.0.0.2"));
    }
    // A look-up times out or is cancelled; an answer to an abandoned or timed-out look-up is
    // dropped, also while a newer look-up waits.
    void timesOutCancelsAndDropsLateAnswers() {
        Rig rig;
        QCOMPARE(rig.r.timeout(), 5000); // a few seconds by default
        rig.r.setTimeout(200);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(rig.resolve("silent"), QString("error: Host Lookup Timed Out"));
        QVERIFY(clock.elapsed() >= 190 && clock.elapsed() < 3000);
        QCOMPARE(rig.s->aborted, QList<int>{1}); // the system may drop it too
        QVERIFY(!rig.r.isBusy());
        QTimer::singleShot(50, &rig.r, [&] { rig.r.abandon(); });
        QCOMPARE(rig.resolve("slow"), QString("error: Host Lookup Canceled"));
        rig.answers.clear();
        rig.r.abandon(); // nothing in progress: nothing to report
        QVERIFY(rig.answers.isEmpty());

        rig.r.setTimeout(100);
        rig.r.lookup("first");
        const int first = rig.s->lastId;
        rig.r.lookup("second"); // abandons the first
        QCOMPARE(rig.answers, QStringList{"first: Host Lookup Canceled"});
        rig.s->answer({QHostAddress("10.0.0.1")}, first); // too late
        QVERIFY(rig.r.isBusy());
        rig.s->answer({QHostAddress("10.0.0.2")});
        rig.r.lookup("third");
        const int third = rig.s->lastId;
        QTRY_COMPARE(rig.answers.size(), 3);
        rig.r.lookup("fourth");
        rig.s->answer({QHostAddress("10.0.0.3")}, third);
        rig.s->answer({QHostAddress("10.0.0.4")});
        QCOMPARE(rig.answers, (QStringList{"first: Host Lookup Canceled", "second = 10.0.0.2",
                                           "third: Host Lookup Timed Out", "fourth = 10.0.0.4"}));
    }
    void realResolverTimesOut() {
        QN_SKIP_OUTSIDE_SANDBOX();
        // The namespace's name server is a socket that never answers.
        QUdpSocket silent;
        if (!silent.bind(QHostAddress::LocalHost, 53))
            QSKIP("cannot listen on the namespace's port 53 (loopback down?)");
        // The system's service, counting the answers it gives, stale ones included.
        struct Counting : SystemNameService {
            int started = 0, answered = 0;
            int lookup(const QString& name, QObject* context,
                       std::function<void(const QHostInfo&)> done) override {
                ++started;
                return SystemNameService::lookup(name, context,
                                                 [this, done](const QHostInfo& info) {
                                                     ++answered;
                                                     done(info);
                                                 });
            }
        };
        auto* counting = new Counting;
        Resolver r{std::unique_ptr<NameService>(counting)};
        r.setTimeout(400);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(outcome([&] { return r.resolve("silent.example"); }),
                 QString("error: Host Lookup Timed Out"));
        QVERIFY(clock.elapsed() >= 400);
        QVERIFY(silent.hasPendingDatagrams() || silent.waitForReadyRead(100));
        int reports = 0;
        connect(&r, &Resolver::resolved, [&] { ++reports; });
        connect(&r, &Resolver::failed, [&] { ++reports; });
        // A new look-up is not held up by the abandoned one.
        QCOMPARE(outcome([&] { return r.resolve("alpha"); }), QString("10.20.30.40"));
        // The system gives up on its own later; that answer must change nothing.
        QTRY_COMPARE_WITH_TIMEOUT(counting->answered, counting->started, 15000);
        QCOMPARE(reports, 1);
        QVERIFY(!r.isBusy());
    }
};

int runResolverTests(int argc, char** argv) {
    TestDiscoveryResolver test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_discovery_resolver.moc"
