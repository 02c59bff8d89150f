// The hosts file, byte for byte and as a name server reads it, and the IP Address View.
#include "appstate.h"
#include "error.h"
#include "fixtures.h"
#include "hostswriter.h"
#include "ipviewwindow.h"
#include "mainwindow.h"
#include "tablemodel.h"
#include "ui_ipviewwindow.h"
#include "ui_mainwindow.h"

#include <QClipboard>
#include <QHeaderView>
#include <QHostAddress>
#include <QMenu>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTest>
#include <QUdpSocket>
#include <csignal>
#include <unistd.h>

using namespace qn;
namespace user = test::user;

namespace {

const QByteArray kHeaderStart = "#\r\n#     Sun Host Database\r\n#\r\n";
const QByteArray kHeaderEnd =
    "#     allows you to export the IP list in a Sun HOSTS format.\r\n#\r\n#\r\n";

QByteArray header(const char* word) {
    return kHeaderStart + "#     This file was created by " + word +
           "... Written by Orvell.\r\n#     " + word +
           " is an IP Address management program which\r\n" + kHeaderEnd;
}

QByteArray heading(const QByteArray& desc) {
    return "#\r\n#\r\n#\r\n#     " + desc + "\r\n#\r\n";
}

struct Fixture : test::Inventory {
    void sample() {
        const auto address = [&](const QString& id, const QString& dotted,
                                 const QStringList& aliases, const QString& type,
                                 const QString& desc, const QString& computer) {
            test::Row ip{{"TYPE", type}, {"TYPEDESC", desc}, {"COMPUTER", computer}};
            for (int i = 0; i < 4; ++i)
                ip[QString("ALIAS%1").arg(i + 1)] = aliases.value(i);
            system(id, {}, dotted, ip);
        };
        address("QN0001", "10.0.0.5", {"jsmith", "smith", "JSMITH", "SMITH"}, "WIND",
                "Windows machine", "jsmith");
        address("QN0002", "10.0.0.9", {"pc7"}, "WIND", "Windows machine", "pc7");
        address("QN0003", "10.0.1.1", {"srv1", "", "", "backup"}, "LINX", "Linux machine", "srv");
        address("QN0004", "10.0.1.2", {"", "", "", "lonely"}, "", "", "found");
        address("QN0005", "10.0.1.3", {"wina"}, "WINA", "Windows A", "wina");
    }
    QByteArray hostsFile() {
        QFile f(ws.path("db/hosts"));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<none>");
    }
    void create() { test::user::menu(program->TForm6().ui().MainMenu1, {"Hosts File", "Create"}); }
    IPViewWindow& view() {
        test::user::menu(program->TForm6().ui().MainMenu1, {"Hosts File", "View"});
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
    void createAndExport();
    void nameServerAnswersEveryAlias();
    void viewGridEditsAndOpen();
    void viewSortsByHeader_data();
    void viewSortsByHeader();
    void viewFiltersAndCopies();
    void resizeRule_data();
    void resizeRule();
};

// Create writes the header alone for an empty table, else the addresses grouped by type, each
// read once; it replaces the file whole and never leaves it half written. The view's Export
// differs in the header's word and leaves the view on the last row, which Open then opens;
// hidden grids read nothing meanwhile.
void TestHosts::createAndExport() {
    Fixture f;
    f.create();
    QCOMPARE(MessageService::takeShown().value(0).text, QString("Data exported successfully!"));
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
        QFile::setPermissions(f.ws.path("db"), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                   QFileDevice::ExeOwner);
    }
    QCOMPARE(f.hostsFile(), before);
    // A database folder that is not there: the error box and no success message.
    f.program->state().settings.DatabasePath = f.ws.path("nowhere");
    MessageService::takeShown();
    f.create();
    const auto shown = MessageService::takeShown();
    QVERIFY(shown.size() == 1 && shown[0].kind == MessageService::Kind::Error);
    QVERIFY2(shown[0].text.contains("nowhere"), qPrintable(shown[0].text));
}

void TestHosts::nameServerAnswersEveryAlias() {
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
         {"jsmith 10.0.0.5", "smith 10.0.0.5", "JSMITH 10.0.0.5", "SMITH 10.0.0.5", "srv1 10.0.1.1",
          "backup 10.0.1.1", "lonely 10.0.1.2", "wina 10.0.1.3"})
        QCOMPARE(ask(QString(pair).section(' ', 0, 0)), QString(pair).section(' ', 1));
    QVERIFY(ask("nosuchhost").isEmpty());
}

