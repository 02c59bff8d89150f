// The default netview.sh. It runs only inside a network namespace made for the test, with a
// PATH of its own: the basic tools it needs, plus stand-ins for the discovery tools that print
// captured output, or the real nmblookup among Samba peers in namespaces of their own. Nothing
// it starts can reach the machine's network.

#include "listing.h"
#include "testutil.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>
#include <vector>

using namespace qn;
using namespace qn::discovery;

namespace {

using Tools = QMap<QString, QByteArray>; // stand-in name -> shell script body

const QByteArray nmblookupOutput = "querying * on 10.0.0.255\n"
                                   "10.0.0.11 *<00>\n"
                                   "10.0.0.12 *<00>\n"
                                   "Looking up status of 10.0.0.11\n"
                                   "\tPC1             <00> -         B <ACTIVE> \n"
                                   "\tPC1             <03> -         B <ACTIVE> \n"
                                   "\tPC1             <20> -         B <ACTIVE> \n"
                                   "\t..__MSBROWSE__. <01> - <GROUP> B <ACTIVE> \n"
                                   "\tWORKGROUP       <00> - <GROUP> B <ACTIVE> \n"
                                   "\tWORKGROUP       <1d> -         B <ACTIVE> \n"
                                   "\n"
                                   "\tMAC Address = 00-00-00-00-00-00\n"
                                   "\n"
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
class PrivateNets {
public:
    PrivateNets() = default;
    PrivateNets(const PrivateNets&) = delete;
    PrivateNets& operator=(const PrivateNets&) = delete;
    ~PrivateNets() {
        for (auto& d : m_daemons) {
            d->kill();
            d->waitForFinished(5000);
        }
        for (int fd : m_fds)
            ::close(fd);
    }

    /// A new, empty network namespace, or -1 with the reason in error.
    int create(QString& error) {
        const int home = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
        if (home < 0) {
            error = QString::fromLocal8Bit(std::strerror(errno));
            return -1;
        }
        int fd = -1;
        if (::unshare(CLONE_NEWNET) == 0) {
            fd = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
            if (fd < 0)
                error = QString::fromLocal8Bit(std::strerror(errno));
            if (::setns(home, CLONE_NEWNET) != 0)
                qFatal("cannot return to the test's own network namespace");
        } else {
            error = QString::fromLocal8Bit(std::strerror(errno));
        }
        ::close(home);
        if (fd >= 0)
            m_fds.push_back(fd);
        return fd;
    }

    /// How ip names a namespace it is not in.
    static QString path(int netns) { return QString("/proc/%1/fd/%2").arg(::getpid()).arg(netns); }

    /// Runs ip inside a namespace; returns what went wrong, empty on success.
    static QString ip(int netns, const QStringList& args) {
        QProcess p;
        dieWithTest(p, netns);
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(QStandardPaths::findExecutable("ip"), args);
        if (!p.waitForFinished(10000) || p.exitStatus() != QProcess::NormalExit ||
            p.exitCode() != 0)
            return "ip " + args.join(' ') + ": " + QString::fromLocal8Bit(p.readAll());
        return {};
    }

    QProcess& startDaemon(int netns, const QString& program, const QStringList& args) {
        auto& p = *m_daemons.emplace_back(std::make_unique<QProcess>());
        dieWithTest(p, netns);
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(program, args);
        return p;
    }

private:
    std::vector<int> m_fds;
    std::vector<std::unique_ptr<QProcess>> m_daemons;
};

// Every folder Samba would otherwise take from the machine, inside dir.
QByteArray sambaConf(const QString& dir, const QByteArray& more) {
    QDir().mkpath(dir);
    const QByteArray d = dir.toLocal8Bit();
    return "[global]\n" + more + "lock directory = " + d + "\nstate directory = " + d +
           "\ncache directory = " + d + "\npid directory = " + d + "\nprivate dir = " + d +
           "\nncalrpc dir = " + d + "\nlog file = " + d + "/log.%m\n";
}

bool writeFile(const QString& path, const QByteArray& text) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(text) == text.size();
}

} // namespace

class TestDiscoveryNetview : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void listing_data();
    void listing();
    void realNeighbourTableOfAnEmptyNamespace();
    void realNetBiosPeers();

