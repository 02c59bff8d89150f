// The default netview.sh, run by test_discovery inside its private network namespace with a
// PATH of its own: the basic tools it needs, plus stand-ins for the discovery tools that print
// captured output, or the real nmblookup among Samba peers in namespaces of their own; and a real
// nmap scan of peers there. Nothing it starts can reach the machine's network.
#include "discoverytest.h"
#include "listing.h"
#include "nmapscan.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

using namespace qn;
using namespace qn::discovery;

namespace {

using Tools = QMap<QString, QByteArray>; // stand-in name -> shell script body; null: the real one

const QByteArray nmblookupOutput = "querying * on 10.0.0.255\n"
                                   "10.0.0.11 *<00>\n"
                                   "10.0.0.12 *<00>\n"
                                   "Looking up status of 10.0.0.11\n"
                                   "\tPC1             <00> -         B <ACTIVE> \n"
                                   "\tPC1             <20> -         B <ACTIVE> \n"
                                   "\tWORKGROUP       <00> - <GROUP> B <ACTIVE> \n"
                                   "\tMAC Address = 00-00-00-00-00-00\n"
                                   "Looking up status of 10.0.0.12\n"
                                   "\tFILESRV         <00> -         B <ACTIVE> \n"
                                   "\tFILESRV         <20> -         B <ACTIVE> \n"
                                   "Looking up status of 10.0.0.13\n"
                                   "\te               <00> -         B <ACTIVE> \n"
                                   "Looking up status of 10.0.0.14\n"
                                   "\tfilesrv         <00> -         M <ACTIVE> \n"
                                   "No reply from 10.0.0.15\n";

const QByteArray avahiOutput =
    "+;eth0;IPv4;laptop [00:11:22:33:44:55];_workstation._tcp;local\n"
    "+;eth0;IPv6;laptop [00:11:22:33:44:55];_workstation._tcp;local\n"
    "=;eth0;IPv6;laptop [00:11:22:33:44:55];_workstation._tcp;local;laptop.local;fe80::1;9;\n"
    "=;eth0;IPv4;laptop [00:11:22:33:44:55];_workstation._tcp;local;laptop.local;10.0.0.21;9;\n"
    "=;eth0;IPv4;pc1 [00:11:22:33:44:66];_workstation._tcp;local;Pc1.local;10.0.0.11;9;\n"
    "=;eth0;IPv4;caf\xC3\xA9 [00:11:22:33:44:77];_workstation._tcp;local;caf\xC3\xA9.local;"
    "10.0.0.22;9;\n";

const QByteArray ipOutput = "10.0.0.1 dev eth0 lladdr 52:54:00:00:00:01 REACHABLE\n"
                            "10.0.0.11 dev eth0 lladdr 52:54:00:00:00:11 STALE\n"
                            "10.0.0.31 dev eth0 lladdr 52:54:00:00:00:31 DELAY\n"
                            "10.0.0.32 dev eth0  FAILED\n"
                            "10.0.0.33 dev eth0 lladdr 52:54:00:00:00:33 STALE\n";

// Each stand-in answers only the call netview.sh is meant to make.
QByteArray canned(const QByteArray& expectedArgs, const QByteArray& output) {
    return "[ \"$*\" = '" + expectedArgs + "' ] || { echo \"unexpected: $*\" >&2; exit 64; }\n" +
           "cat <<'END'\n" + output + "END\n";
}

const QByteArray getentScript = "[ \"$1\" = hosts ] || exit 64\n"
                                "case $2 in\n"
                                "10.0.0.1) echo '10.0.0.1        gateway' ;;\n"
                                "10.0.0.11) echo '10.0.0.11       pc1.office.lan pc1' ;;\n"
                                "10.0.0.31) echo '10.0.0.31       nas.office.lan' ;;\n"
                                "*) exit 2 ;;\n"
                                "esac\n";

QByteArray line(const QByteArray& name, const QByteArray& remark) {
    return "\\\\" + name.leftJustified(21) + " " + remark + "\r\n";
}

// Children die with the test however it ends, so no daemon outlives it.
void dieWithTest(QProcess& p, int netns = -1) {
    p.setChildProcessModifier([netns] {
        if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 ||
            (netns >= 0 && ::setns(netns, CLONE_NEWNET) != 0))
            ::_exit(126);
    });
}