// The grid in type order; typing finds a row, only F2 edits a cell and the key follows;
// Ctrl+Delete asks first; Open shows the selected row's system; Cancel closes the table.
void TestHosts::viewGridEditsAndOpen() {
    Fixture f;
    f.sample();
    IPViewWindow& v = f.view();
    QVERIFY(!f.program->TForm6().isVisible());
    DBGrid* grid = v.ui().DBGrid;
    QAbstractItemModel* m = grid->model();
    QStringList heads;
    for (int c = 0; c < m->columnCount(); ++c)
        heads << m->headerData(c, Qt::Horizontal).toString();
    QCOMPARE(heads.mid(0, 2) + heads.mid(5, 1),
             (QStringList{"System ID", "IP Address", "COMPUTER"}));
    for (int c : {1, 4}) // no title clipped, whatever the font
        QVERIFY(grid->columnWidth(c) >= grid->horizontalHeader()->sectionSizeHint(c));
    QCOMPARE(test::entries(grid, 6), (QStringList{"", "LINX", "WINA", "WIND", "WIND"}));
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
    QCOMPARE(MessageService::takeShown().value(0).text, QString("Delete record?"));
    QCOMPARE(m->rowCount(), 4);

    user::clickCell(grid, 0); // now QN0003's row
    user::enter();            // Open is the default
    QCOMPARE(f.program->TForm10().systemId(), QString("QN0003"));
    QCOMPARE(f.dm().SysTable->filter(), DataModule::oneSystemFilter("QN0003"));
    QVERIFY(f.dm().IPTable->indexName() == "SysID" &&
            f.dm().IPTable->state() == Table::State::Browse);
    f.program->TForm10().hide();
    user::clickCell(f.view().ui().DBGrid, 0);
    user::escape();
    QVERIFY(!v.isVisible() && f.program->TForm6().isVisible() && !f.dm().IPTable->isActive());
}

void TestHosts::resizeRule_data() {
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<QList<int>>("lefts"); // Cancel, Export, Open
    QTest::newRow("widest") << 834 << 400 << QList<int>{547, 375, 203};
    QTest::newRow("half, halves rounded up") << 417 << 300 << QList<int>{274, 188, 102};
    QTest::newRow("narrow") << 600 << 250 << QList<int>{394, 270, 146};
}

void TestHosts::resizeRule() {
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(QList<int>, lefts);
    Fixture f;
    IPViewWindow& v = f.view();
    // The rule works on the outer size, frame included.
    const int dw = v.frameGeometry().width() - v.width();
    v.resize(width - dw, height - (v.frameGeometry().height() - v.height()));
    QTRY_COMPARE(v.frameGeometry().width(), width);
    auto& ui = v.ui();
    QCOMPARE((QList<int>{ui.CancelButton->x(), ui.ExportButton->x(), ui.OpenButton->x()}), lefts);
    QCOMPARE(ui.OpenButton->y(), height - 56);
    QCOMPARE(ui.FilterEdit->geometry(), QRect(8, 8, width - 16, 23));
    QCOMPARE(ui.DBGrid->geometry(), QRect(8, 37, width - 16, height - 100));
    // Wider than drawn: the grid fills the width.
    v.resize(1200, height);
    QTRY_COMPARE(v.width(), 1200);
    QCOMPARE(ui.DBGrid->width(), v.frameGeometry().width() - 16);
}

void TestHosts::viewSortsByHeader_data() {
    QTest::addColumn<int>("column");
    QTest::addColumn<int>("clicks");
    QTest::addColumn<QStringList>("ids");
    const QStringList byAddress{"QN0001", "QN0002", "QN9", "QN10", "QN0003", "QN0004", "QN0005"};
    QStringList reversed = byAddress;
    std::reverse(reversed.begin(), reversed.end());
    QTest::newRow("address") << 1 << 1 << byAddress;
    QTest::newRow("address, reversed") << 1 << 2 << reversed;
    QTest::newRow("third click: type order again")
        << 1 << 3 << QStringList{"QN0004", "QN0003", "QN10", "QN0005", "QN0001", "QN0002", "QN9"};
    QTest::newRow("System ID") << 0 << 1 << QStringList{"QN0001", "QN0002", "QN0003", "QN0004",
                                                        "QN0005", "QN9",    "QN10"};
}

