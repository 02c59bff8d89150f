// The hosts file, byte for byte and as a name server reads it, and the IP Address View.
#include "appstate.h"
#include "error.h"
#include "fixtures.h"
#include "hostswriter.h"
#include "ipviewwindow.h"
#include "tablemodel.h"
#include "ui_ipviewwindow.h"

#include <QHeaderView>
#include <QStandardPaths>
#include <QTcpServer>
#include <QUdpSocket>
#include <array>
#include <csignal>
#include <unistd.h>

using namespace qn;
namespace user = test::user;

namespace {

QByteArray header(const QByteArray& word) {
    return "#\r\n#     Sun Host Database\r\n#\r\n#     This file was created by " + word +
           "... Written by Orvell.\r\n#     " + word +
           " is an IP Address management program which\r\n#     allows you to export the IP "
           "list in a Sun HOSTS format.\r\n#\r\n#\r\n";
}

QByteArray heading(const QByteArray& desc) {
    return "#\r\n#\r\n#\r\n#     " + desc + "\r\n#\r\n";
}

struct Fixture : test::Inventory {
    // Each address row: System ID, address, the four aliases, type, its description, computer.
    void sample() {
        for (const char* line :
             {"QN0001|10.0.0.5|jsmith,smith,JSMITH,SMITH|WIND|Windows machine|jsmith",
              "QN0002|10.0.0.9|pc7|WIND|Windows machine|pc7",
              "QN0003|10.0.1.1|srv1,,,backup|LINX|Linux machine|srv",
              "QN0004|10.0.1.2|,,,lonely|||found", "QN0005|10.0.1.3|wina|WINA|Windows A|wina"}) {
            const QStringList v = QString(line).split(u'|'), aliases = v[2].split(u',');
            test::Row ip{{"TYPE", v[3]}, {"TYPEDESC", v[4]}, {"COMPUTER", v[5]}};
            for (int i = 0; i < 4; ++i)
                ip[QString("ALIAS%1").arg(i + 1)] = aliases.value(i);
            system(v[0], {}, v[1], ip);
        }
    }
    QByteArray hostsFile() {
        QFile f(ws.path("db/hosts"));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<none>");
    }
    void create() { menu({"Hosts File", "Create"}); }
    IPViewWindow& view() {
        menu({"Hosts File", "View"});
        QApplication::setActiveWindow(&program->TForm5());
        return program->TForm5();
    }
};

const QByteArray kSampleBody =
    heading("") + "10.0.1.2" + QByteArray(15, ' ') + "     lonely\r\n" + heading("Linux machine") +
    "10.0.1.1     srv1               backup\r\n" + heading("Windows A") + "10.0.1.3     wina" +
    QByteArray(15, ' ') + "\r\n" + heading("Windows machine") +
    "10.0.0.5     jsmith     smith     JSMITH     SMITH\r\n"
    "10.0.0.9     pc7" +
    QByteArray(15, ' ') + "\r\n";

} // namespace

class TestHosts : public QObject {
    Q_OBJECT
private slots:
    void init() { MessageService::takeShown(); }