private:
    /// Runs netview.sh in a fresh folder inside a new network namespace, or inside netns when
    /// given; returns net.txt.
    QByteArray runNetview(const Tools& tools, const QStringList& realTools = {}, int netns = -1);

    QStringList m_unshare;
    QString m_script;
};

void TestDiscoveryNetview::initTestCase() {
    m_script = QDir(test::sourceDir()).filePath("discovery/netview.sh");
    QVERIFY2(QFile::exists(m_script), qPrintable(m_script));
    for (QStringList args : {QStringList{"-n"}, QStringList{"-r", "-n"}}) {
        if (geteuid() != 0 && args.size() == 1)
            continue;
        QProcess probe;
        probe.start("unshare", args + QStringList{"true"});
        if (probe.waitForFinished(10000) && probe.exitStatus() == QProcess::NormalExit &&
            probe.exitCode() == 0) {
            m_unshare = args;
            return;
        }
    }
    QSKIP("unshare -n is not permitted here; netview.sh runs only in a private network "
          "namespace");
}

QByteArray TestDiscoveryNetview::runNetview(const Tools& tools, const QStringList& realTools,
                                            int netns) {
    QTemporaryDir dir;
    const QString bin = dir.filePath("bin");
    const QString work = dir.filePath("work");
    QDir().mkpath(bin);
    QDir().mkpath(work);
    const QStringList basics{"awk", "sed", "tr",    "uname",   "date", "mv",
                             "rm",  "cat", "iconv", "timeout", "sh",   "basename"};
    for (const QString& tool : basics + realTools) {
        const QString path = QStandardPaths::findExecutable(tool);
        if (path.isEmpty()) {
            qWarning("%s is not installed", qPrintable(tool));
            continue;
        }
        QFile::link(path, QDir(bin).filePath(tool));
    }
    for (auto it = tools.begin(); it != tools.end(); ++it) {
        QFile f(QDir(bin).filePath(it.key()));
        if (!f.open(QIODevice::WriteOnly) || f.write("#!/bin/sh\n" + it.value()) < 0)
            return "cannot write " + it.key().toLatin1();
        f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    const QString copy = QDir(work).filePath("netview.sh");
    QFile::copy(m_script, copy);

    QProcess p;
    p.setWorkingDirectory(work);
    const QStringList command{"/usr/bin/env", "-i", "PATH=" + bin, "/bin/sh", "netview.sh"};
    if (netns >= 0) {
        dieWithTest(p, netns);
        p.start(command.first(), command.mid(1));
    } else {
        p.start("unshare", m_unshare + command);
    }
    if (!p.waitForFinished(60000))
        return "netview.sh did not end";
    const QByteArray err = p.readAllStandardError();
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0 || !err.isEmpty())
        return "netview.sh failed: " + QByteArray::number(p.exitCode()) + " " + err;
    const QStringList left = QDir(work).entryList(QDir::Files | QDir::NoDotAndDotDot);
    if (left != QStringList{"net.txt", "netview.sh"})
        return "files left: " + left.join(' ').toLatin1();
    QFile out(QDir(work).filePath("net.txt"));
    if (!out.open(QIODevice::ReadOnly))
        return "no net.txt";
    return out.readAll();
}