/// Network namespaces held only by descriptors of this process, and the daemons started in
/// them. No name is left on the machine: once the descriptors are closed and the daemons
/// killed, the kernel removes the namespaces with their links.
struct PrivateNets {
    std::vector<int> fds;
    std::vector<std::unique_ptr<QProcess>> daemons;
    ~PrivateNets() {
        for (auto& d : daemons) {
            d->kill();
            d->waitForFinished(5000);
        }
        for (int fd : fds)
            ::close(fd);
    }
    QProcess& start(int netns, const QString& program, const QStringList& args) {
        auto& p = *daemons.emplace_back(std::make_unique<QProcess>());
        dieWithTest(p, netns);
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(program, args);
        return p;
    }
    /// A bridge in this namespace at here (address/prefix) and a peer namespace on it at each
    /// of peers, whose descriptors go to fds in that order; returns what went wrong, empty on
    /// success, "skip: " and why when namespaces cannot be made here.
    QString lan(const QString& bridge, const QString& here, const QStringList& peers) {
        QList<QPair<int, QString>> steps{{-1, "link add " + bridge + " type bridge"},
                                         {-1, "addr add " + here + " brd + dev " + bridge},
                                         {-1, "link set " + bridge + " up"}};
        for (const QString& peer : peers) {
            const int home = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
            if (home < 0 || ::unshare(CLONE_NEWNET) != 0) // home goes with the test, which skips
                return QString("skip: network namespaces cannot be made here: ") + strerror(errno);
            const int netns =
                fds.emplace_back(::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC));
            if (::setns(home, CLONE_NEWNET) != 0)
                qFatal("cannot return to the test's own network namespace");
            ::close(home);
            const QString port = bridge + QString::number(fds.size());
            steps << qMakePair(-1, QString("link add %1 type veth peer name veth0 netns "
                                           "/proc/%2/fd/%3")
                                       .arg(port)
                                       .arg(::getpid())
                                       .arg(netns))
                  << qMakePair(-1, "link set " + port + " master " + bridge + " up")
                  << qMakePair(netns, QString("link set lo up"))
                  << qMakePair(netns, "addr add " + peer + " brd + dev veth0")
                  << qMakePair(netns, QString("link set veth0 up"));
        }
        for (const auto& [netns, args] : steps) {
            QProcess& p = start(netns, QStandardPaths::findExecutable("ip"), args.split(' '));
            if (!p.waitForFinished(10000) || p.exitStatus() != QProcess::NormalExit || p.exitCode())
                return "ip " + args + ": " + QString::fromLocal8Bit(p.readAll());
        }
        return {};
    }
};

// Writes dir.conf with every folder Samba would otherwise take from the machine inside dir;
// returns its path.
QString sambaConf(const QString& dir, const QByteArray& more) {
    QDir().mkpath(dir);
    const QByteArray d = dir.toLocal8Bit();
    test::writeBytes(dir + ".conf", "[global]\n" + more + "lock directory = " + d +
                                        "\nstate directory = " + d + "\ncache directory = " + d +
                                        "\npid directory = " + d + "\nprivate dir = " + d +
                                        "\nncalrpc dir = " + d + "\nnmbd:socket dir = " + d +
                                        "\nlog file = " + d + "/log.%m\n");
    return dir + ".conf";
}

/// Runs netview.sh in a fresh folder with only the basic tools and the ones given on its PATH;
/// returns net.txt, or what went wrong.
QByteArray runNetview(Tools tools) {
    QTemporaryDir dir;
    const QString bin = dir.filePath("bin"), work = dir.filePath("work");
    QDir().mkpath(bin);
    QDir().mkpath(work);
    for (const char* basic : {"awk", "sed", "tr", "uname", "date", "mv", "rm", "cat", "iconv",
                              "timeout", "sh", "basename"})
        tools.insert(basic, {});
    for (auto it = tools.begin(); it != tools.end(); ++it) {
        const QString path = QDir(bin).filePath(it.key());
        if (it.value().isNull()) {
            QFile::link(QStandardPaths::findExecutable(it.key()), path);
        } else {
            test::writeBytes(path, "#!/bin/sh\n" + it.value());
            QFile::setPermissions(path, QFile::ReadOwner | QFile::ExeOwner);
        }
    }
    QFile::copy(QDir(test::sourceDir()).filePath("discovery/netview.sh"),
                QDir(work).filePath("netview.sh"));
    QProcess p;
    p.setWorkingDirectory(work);
    dieWithTest(p);
    p.start("/usr/bin/env", {"-i", "PATH=" + bin, "/bin/sh", "netview.sh"});
    if (!p.waitForFinished(60000))
        return "netview.sh did not end";
    const QByteArray err = p.readAllStandardError();
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0 || !err.isEmpty())
        return "netview.sh failed: " + QByteArray::number(p.exitCode()) + " " + err;
    const QStringList left = QDir(work).entryList(QDir::Files | QDir::NoDotAndDotDot);
    if (left != QStringList{"net.txt", "netview.sh"})
        return "files left: " + left.join(' ').toLatin1();
    QFile out(QDir(work).filePath("net.txt"));
    return out.open(QIODevice::ReadOnly) ? out.readAll() : "no net.txt";
}

