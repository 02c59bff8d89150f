// Name look-ups. The real resolver is asked inside the private namespaces test_discovery makes,
// where the hosts file is the test's own and the only name server is a loopback address there.
#include "error.h"
#include "resolver.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QHostInfo>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <QUdpSocket>
#include <functional>
#include <map>
#include <memory>

using namespace qn;
using namespace qn::discovery;

namespace {

/// A name service whose answers the test gives by hand, in any order, or never.
class ManualNameService : public NameService {
public:
    struct Pending {
        QString name;
        QPointer<QObject> context;
        std::function<void(const QHostInfo&)> done;
    };
    std::map<int, Pending> pending;
    QList<int> aborted;
    QStringList asked;

    int lookup(const QString& name, QObject* context,
               std::function<void(const QHostInfo&)> done) override {
        asked << name;
        pending[++m_id] = {name, context, std::move(done)};
        return m_id;
    }
    void abort(int id) override { aborted << id; }

    /// Answers look-up id as if aborting had come too late.
    void answer(int id, const QList<QHostAddress>& addresses) {
        Pending p = pending.at(id);
        pending.erase(id);
        QHostInfo info(id);
        info.setHostName(p.name);
        if (addresses.isEmpty())
            info.setError(QHostInfo::HostNotFound);
        else
            info.setAddresses(addresses);
        if (p.context)
            p.done(info);
    }
    int lastId() const { return m_id; }

private:
    int m_id = 0;
};

struct Answer {
    QString name, address, error;
};

/// Collects what a resolver reports.
struct Recorder {
    QList<Answer> answers;
    explicit Recorder(Resolver& r) {
        QObject::connect(&r, &Resolver::resolved, [this](const QString& n, const QString& a) {
            answers.append({n, a, QString()});
        });
        QObject::connect(&r, &Resolver::failed, [this](const QString& n, const QString& e) {
            answers.append({n, QString(), e});
        });
    }
};

QString resolveText(Resolver& r, const QString& name) {
    try {
        return r.resolve(name);
    } catch (const Error& e) {
        return "error: " + e.message();
    }
}

} // namespace

class TestDiscoveryResolver : public QObject {
    Q_OBJECT
private slots:
    void dottedDecimal_data();
    void dottedDecimal();
    void dottedDecimalNeedsNoService();
    void firstIPv4AddressOfTheReply();
    void timesOut();
    void abandonCancels();
    void lateAnswersAreDropped();
    void eventsServicedWhileWaiting();
    void nestedLookupDoesNotTakeTheOuterAnswer();

    void realResolverFromPrivateHostsFile_data();
    void realResolverFromPrivateHostsFile();
    void realResolverTimesOut();
};

bool inDiscoverySandbox();

void TestDiscoveryResolver::dottedDecimal_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("address");
    const char* const rows[][3] = {{"plain", "10.0.0.9", "10.0.0.9"},
                                   {"limits", "255.255.255.255", "255.255.255.255"},
                                   {"zeros", "0.0.0.0", "0.0.0.0"},
                                   {"leading zeros read as decimal", "010.001.2.30", "10.1.2.30"},
                                   {"octet too large", "256.1.1.1", ""},
                                   {"four digits", "1000.1.1.1", ""},
                                   {"three parts", "10.0.9", ""},
                                   {"five parts", "1.2.3.4.5", ""},
                                   {"empty part", "1..3.4", ""},
                                   {"trailing dot", "1.2.3.4.", ""},
                                   {"sign", "+1.2.3.4", ""},
                                   {"hex", "0x1.2.3.4", ""},
                                   {"space", "1.2.3.4 ", ""},
                                   {"name", "pc1", ""},
                                   {"name with dots", "pc1.office.lan", ""},
                                   {"empty", "", ""}};
    for (const auto& r : rows)
        QTest::newRow(r[0]) << QString(r[1]) << QString(r[2]);
}

void TestDiscoveryResolver::dottedDecimal() {
    QFETCH(QString, name);
    QFETCH(QString, address);
    QCOMPARE(Resolver::dottedDecimal(name), address);
}