void TestDiscoveryNetview::listing_data() {
    QTest::addColumn<Tools>("tools");
    QTest::addColumn<QByteArray>("entries");

    QTest::newRow("no discovery tools") << Tools{} << QByteArray();
    const QByteArray broken = "echo 'something went wrong' >&2\nexit 1\n";
    QTest::newRow("tools that fail")
        << Tools{{"nmblookup", broken}, {"avahi-browse", broken}, {"ip", broken}} << QByteArray();
    QTest::newRow("NetBIOS only") << Tools{{"nmblookup", canned("-S *", nmblookupOutput)}}
                                  << line("PC1", "NetBIOS 10.0.0.11") +
                                         line("FILESRV", "NetBIOS 10.0.0.12");
    QTest::newRow("mDNS only") << Tools{{"avahi-browse",
                                         canned("-t -r -p -k _workstation._tcp", avahiOutput)}}
                               << line("laptop.local", "mDNS 10.0.0.21") +
                                      line("Pc1.local", "mDNS 10.0.0.11") +
                                      line("caf\xE9.local", "mDNS 10.0.0.22");
    QTest::newRow("neighbours only")
        << Tools{{"ip", canned("-4 neigh show", ipOutput)}, {"getent", getentScript}}
        << line("gateway", "neighbour 10.0.0.1") + line("pc1.office.lan", "neighbour 10.0.0.11") +
               line("nas.office.lan", "neighbour 10.0.0.31");
    QTest::newRow("all sources, each name once")
        << Tools{{"nmblookup", canned("-S *", nmblookupOutput)},
                 {"avahi-browse", canned("-t -r -p -k _workstation._tcp", avahiOutput)},
                 {"ip", canned("-4 neigh show", ipOutput)},
                 {"getent", getentScript}}
        << line("PC1", "NetBIOS 10.0.0.11") + line("FILESRV", "NetBIOS 10.0.0.12") +
               line("laptop.local", "mDNS 10.0.0.21") + line("caf\xE9.local", "mDNS 10.0.0.22") +
               line("gateway", "neighbour 10.0.0.1") +
               line("nas.office.lan", "neighbour 10.0.0.31");
}

void TestDiscoveryNetview::listing() {
    QFETCH(Tools, tools);
    QFETCH(QByteArray, entries);
    const QByteArray out = runNetview(tools);
    QList<QByteArray> lines = out.split('\n');
    QVERIFY2(lines.size() >= 6 && lines.takeLast().isEmpty(), out.constData());
    for (const QByteArray& l : lines)
        QVERIFY2(l.endsWith('\r'), "every line ends with CR LF");
    // Four headings, none of which the reader would take for a name or the end.
    QVERIFY(lines[0].startsWith("Computers seen from "));
    QCOMPARE(lines[1], QByteArray("\r"));
    QVERIFY(lines[2].startsWith("Server Name"));
    QVERIFY(lines[3].startsWith("-----"));
    QCOMPARE(out.mid(lines[0].size() + 1 + 2 + lines[2].size() + 1 + lines[3].size() + 1),
             entries + "The command completed successfully.\r\n");

    QStringList names;
    for (const QByteArray& l : entries.split('\n'))
        if (!l.isEmpty())
            names << Listing::cutName(QString::fromLatin1(l));
    QCOMPARE(Listing::parse(out), names);
}

void TestDiscoveryNetview::realNeighbourTableOfAnEmptyNamespace() {
    if (QStandardPaths::findExecutable("ip").isEmpty())
        QSKIP("ip (iproute2) is not installed");
    const QByteArray out = runNetview({}, {"ip", "getent"});
    QCOMPARE(Listing::parse(out), QStringList{});
    QVERIFY2(out.endsWith("-\r\nThe command completed successfully.\r\n"), out.constData());
}