    // Create writes the header alone for an empty table, else the addresses grouped by type, each
    // read once; it replaces the file whole and never leaves it half written. The view's Export
    // differs in the header's word and leaves the view on the last row, which Open then opens;
    // hidden grids read nothing meanwhile.
    void createAndExport() {
        Fixture f;
        f.create();
        QCOMPARE(test::said(), QString("Data exported successfully!"));
        QCOMPARE(f.hostsFile(), header("Quillnet"));
        QVERIFY(!f.dm().IPTable->isActive() && f.dm().IPTable->indexName().isEmpty());
        f.sample();
        QFile old(f.ws.path("db/hosts"));
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write(QByteArray(100000, 'x'));
        old.close();
        const quint64 reloads = TableModel::reloads();
        const quint64 rows = Table::counters().rowsRead;
        f.create();
        QCOMPARE(Table::counters().rowsRead - rows, quint64(1 + 5)); // opening reads the first
        QCOMPARE(TableModel::reloads(), reloads);
        QCOMPARE(f.hostsFile(), header("Quillnet") + kSampleBody);
        QCOMPARE(QDir(f.ws.path("db")).entryList({"*hosts*"}, QDir::Files), QStringList{"hosts"});
        IPViewWindow& v = f.view();
        QCOMPARE(TableModel::reloads(), reloads + 1); // shown: one reload
        user::click(v.ui().ExportButton);
        QCOMPARE(TableModel::reloads(), reloads + 1);
        QCOMPARE(f.hostsFile(), header("Brindle") + kSampleBody);
        QCOMPARE(v.ui().DBGrid->currentIndex().row(), 4);
        user::click(v.ui().OpenButton);
        QVERIFY(!v.isVisible() && f.program->TForm10().systemId() == "QN0002");
        f.program->TForm10().hide();

        // A folder that cannot be written: the error box, no success, the old file as it was.
        const QByteArray before = f.hostsFile();
        MessageService::takeShown();
        if (::geteuid() == 0) {
            // Permissions do not stop root: the writer on a path it cannot create instead.
            QVERIFY_THROWS_EXCEPTION(Error, hosts::write(f.ws.path("db/missing"), "x"));
        } else {
            QFile::setPermissions(f.ws.path("db"), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
            f.create();
            QCOMPARE(MessageService::takeShown().value(0).kind, MessageService::Kind::Error);
            QFile::setPermissions(f.ws.path("db"), QFileDevice::ReadOwner |
                                                       QFileDevice::WriteOwner |
                                                       QFileDevice::ExeOwner);
        }
        QCOMPARE(f.hostsFile(), before);
        // A database folder that is not there: the error box and no success message.
        f.program->state().settings.DatabasePath = f.ws.path("nowhere");
        f.create();
        const auto shown = MessageService::takeShown();
        QVERIFY(shown.size() == 1 && shown[0].kind == MessageService::Kind::Error);
        QVERIFY2(shown[0].text.contains("nowhere"), qPrintable(shown[0].text));
    }

    void nameServerAnswersEveryAlias() {
        if (QStandardPaths::findExecutable("dnsmasq").isEmpty() ||
            QStandardPaths::findExecutable("dig").isEmpty())
            QFAIL("dnsmasq and dig are needed (the test command installs dnsmasq-base and "
                  "bind9-dnsutils)");
        Fixture f;
        f.sample();
        f.create();
        // A free port on loopback for both protocols.
        int port = 0;
        for (int tries = 0; tries < 20 && port == 0; ++tries) {
            QUdpSocket udp;
            if (!udp.bind(QHostAddress::LocalHost, 0))
                continue;
            QTcpServer tcp;
            if (tcp.listen(QHostAddress::LocalHost, udp.localPort()))
                port = udp.localPort();
        }
        QVERIFY(port > 0);
        QProcess dns;
        QStringList args = QString("--no-daemon --conf-file=/dev/null --no-resolv --no-hosts "
                                   "--listen-address=127.0.0.1 --bind-interfaces --pid-file=")
                               .split(u' ');
        args << "--addn-hosts=" + f.ws.path("db/hosts") << QString("--port=%1").arg(port);
        if (::geteuid() == 0)
            args << "--user=root"; // the test folder is private to this user
        dns.setProcessChannelMode(QProcess::MergedChannels);
        dns.start("dnsmasq", args);
        QVERIFY(dns.waitForStarted());
        const qint64 pid = dns.processId();
        auto stop = qScopeGuard([&] {
            ::kill(pid_t(pid), SIGTERM);
            dns.waitForFinished(5000);
        });
        auto ask = [&](const QString& name) {
            QProcess dig;
            dig.start("dig", {"+short", "+time=2", "+tries=3", "-p", QString::number(port),
                              "@127.0.0.1", name});
            dig.waitForFinished(15000);
            return QString::fromLatin1(dig.readAllStandardOutput()).trimmed();
        };
        QTRY_COMPARE_WITH_TIMEOUT(ask("pc7"), QString("10.0.0.9"), 10000);
        for (const char* pair :
             {"jsmith 10.0.0.5", "smith 10.0.0.5", "JSMITH 10.0.0.5", "SMITH 10.0.0.5",
              "srv1 10.0.1.1", "backup 10.0.1.1", "lonely 10.0.1.2", "wina 10.0.1.3"})
            QCOMPARE(ask(QString(pair).section(' ', 0, 0)), QString(pair).section(' ', 1));
        QVERIFY(ask("nosuchhost").isEmpty());
    }

    // The filter narrows on any column or the dotted address, keeps the current row among those
    // shown (Enter, as Open, shows its system) and is empty when the view opens again; rows copy
    // as tabbed lines. Typing finds a row, only F2 edits a cell and the key follows; Ctrl+Delete
    // asks first; Cancel closes the table.
    void viewGridEditsAndOpen() {
        Fixture f;
        f.sample();
        IPViewWindow& v = f.view();
        QVERIFY(!f.program->TForm6().isVisible());
        DBGrid* grid = v.ui().DBGrid;
        QLineEdit* filter = v.ui().FilterEdit;
        user::click(filter);
        user::type("wind");
        QCOMPARE(test::entries(grid, 0), (QStringList{"QN0005", "QN0001", "QN0002"}));
        user::fill(filter, "10.0.1.2");
        QCOMPARE(test::entries(grid, 0), QStringList{"QN0004"});
        QCOMPARE(f.dm().IPTable->fieldText("SysID"), QString("QN0004"));
        user::enter(); // Open is the default
        QCOMPARE(f.program->TForm10().systemId(), QString("QN0004"));
        QCOMPARE(f.dm().SysTable->filter(), DataModule::oneSystemFilter("QN0004"));
        QVERIFY(f.dm().IPTable->indexName() == "SysID" &&
                f.dm().IPTable->state() == Table::State::Browse);
        user::clickButton(&f.program->TForm10(), "Cancel");
        f.view();
        QVERIFY(filter->text().isEmpty());
        QCOMPARE(grid->model()->rowCount(), 5);

        user::clickCell(grid, 0);
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, Qt::ShiftModifier,
                          grid->visualRect(grid->model()->index(1, 0)).center());
        const QString rows =
            "QN0004\t10\t0\t1\t2\tfound\t\t\nQN0003\t10\t0\t1\t1\tsrv\tLINX\tLinux "
            "machine\n";
        QGuiApplication::clipboard()->clear();
        user::key(Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(), rows);
        QAbstractItemModel* m = grid->model();
        for (int c : {1, 4}) // no title clipped, whatever the font
            QVERIFY(grid->columnWidth(c) >= grid->horizontalHeader()->sectionSizeHint(c));
        user::clickCell(grid, 0, 5);
        user::type("w"); // to the next computer name starting with w
        QCOMPARE(grid->currentIndex().row(), 2);
        QCOMPARE(f.dm().IPTable->fieldText("SysID"), QString("QN0005"));
        user::clickCell(grid, 1, 5);
        QCOMPARE(m->index(0, 5).data().toString() + m->index(2, 5).data().toString(),
                 QString("foundwina"));

        for (const char* value : {"99", "1234"}) { // the second too long: refused, cell kept
            user::clickCell(grid, 1, 4);
            user::key(Qt::Key_F2);
            user::key(Qt::Key_A, Qt::ControlModifier);
            user::type(value);
            user::enter();
        }
        QCOMPARE(MessageService::takeShown().value(0).kind, MessageService::Kind::Error);
        QCOMPARE(m->index(1, 4).data().toString(), QString("99"));
        QCOMPARE(f.dm().IPTable->fieldText("IPString"), QString("100199"));
        user::clickCell(grid, 0);
        MessageService::queueAnswer(QMessageBox::Cancel);
        user::key(Qt::Key_Delete, Qt::ControlModifier);
        QCOMPARE(m->rowCount(), 5);
        MessageService::queueAnswer(QMessageBox::Ok);
        user::key(Qt::Key_Delete, Qt::ControlModifier);
        QCOMPARE(test::said(), QString("Delete record?"));
        QCOMPARE(m->rowCount(), 4);
        user::escape();
        QVERIFY(!v.isVisible() && f.program->TForm6().isVisible() && !f.dm().IPTable->isActive());
    }