void TestDiscoveryResolver::dottedDecimalNeedsNoService() {
    auto service = std::make_unique<ManualNameService>();
    ManualNameService* s = service.get();
    Resolver r(std::move(service));
    Recorder rec(r);
    r.lookup("010.0.0.9");
    QVERIFY(rec.answers.isEmpty()); // answered from the event loop, like a real look-up
    QTRY_COMPARE(rec.answers.size(), 1);
    QCOMPARE(rec.answers[0].address, QString("10.0.0.9"));
    QCOMPARE(resolveText(r, "192.168.1.20"), QString("192.168.1.20"));
    QVERIFY(s->asked.isEmpty());
}

void TestDiscoveryResolver::firstIPv4AddressOfTheReply() {
    auto service = std::make_unique<ManualNameService>();
    ManualNameService* s = service.get();
    Resolver r(std::move(service));
    Recorder rec(r);
    r.lookup("dual");
    s->answer(s->lastId(),
              {QHostAddress("fd00::1"), QHostAddress("10.0.0.2"), QHostAddress("10.0.0.3")});
    r.lookup("v6only");
    s->answer(s->lastId(), {QHostAddress("fd00::2")});
    r.lookup("unknown");
    s->answer(s->lastId(), {});
    QCOMPARE(rec.answers.size(), 3);
    QCOMPARE(rec.answers[0].address, QString("10.0.0.2"));
    QCOMPARE(rec.answers[1].error, Resolver::failedText());
    QCOMPARE(rec.answers[2].name, QString("unknown"));
    QCOMPARE(rec.answers[2].error, QString("Host Lookup Failed"));
    QVERIFY(!r.isBusy());
}

void TestDiscoveryResolver::timesOut() {
    auto service = std::make_unique<ManualNameService>();
    ManualNameService* s = service.get();
    Resolver r(std::move(service));
    QCOMPARE(r.timeout(), 5000); // a few seconds by default
    r.setTimeout(200);
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(resolveText(r, "silent"), QString("error: Host Lookup Timed Out"));
    QVERIFY(clock.elapsed() >= 190);
    QVERIFY(clock.elapsed() < 3000);
    QCOMPARE(s->aborted, QList<int>{1}); // the system may drop it too
    QVERIFY(!r.isBusy());
}

void TestDiscoveryResolver::abandonCancels() {
    auto service = std::make_unique<ManualNameService>();
    Resolver r(std::move(service));
    QTimer::singleShot(50, &r, [&] { r.abandon(); });
    QCOMPARE(resolveText(r, "slow"), QString("error: Host Lookup Canceled"));
    Recorder rec(r);
    r.abandon(); // nothing in progress: nothing to report
    QVERIFY(rec.answers.isEmpty());
}

void TestDiscoveryResolver::lateAnswersAreDropped() {
    auto service = std::make_unique<ManualNameService>();
    ManualNameService* s = service.get();
    Resolver r(std::move(service));
    r.setTimeout(100);
    Recorder rec(r);

    r.lookup("first");
    const int first = s->lastId();
    r.lookup("second"); // abandons the first
    const int second = s->lastId();
    QCOMPARE(rec.answers.size(), 1);
    QCOMPARE(rec.answers[0].name, QString("first"));
    QCOMPARE(rec.answers[0].error, Resolver::canceledText());

    s->answer(first, {QHostAddress("10.0.0.1")}); // too late
    QCOMPARE(rec.answers.size(), 1);
    QVERIFY(r.isBusy());
    s->answer(second, {QHostAddress("10.0.0.2")});
    QCOMPARE(rec.answers.size(), 2);
    QCOMPARE(rec.answers[1].name, QString("second"));
    QCOMPARE(rec.answers[1].address, QString("10.0.0.2"));

    // An answer after the time limit is dropped as well, also while a newer look-up waits.
    r.lookup("third");
    const int third = s->lastId();
    QTRY_COMPARE(rec.answers.size(), 3);
    QCOMPARE(rec.answers[2].error, Resolver::timedOutText());
    r.lookup("fourth");
    s->answer(third, {QHostAddress("10.0.0.3")});
    QCOMPARE(rec.answers.size(), 3);
    s->answer(s->lastId(), {QHostAddress("10.0.0.4")});
    QCOMPARE(rec.answers.size(), 4);
    QCOMPARE(rec.answers[3].address, QString("10.0.0.4"));
}