void TestDiscoveryNetview::realNetBiosPeers() {
    // Two Samba peers and the administrator's machine on one bridge, on a subnet that exists
    // only inside these namespaces.
    const QString nmbd = QStandardPaths::findExecutable("nmbd", {"/usr/sbin", "/usr/bin"});
    const QString nmblookup = QStandardPaths::findExecutable("nmblookup");
    if (nmbd.isEmpty() || nmblookup.isEmpty())
        QSKIP("Samba's nmbd and nmblookup are not installed (packages samba, samba-common-bin)");
    if (QStandardPaths::findExecutable("ip").isEmpty())
        QSKIP("ip (iproute2) is not installed");
    if (geteuid() != 0)
        QSKIP("network namespaces for the Samba peers need root");

    QTemporaryDir dir; // outlives the daemons that write into it
    PrivateNets nets;
    QString why;
    int made[3];
    for (int& netns : made) {
        netns = nets.create(why);
        if (netns < 0)
            QSKIP(qPrintable("network namespaces cannot be made here: " + why));
    }
    const int admin = made[0];
    const int peer[] = {made[1], made[2]};

    for (const QStringList& args :
         {QStringList{"link", "set", "lo", "up"},
          QStringList{"link", "add", "br0", "type", "bridge"},
          QStringList{"addr", "add", "10.231.7.1/24", "brd", "+", "dev", "br0"},
          QStringList{"link", "set", "br0", "up"}})
        QCOMPARE(PrivateNets::ip(admin, args), QString());
    const QByteArray names[] = {"QNPEER1", "QNPEER2"};
    const QByteArray addresses[] = {"10.231.7.11", "10.231.7.12"};
    QList<QProcess*> daemons;
    for (int i = 0; i < 2; ++i) {
        const QString port = QString("port%1").arg(i);
        QCOMPARE(PrivateNets::ip(admin, {"link", "add", port, "type", "veth", "peer", "name",
                                         "veth0", "netns", PrivateNets::path(peer[i])}),
                 QString());
        QCOMPARE(PrivateNets::ip(admin, {"link", "set", port, "master", "br0", "up"}), QString());
        QCOMPARE(PrivateNets::ip(peer[i], {"link", "set", "lo", "up"}), QString());
        QCOMPARE(PrivateNets::ip(peer[i],
                                 {"addr", "add", addresses[i] + "/24", "brd", "+", "dev", "veth0"}),
                 QString());
        QCOMPARE(PrivateNets::ip(peer[i], {"link", "set", "veth0", "up"}), QString());

        const QString conf = dir.filePath(QString("peer%1.conf").arg(i));
        QVERIFY(writeFile(conf, sambaConf(dir.filePath(QString("peer%1").arg(i)),
                                          "netbios name = " + names[i] +
                                              "\nworkgroup = QNTEST\n"
                                              "interfaces = veth0\nbind interfaces only = yes\n"
                                              "disable netbios = no\n")));
        daemons << &nets.startDaemon(peer[i], nmbd,
                                     {"--foreground", "--no-process-group", "--debug-stdout",
                                      "--debuglevel=1", "--configfile=" + conf});
        QVERIFY2(daemons.last()->waitForStarted(), qPrintable(daemons.last()->errorString()));
    }

    // The administrator's nmblookup reads a configuration of its own, not the machine's.
    const QString adminConf = dir.filePath("admin.conf");
    QVERIFY(writeFile(adminConf, sambaConf(dir.filePath("admin"), "workgroup = QNTEST\n")));
    const Tools tools{{"nmblookup", "exec '" + nmblookup.toLocal8Bit() + "' '--configfile=" +
                                        adminConf.toLocal8Bit() + "' \"$@\"\n"}};

    QByteArray expected[] = {line(names[0], "NetBIOS " + addresses[0]),
                             line(names[1], "NetBIOS " + addresses[1])};
    // The peers answer once their sockets are up; ask again until both are heard.
    QByteArray out;
    QElapsedTimer clock;
    clock.start();
    do {
        for (QProcess* d : daemons)
            QVERIFY2(d->state() == QProcess::Running, d->readAll().constData());
        out = runNetview(tools, {}, admin);
        QVERIFY2(out.startsWith("Computers seen from "), out.constData());
        if (out.contains(expected[0]) && out.contains(expected[1]))
            break;
        QTest::qWait(300);
    } while (clock.elapsed() < 30000);

    QList<QByteArray> lines = out.split('\n');
    QVERIFY2(lines.size() == 8 && lines.takeLast().isEmpty(), out.constData());
    QCOMPARE(lines[1], QByteArray("\r"));
    QVERIFY(lines[2].startsWith("Server Name"));
    QVERIFY(lines[3].startsWith("-----"));
    QCOMPARE(lines[6], QByteArray("The command completed successfully.\r"));
    QStringList entries{QString::fromLatin1(lines[4] + '\n'), QString::fromLatin1(lines[5] + '\n')};
    entries.sort();
    QCOMPARE(entries,
             (QStringList{QString::fromLatin1(expected[0]), QString::fromLatin1(expected[1])}));
    QStringList found = Listing::parse(out);
    found.sort();
    QCOMPARE(found, (QStringList{"QNPEER1", "QNPEER2"}));
    qInfo("both peers listed after %lld ms", static_cast<long long>(clock.elapsed()));
}

QTEST_GUILESS_MAIN(TestDiscoveryNetview)
#include "test_discovery_netview.moc"