/// The entry lines of a listing whose frame is right: CR LF line ends, four headings none of
/// which the reader would take for a name or the end, and the closing line.
QByteArray entriesOf(const QByteArray& out) {
    QList<QByteArray> lines = out.split('\n');
    if (lines.size() < 6 || !lines.takeLast().isEmpty() ||
        !lines[0].startsWith("Computers seen from ") || lines[1] != "\r" ||
        !lines[2].startsWith("Server Name") || !lines[3].startsWith("-----") ||
        lines.takeLast() != "The command completed successfully.\r")
        return "bad frame: " + out;
    for (const QByteArray& l : lines)
        if (!l.endsWith('\r'))
            return "no CR LF: " + out;
    return lines.mid(4).join('\n') + (lines.size() > 4 ? "\n" : "");
}

} // namespace

class TestDiscoveryNetview : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QN_SKIP_OUTSIDE_SANDBOX(); }
    void listing_data() {
        QTest::addColumn<Tools>("tools");
        QTest::addColumn<QByteArray>("entries");
        const QByteArray broken = "echo 'something went wrong' >&2\nexit 1\n";
        const Tools neigh{{"ip", canned("-4 neigh show", ipOutput)}, {"getent", getentScript}};
        Tools all{{"nmblookup", canned("-S *", nmblookupOutput)},
                  {"avahi-browse", canned("-t -r -p -k _workstation._tcp", avahiOutput)}};
        all.insert(neigh);
        // The neighbour table of this empty namespace, through the real tools.
        QTest::newRow("no discovery tools") << Tools{{"ip", {}}, {"getent", {}}} << QByteArray();
        QTest::newRow("tools that fail")
            << Tools{{"nmblookup", broken}, {"avahi-browse", broken}, {"ip", broken}}
            << QByteArray();
        // Later sources still run when the first ones are missing.
        QTest::newRow("neighbours only") << neigh
                                         << line("gateway", "neighbour 10.0.0.1") +
                                                line("pc1.office.lan", "neighbour 10.0.0.11") +
                                                line("nas.office.lan", "neighbour 10.0.0.31");
        QTest::newRow("all sources, each name once")
            << all
            << line("PC1", "NetBIOS 10.0.0.11") + line("FILESRV", "NetBIOS 10.0.0.12") +
                   line("laptop.local", "mDNS 10.0.0.21") +
                   line("caf\xE9.local", "mDNS 10.0.0.22") + line("gateway", "neighbour 10.0.0.1") +
                   line("nas.office.lan", "neighbour 10.0.0.31");
    }
    void listing() {
        QFETCH(Tools, tools);
        QFETCH(QByteArray, entries);
        const QByteArray out = runNetview(tools);
        QCOMPARE(entriesOf(out), entries);
        QStringList names;
        for (const QByteArray& l : entries.split('\n'))
            if (!l.isEmpty())
                names << Listing::cutName(QString::fromLatin1(l));
        QCOMPARE(Listing::parse(out), names);
    }
    // Two Samba peers and the administrator's machine, this namespace, on one bridge, on a subnet
    // that exists only inside these namespaces.
    void realNetBiosPeers() {
        const QString nmbd = QStandardPaths::findExecutable("nmbd", {"/usr/sbin", "/usr/bin"});
        const QString nmblookup = QStandardPaths::findExecutable("nmblookup");
        if (nmbd.isEmpty() || nmblookup.isEmpty())
            QSKIP(
                "Samba's nmbd and nmblookup are not installed (packages samba, samba-common-bin)");
        QTemporaryDir dir; // outlives the daemons that write into it
        PrivateNets nets;
        const QString lan = nets.lan("br0", "10.231.7.1/24", {"10.231.7.11/24", "10.231.7.12/24"});
        if (lan.startsWith("skip: "))
            QSKIP(qPrintable(lan));
        QCOMPARE(lan, QString());
        const QByteArray names[] = {"QNPEER1", "QNPEER2"};
        QList<QProcess*> daemons;
        QByteArray expected;
        for (int i = 0; i < 2; ++i) {
            const QString address = QString("10.231.7.1%1").arg(i + 1);
            const QString conf =
                sambaConf(dir.filePath(QString("peer%1").arg(i)),
                          "netbios name = " + names[i] +
                              "\nworkgroup = QNTEST\ninterfaces = veth0\n"
                              "bind interfaces only = yes\ndisable netbios = no\n");
            daemons << &nets.start(nets.fds[i], nmbd,
                                   {"--foreground", "--no-process-group", "--debug-stdout",
                                    "--debuglevel=1", "--configfile=" + conf});
            QVERIFY2(daemons.last()->waitForStarted(), qPrintable(daemons.last()->errorString()));
            expected += line(names[i], "NetBIOS " + address.toLatin1());
        }
        // The administrator's nmblookup reads a configuration of its own, not the machine's.
        const QString adminConf = sambaConf(dir.filePath("admin"), "workgroup = QNTEST\n");
        const Tools tools{{"nmblookup", "exec '" + nmblookup.toLocal8Bit() + "' '--configfile=" +
                                            adminConf.toLocal8Bit() + "' \"$@\"\n"}};
        // The peers answer once their sockets are up; ask again until both are heard.
        QByteArray entries;
        QElapsedTimer clock;
        clock.start();
        do {
            for (QProcess* d : daemons)
                QVERIFY2(d->state() == QProcess::Running, d->readAll().constData());
            entries = entriesOf(runNetview(tools));
            QList<QByteArray> lines = entries.split('\n');
            std::sort(lines.begin(), lines.end());
            entries = lines.join('\n').mid(1) + '\n';
            if (entries == expected)
                break;
            QTest::qWait(300);
        } while (clock.elapsed() < 30000);
        QCOMPARE(entries, expected);
        qInfo("both peers listed after %lld ms", static_cast<long long>(clock.elapsed()));
    }
    // nmap itself scans a /29 on a bridge of this namespace: two peers answer, one with a
    // reverse-DNS name that dnsmasq on this namespace's loopback gives (the sandbox's
    // resolv.conf points there); this namespace's own address answers too, without a name.
    void realNmapScan() {
        const QString nmap = QStandardPaths::findExecutable("nmap");
        const QString dnsmasq =
            QStandardPaths::findExecutable("dnsmasq", {"/usr/sbin", "/usr/bin"});
        if (nmap.isEmpty() || dnsmasq.isEmpty())
            QSKIP("nmap or dnsmasq is not installed (packages nmap, dnsmasq-base)");
        QTemporaryDir dir;
        PrivateNets nets;
        const QString lan = nets.lan("qnscan", "10.231.8.1/29", {"10.231.8.2/29", "10.231.8.3/29"});
        if (lan.startsWith("skip: "))
            QSKIP(qPrintable(lan));
        QCOMPARE(lan, QString());
        test::writeBytes(dir.filePath("names"), "10.231.8.2 qnpeer1.lab.test\n");
        // --bogus-priv: the other addresses get "no such name" at once instead of no answer.
        QProcess& dns =
            nets.start(-1, dnsmasq,
                       {"--no-daemon", "--conf-file=/dev/null", "--no-resolv", "--no-hosts",
                        "--addn-hosts=" + dir.filePath("names"), "--listen-address=127.0.0.1",
                        "--bind-interfaces", "--bogus-priv", "--port=53"});
        QByteArray said;
        QTRY_VERIFY2_WITH_TIMEOUT((said += dns.readAll()).contains("1 names"), said.constData(),
                                  10000);

        NmapSource scan(dir.path());
        scan.setTargets({"10.231.8.0/29"});
        QSignalSpy found(&scan, &DiscoverySource::finished);
        QSignalSpy failed(&scan, &DiscoverySource::failed);
        QVERIFY(scan.start());
        QTRY_VERIFY_WITH_TIMEOUT(!scan.isRunning(), 60000);
        QVERIFY2(failed.isEmpty(), qPrintable(failed.value(0).value(0).toString()));
        QCOMPARE(found.value(0).value(0).toStringList() + found.value(0).value(1).toStringList(),
                 (QStringList{"qnpeer1", "10.231.8.2"}));
        QStringList unnamed = scan.unnamed();
        unnamed.sort();
        QCOMPARE(unnamed, (QStringList{"10.231.8.1", "10.231.8.3"}));
    }
};

int runNetviewTests(int argc, char** argv) {
    TestDiscoveryNetview test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_discovery_netview.moc"