    // Each click on the address title one reload: the address order (by the numbers), reversed,
    // then the type order again; a cell edited in a sorted view is stored into its own row.
    void viewSortsByHeader() {
        Fixture f;
        f.sample();
        f.system("QN9", {}, "10.0.0.10", {{"TYPE", "WIND"}, {"COMPUTER", "nine"}});
        f.system("QN10", {}, "10.0.0.100", {{"TYPE", "LINX"}, {"COMPUTER", "ten"}});
        DBGrid* grid = f.view().ui().DBGrid;
        QHeaderView* header = grid->horizontalHeader();
        const QStringList byAddress{"QN0001", "QN0002", "QN9",   "QN10",
                                    "QN0003", "QN0004", "QN0005"};
        QStringList reversed = byAddress;
        std::reverse(reversed.begin(), reversed.end());
        const QStringList orders[] = {
            byAddress, reversed, {"QN0004", "QN0003", "QN10", "QN0005", "QN0001", "QN0002", "QN9"}};
        for (int i = 0; i < 3; ++i) {
            const quint64 reloads = TableModel::reloads();
            const QPoint title(header->sectionViewportPosition(1) + 10, header->height() / 2);
            user::click(header->viewport(), title);
            QCOMPARE(TableModel::reloads() - reloads, quint64(1));
            QCOMPARE(test::entries(grid, 0), orders[i]);
            user::clickCell(grid, 2, 5);
            user::key(Qt::Key_F2);
            user::key(Qt::Key_A, Qt::ControlModifier);
            user::type("edited" + QString::number(i));
            user::enter();
            Table& ip = *f.dm().IPTable;
            QCOMPARE(ip.fieldText("SysID") + " " + ip.fieldText("Computer"),
                     orders[i][2] + " edited" + QString::number(i));
            QCOMPARE(test::entries(grid, 0), orders[i]); // still sorted
        }
    }

    // The buttons keep their share of the outer width, frame included (a half rounds to even);
    // the grid takes the rest.
    void resizeRule() {
        Fixture f;
        IPViewWindow& v = f.view();
        auto& ui = v.ui();
        const QSize frame = v.frameGeometry().size() - v.size();
        for (auto [w, h, cancel, exportLeft, open] :
             {std::array{417, 300, 274, 188, 102}, std::array{600, 250, 394, 270, 146}}) {
            v.resize(w - frame.width(), h - frame.height());
            QTRY_COMPARE(v.frameGeometry().width(), w);
            QCOMPARE((QList<int>{ui.CancelButton->x(), ui.ExportButton->x(), ui.OpenButton->x(),
                                 ui.OpenButton->y()}),
                     (QList<int>{cancel, exportLeft, open, h - 56}));
            QCOMPARE(ui.DBGrid->geometry(), QRect(8, 37, w - 16, h - 100));
            QCOMPARE(ui.FilterEdit->geometry(), QRect(8, 8, w - 16, 23));
        }
    }
};

QN_GUI_TEST_MAIN(TestHosts)
#include "test_hosts.moc"
