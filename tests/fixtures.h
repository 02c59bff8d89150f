#pragma once
// Seeding the inventory's tables and starting the program over them, and stand-ins for the
// network the discovery reads.
#include "datamodule.h"
#include "guiutil.h"
#include "listingrunner.h"
#include "mainwindow.h"
#include "program.h"
#include "resolver.h"
#include "systeminfowindow.h"
#include "table.h"
#include "ui_mainwindow.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QMap>
#include <QTimer>
#include <map>

/// A row with fields added or replaced.
inline QMap<QString, QString> operator+(QMap<QString, QString> a, const QMap<QString, QString>& b) {
    for (auto it = b.begin(); it != b.end(); ++it)
        a[it.key()] = it.value();
    return a;
}

namespace qn::test {

/// Field name to text; names are matched without regard to case.
using Row = QMap<QString, QString>;

/// The IP.DBF fields of a dotted address: the four octet texts and their key.
inline Row octets(const QString& dotted) {
    const QStringList o = (dotted + "...").split(u'.');
    return {{"IP1", o[0]},
            {"IP2", o[1]},
            {"IP3", o[2]},
            {"IP4", o[3]},
            {"IPString", o[0] + o[1] + o[2] + o[3]}};
}

/// Appends a row through a private table object, as another program would.
inline void put(Engine& engine, const QString& file, const Row& row) {
    addRow(engine, file, {row.keyValueBegin(), row.keyValueEnd()});
}

/// Every row of a file in record order, read through a private table object.
inline QList<Row> rows(Engine& engine, const QString& file) {
    const auto t = Sandbox::openTable(engine, file);
    QList<Row> out;
    for (t->first(); !t->eof(); t->next()) {
        Row r;
        for (const QString& f : t->fieldNames())
            r[f] = t->fieldText(f);
        out << r;
    }
    return out;
}

/// The named fields of a row (names separated by blanks), joined by blanks.
inline QString fields(const Row& row, const QString& names) {
    QStringList out;
    for (const QString& n : names.split(u' '))
        out << row.value(n);
    return out.join(u' ');
}

/// The named fields (separated by blanks) of every row, joined by blanks.
inline QStringList column(Engine& engine, const QString& file, const QString& names) {
    QStringList out;
    for (const Row& r : rows(engine, file))
        out << fields(r, names);
    return out;
}

/// The text of the first box shown since the last look; all of them are forgotten.
inline QString said() {
    return MessageService::takeShown().value(0).text;
}

/// Seeds and reads the inventory's files through the engine given, as another program would.
struct Seeding {
    Engine* engine = nullptr;
    void put(const QString& file, const Row& row) { test::put(*engine, file, row); }
    /// A system, and its address row when dotted is given.
    void system(const QString& id, const Row& sys = {}, const QString& dotted = {},
                const Row& ip = {}) {
        put("SYSTEMS.DBF", Row{{"SYSID", id}} + sys);
        if (!dotted.isNull())
            put("IP.DBF", Row{{"SYSID", id}} + octets(dotted) + ip);
    }
    void item(const QString& file, const QString& id, const QString& desc, const Row& more = {}) {
        put(file, Row{{"SYSID", id}, {"DESC", desc}} + more);
    }
    void resource(const QString& main, const QString& category, const QString& item,
                  const Row& more = {}) {
        put("RESOURCES.DBF", Row{{"MAIN", main}, {"CATEGORY", category}, {"ITEM", item}} + more);
    }
    QList<Row> rows(const QString& file) { return test::rows(*engine, file); }
    QStringList column(const QString& file, const QString& names) {
        return test::column(*engine, file, names);
    }
};

/// The five empty tables in a folder of their own, with a data module over them.
struct Tables : Seeding {
    Tables() {
        box.createInventory();
        engine = &box.engine();
    }
    Sandbox box;
    DataModule dm{box.engine()};
};

/// The program started over a fresh database folder.
struct Inventory : Seeding {
    explicit Inventory(const QByteArray& prefix = "QN", bool start = true) {
        engine = &ws.engine();
        ws.writeSettings(settingsFile(ws.path("db"), "", prefix));
        program = std::make_unique<Program>(ws.engine());
        if (start)
            program->start();
        MessageService::takeShown();
    }
    DataModule& dm() { return program->TDataModule11(); }
    void menu(const QStringList& path) { user::menu(program->TForm6().ui().MainMenu1, path); }
    /// The tables as a finding window leaves them, then System Info shown.
    SystemInfoWindow& handOver(const QString& filter) {
        dm().SysTableOpenClose("SysID", filter, true, true);
        dm().IPTableOpenClose("SysID", "", false, true);
        dm().HWTableOpenClose("SysID", "", false, true);
        dm().SWTableOpenClose("SysID", "", false, true);
        SystemInfoWindow& info = program->TForm10();
        info.show();
        QApplication::setActiveWindow(&info);
        return info;
    }
    Workspace ws;
    std::unique_ptr<Program> program;
};

} // namespace qn::test