// Each click one reload; a cell edited in a sorted view is stored into its own row.
void TestHosts::viewSortsByHeader() {
    QFETCH(int, column);
    QFETCH(int, clicks);
    QFETCH(QStringList, ids);
    Fixture f;
    f.sample();
    f.system("QN9", {}, "10.0.0.10", {{"TYPE", "WIND"}, {"COMPUTER", "nine"}});
    f.system("QN10", {}, "10.0.0.100", {{"TYPE", "LINX"}, {"COMPUTER", "ten"}});
    DBGrid* grid = f.view().ui().DBGrid;
    QHeaderView* header = grid->horizontalHeader();
    const quint64 reloads = TableModel::reloads();
    for (int i = 0; i < clicks; ++i)
        user::click(header->viewport(),
                    QPoint(header->sectionViewportPosition(column) + 10, header->height() / 2));
    QCOMPARE(TableModel::reloads() - reloads, quint64(clicks));
    QCOMPARE(test::entries(grid, 0), ids);
    user::clickCell(grid, 2, 5);
    user::key(Qt::Key_F2);
    user::key(Qt::Key_A, Qt::ControlModifier);
    user::type("edited");
    user::enter();
    Table& ip = *f.dm().IPTable;
    QCOMPARE(ip.fieldText("SysID") + " " + ip.fieldText("Computer"), ids[2] + " edited");
    QCOMPARE(test::entries(grid, 0), ids); // still sorted
}

// The filter narrows on any column or the dotted address, keeps the current row among those
// shown (Enter opens it) and is empty when the view opens again; rows copy as tabbed lines.
void TestHosts::viewFiltersAndCopies() {
    Fixture f;
    f.sample();
    IPViewWindow& v = f.view();
    DBGrid* grid = v.ui().DBGrid;
    QLineEdit* filter = v.ui().FilterEdit;
    QCOMPARE(filter->placeholderText(), QString("Filter"));
    user::click(filter);
    user::type("wind");
    QCOMPARE(test::entries(grid, 0), (QStringList{"QN0005", "QN0001", "QN0002"}));
    user::type("ows m");
    QCOMPARE(test::entries(grid, 0), (QStringList{"QN0001", "QN0002"}));
    user::fill(filter, "10.0.1.2");
    QCOMPARE(test::entries(grid, 0), QStringList{"QN0004"});
    QCOMPARE(f.dm().IPTable->fieldText("SysID"), QString("QN0004"));
    user::enter();
    QCOMPARE(f.program->TForm10().systemId(), QString("QN0004"));
    user::clickButton(&f.program->TForm10(), "Cancel");
    f.view();
    QVERIFY(filter->text().isEmpty());
    QCOMPARE(grid->model()->rowCount(), 5);

    user::clickCell(grid, 0);
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, Qt::ShiftModifier,
                      grid->visualRect(grid->model()->index(1, 0)).center());
    const QString rows = "QN0004\t10\t0\t1\t2\tfound\t\t\nQN0003\t10\t0\t1\t1\tsrv\tLINX\tLinux "
                         "machine\n";
    QGuiApplication::clipboard()->clear();
    user::key(Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(), rows);
    QGuiApplication::clipboard()->clear();
    QTimer::singleShot(0, [] {
        if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget()))
            QTest::keyClick(menu, Qt::Key_C); // "&Copy"
    });
    QContextMenuEvent menu(QContextMenuEvent::Keyboard, grid->viewport()->rect().center(),
                           grid->viewport()->mapToGlobal(grid->viewport()->rect().center()));
    QApplication::sendEvent(grid->viewport(), &menu);
    QCOMPARE(QGuiApplication::clipboard()->text(), rows);
}

QN_GUI_TEST_MAIN(TestHosts)
#include "test_hosts.moc"