void TestDiscoveryResolver::eventsServicedWhileWaiting() {
    auto service = std::make_unique<ManualNameService>();
    ManualNameService* s = service.get();
    Resolver r(std::move(service));
    int ticks = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(10);
    QTimer::singleShot(300, &r, [&] { s->answer(s->lastId(), {QHostAddress("10.9.9.9")}); });
    QCOMPARE(resolveText(r, "pc"), QString("10.9.9.9"));
    QVERIFY2(ticks >= 5, "no events were serviced during the look-up");
}

void TestDiscoveryResolver::nestedLookupDoesNotTakeTheOuterAnswer() {
    auto service = std::make_unique<ManualNameService>();
    ManualNameService* s = service.get();
    Resolver r(std::move(service));
    QString inner;
    // While the outer look-up waits, an event handler starts its own and gets its own answer.
    QTimer::singleShot(20, &r, [&] {
        QTimer::singleShot(20, &r, [&] { s->answer(s->lastId(), {QHostAddress("10.0.0.2")}); });
        inner = resolveText(r, "inner");
    });
    QCOMPARE(resolveText(r, "outer"), QString("error: Host Lookup Canceled"));
    QCOMPARE(inner, QString("10.0.0.2"));
}

void TestDiscoveryResolver::realResolverFromPrivateHostsFile_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("expected");
    const QString failed("error: Host Lookup Failed");
    QTest::newRow("canonical name") << QString("alpha.test") << "10.20.30.40";
    QTest::newRow("alias") << QString("alpha") << "10.20.30.40";
    QTest::newRow("other letter case") << QString("BRAVO") << "10.20.30.41";
    QTest::newRow("IPv4 preferred to IPv6") << QString("dual") << "10.20.30.42";
    QTest::newRow("IPv6 only") << QString("sixonly") << failed;
    QTest::newRow("unknown") << QString("nosuchhost") << failed;
    QTest::newRow("empty") << QString("") << failed;
    QTest::newRow("dotted decimal") << QString("10.99.0.1") << "10.99.0.1";
}

void TestDiscoveryResolver::realResolverFromPrivateHostsFile() {
    if (!inDiscoverySandbox())
        QSKIP("needs private mount and network namespaces (unshare -m -n), not permitted here");
    QFETCH(QString, name);
    QFETCH(QString, expected);
    Resolver r;
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(resolveText(r, name), expected);
    QVERIFY2(clock.elapsed() < 3000, "the private resolver should answer at once");
}

void TestDiscoveryResolver::realResolverTimesOut() {
    if (!inDiscoverySandbox())
        QSKIP("needs private mount and network namespaces (unshare -m -n), not permitted here");
    // The namespace's name server is a socket that never answers.
    QUdpSocket silent;
    if (!silent.bind(QHostAddress::LocalHost, 53))
        QSKIP("cannot listen on the namespace's port 53 (loopback down?)");

    // The system's service, counting the answers it gives, stale ones included.
    struct Counting : NameService {
        SystemNameService system;
        int started = 0, answered = 0;
        int lookup(const QString& name, QObject* context,
                   std::function<void(const QHostInfo&)> done) override {
            ++started;
            return system.lookup(name, context, [this, done](const QHostInfo& info) {
                ++answered;
                done(info);
            });
        }
        void abort(int id) override { system.abort(id); }
    };
    auto service = std::make_unique<Counting>();
    Counting* counting = service.get();
    Resolver r(std::move(service));
    r.setTimeout(400);
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(resolveText(r, "silent.example"), QString("error: Host Lookup Timed Out"));
    QVERIFY(clock.elapsed() >= 400);
    QVERIFY(silent.hasPendingDatagrams() || silent.waitForReadyRead(100));

    Recorder rec(r);
    // A new look-up is not held up by the abandoned one.
    QCOMPARE(resolveText(r, "alpha"), QString("10.20.30.40"));
    // The system gives up on its own later; that answer must change nothing.
    QTRY_COMPARE_WITH_TIMEOUT(counting->answered, counting->started, 15000);
    QCOMPARE(rec.answers.size(), 1);
    QVERIFY(!r.isBusy());
}

int runResolverTests(int argc, char** argv) {
    TestDiscoveryResolver test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_discovery_resolver.moc"