namespace qn::test {

/// The listing batch's output: four heading lines, a line per name, the closing line.
inline QByteArray listingOf(const QStringList& names, bool closed = true) {
    QByteArray b = "Server Name            Remark\r\n\r\n"
                   "--------------------------------------------------\r\n"
                   "\\\\HEADING   a name in the headings is not listed\r\n";
    for (const QString& n : names)
        b += "\\\\" + n.toLatin1() + "          remark\r\n";
    return closed ? b + "The command completed successfully.\r\n" : b;
}

/// nmap's XML as `nmap -sn -oX` writes it, around the host elements given; without the end
/// when cut.
inline QByteArray nmapXml(const QByteArray& hosts, bool cut = false) {
    const QByteArray head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE nmaprun>\n"
                            "<?xml-stylesheet href=\"file:///usr/bin/../share/nmap/nmap.xsl\" "
                            "type=\"text/xsl\"?>\n<!-- Nmap 7.93 scan -->\n"
                            "<nmaprun scanner=\"nmap\" args=\"nmap -sn -oX x 10.0.0.0/29\" "
                            "version=\"7.93\" xmloutputversion=\"1.05\">\n"
                            "<verbose level=\"0\"/>\n<debugging level=\"0\"/>\n";
    const QByteArray tail = "<runstats><finished time=\"1\" elapsed=\"1.6\" exit=\"success\"/>"
                            "<hosts up=\"1\" down=\"7\" total=\"8\"/>\n</runstats>\n</nmaprun>\n";
    return head + hosts + (cut ? QByteArray() : tail);
}

/// One up host as nmap writes it: its IPv4 (or IPv6, with a colon) address, a MAC address and
/// the names given, the first of the type the target was typed as.
inline QByteArray nmapHost(const QByteArray& address, const QList<QByteArray>& names = {},
                           const QByteArray& state = "up") {
    QByteArray h = "<host><status state=\"" + state +
                   "\" reason=\"arp-response\"/>\n<address addr=\"" + address + "\" addrtype=\"" +
                   (address.contains(':') ? "ipv6" : "ipv4") +
                   "\"/>\n<address addr=\"52:54:00:12:34:56\" addrtype=\"mac\"/>\n<hostnames>\n";
    for (const QByteArray& n : names)
        h += "<hostname name=\"" + n + "\" type=\"" +
             (n == names.first() && names.size() > 1 ? "user" : "PTR") + "\"/>\n";
    return h + "</hostnames>\n<times srtt=\"65\" rttvar=\"5000\" to=\"100000\"/>\n</host>\n";
}

/// Stands in for the listing batch: leaves the prepared listing as net.txt (none when null), or
/// where -oX names when started as nmap, and ends from the event loop.
class FakeRunner : public discovery::ProcessRunner {
public:
    QByteArray listing;
    int exitCode = 0, starts = 0, delayMs = 0;
    QString program, workingDirectory;
    QStringList args;

    void start(const QString& prog, const QStringList& a, const QString& dir) override {
        ++starts;
        program = prog;
        args = a;
        workingDirectory = dir;
        m_running = true;
        QTimer::singleShot(delayMs, this, [this] {
            if (!listing.isNull()) {
                const qsizetype oX = args.indexOf("-oX");
                QFile f(QDir(workingDirectory).filePath(oX >= 0 ? args.value(oX + 1) : "net.txt"));
                if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
                    f.write(listing);
            }
            m_running = false;
            emit finished(exitCode);
        });
    }
    bool isRunning() const override { return m_running; }

private:
    bool m_running = false;
};

/// A host-name service with a fixed table, answering after delayMs from the event loop.
class FakeNames : public discovery::NameService {
public:
    std::map<QString, QString> hosts; // name -> address
    QStringList asked;
    int delayMs = 0;

    int lookup(const QString& name, QObject* context,
               std::function<void(const QHostInfo&)> done) override {
        asked << name;
        QHostInfo info;
        if (auto it = hosts.find(name); it != hosts.end())
            info.setAddresses({QHostAddress(it->second)});
        else
            info.setError(QHostInfo::HostNotFound);
        QTimer::singleShot(delayMs, context, [done, info] { done(info); });
        return ++m_id;
    }
    void abort(int) override {}

private:
    int m_id = 0;
};

} // namespace qn::test
