// Our files as other dBASE readers see them, and tables of other writers as we see them.
// (LibreOffice Calc is not among them: Debian 12's dBASE filter needs Base's drivers and fails.)
#include "datamodule.h"
#include "schema.h"
#include "table.h"
#include "tablefile.h"
#include "testutil.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using namespace qn;

namespace {

const QString kPython = QStringLiteral("/usr/bin/python3");

// Reads every live row of a table through dbfread and prints it as JSON.
const char* kDbfreadDump = R"(
import json, sys, dbfread
t = dbfread.DBF(sys.argv[1], encoding='cp1252', char_decode_errors='strict')
rows = [{k: (v.isoformat() if hasattr(v, 'isoformat') else v) for k, v in r.items()} for r in t]
print(json.dumps({'fields': [[f.name, f.type, f.length] for f in t.fields], 'rows': rows}))
)";

// For each TAG=EXPR argument: walks the tag in order, then looks every STEP-th live row's key (the
// blank-padded fields of EXPR joined) up through the tag and prints how many were not found.
const char* kXbaseCheck = R"(
use strict; use XBase; use XBase::Index;
my ($dbfPath, $mdxPath, $step, @tags) = @ARGV;
my $table = XBase->new(name => $dbfPath) or die XBase->errstr;
my @fields = $table->field_names;
for my $tagExpr (@tags) {
    my ($tag, $expr) = split /=/, $tagExpr;
    my $idx = XBase::Index->new($mdxPath, tag => $tag) or die XBase::Index->errstr;
    $idx->prepare_select;
    my ($walked, $ordered, $prev) = (0, 1, undef);
    while (my ($k, $r) = $idx->fetch) {
        $walked++;
        $ordered = 0 if defined $prev && $k lt $prev;
        $prev = $k;
    }
    my ($missing, $live) = (0, 0);
    for my $n (0 .. $table->last_record) {
        my ($deleted, @values) = $table->get_record($n);
        next if $deleted;
        next if $live++ % $step;
        my %row; @row{@fields} = @values;
        my $key = join '', map { sprintf("%-*s", $table->field_length($_), $row{$_}) }
                           split /\+/, $expr;
        $idx->prepare_select_eq($key, $n + 1);
        my ($k, $r) = $idx->fetch_current;
        $missing++ unless defined $r && $r == $n + 1;
    }
    print "$tag walked=$walked ordered=$ordered missing=$missing live=$live\n";
}
)";

} // namespace

// Scripts of other writers, below: moc does not read past their raw strings.
extern const char *const kPythonChange, *const kPerlChange, *const kPythonCreate,
                                                                *const kPerlCreate;

class TestInterop : public QObject {
    Q_OBJECT
    std::unique_ptr<test::Sandbox> m_box;

    QJsonObject dbfread(const QString& path) {
        int rc = -1;
        QByteArray out = test::run(kPython, {"-c", kDbfreadDump, path}, &rc);
        if (rc != 0)
            qWarning() << "dbfread failed on" << path;
        return QJsonDocument::fromJson(out).object();
    }

    QString xbase(const QString& dbf, const QString& mdx, const QStringList& tagExprs,
                  int step = 1) {
        int rc = -1;
        QByteArray out = test::run(
            "perl", QStringList{"-e", kXbaseCheck, dbf, mdx, QString::number(step)} + tagExprs,
            &rc);
        return rc == 0 ? QString::fromLatin1(out) : QStringLiteral("perl failed");
    }

    void fillInventory(int systems) {
        m_box->createInventory();
        auto ip = m_box->open("IP.dbf");
        const char* types[] = {"UNIX", "PC  ", "MAC ", "PRNT"};
        for (int i = 0; i < systems; ++i) {
            const QString octets[] = {"10", QString::number(i / 65536),
                                      QString::number(i / 256 % 256), QString::number(i % 256)};
            test::appendRow(
                *ip, {{"SysID", QString("A%1").arg(i % 997 * 7 + i / 997, 7, 10, QChar('0'))},
                      {"Computer", QString::fromUtf8("host-%1-é").arg(i)},
                      {"IP1", octets[0]},
                      {"IP2", octets[1]},
                      {"IP3", octets[2]},
                      {"IP4", octets[3]},
                      {"IPString", octets[0] + octets[1] + octets[2] + octets[3]},
                      {"Alias1", i % 3 ? QString() : QString::fromUtf8("€alias%1").arg(i % 50)},
                      {"Type", types[i % 4]}});
        }
        // Some deleted rows, which no reader may see and no tag may hold.
        ip->first();
        for (int i = 0; i < 5; ++i)
            ip->remove();

        auto sys = m_box->open("Systems.dbf");
        for (auto [id, first, last, company] : {std::tuple{"A0000001", "Zoë", "O'Brien", "Acme"},
                                                {"A0000002", "Ann", "Lee", ""},
                                                {"A0000003", "Bo", "Lee", "Acme"}}) {
            test::appendRow(*sys, {{"SysID", id},
                                   {"UserFirst", QString::fromUtf8(first)},
                                   {"UserLast", last},
                                   {"Company", company},
                                   {"Date", "2026-12-06"}});
        }
    }

private slots:
    void initTestCase() {
        int python = -1, perl = -1;
        test::run(kPython, {"-c", "import dbfread, dbf"}, &python);
        test::run("perl", {"-MXBase", "-MXBase::Index", "-e", "1"}, &perl);
        QVERIFY2(python == 0 && perl == 0,
                 "Debian's python3-dbfread, python3-dbf and libdbd-xbase-perl are needed (the test "
                 "command installs them)");
    }

    void init() { m_box = std::make_unique<test::Sandbox>(); }

    void otherReadersReadOurTables_data() {
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("step");
        QTest::newRow("one leaf") << 40 << 1;
        // Looking up a sample keeps the Perl side quick; the walk still covers every key.
        QTest::newRow("three levels") << 6000 << 7;
    }

    // Every live row as dbfread decodes it, and every key walked and found through our index
    // by XBase.
    void otherReadersReadOurTables() {
        QFETCH(int, rows);
        QFETCH(int, step);
        fillInventory(rows);
        const int live = rows - 5;
        QJsonObject ip = dbfread(m_box->file("IP.dbf"));
        QJsonArray read = ip["rows"].toArray();
        QCOMPARE(read.size(), live);
        QCOMPARE(read[0].toObject()["COMPUTER"].toString(), QString::fromUtf8("host-5-é"));
        QCOMPARE(read[0].toObject()["ALIAS1"].toString(), QString());
        QCOMPARE(read[4].toObject()["ALIAS1"].toString(), QString::fromUtf8("€alias9"));
        QCOMPARE(read[live - 1].toObject()["COMPUTER"].toString(),
                 QString::fromUtf8("host-%1-é").arg(rows - 1));
        QCOMPARE(ip["fields"].toArray()[6].toArray(), QJsonArray({"IPSTRING", "C", 12}));
        read = dbfread(m_box->file("Systems.dbf"))["rows"].toArray();
        QCOMPARE(read.size(), 3);
        const QJsonObject zoe = read[0].toObject();
        QCOMPARE((QStringList{zoe["USERFIRST"].toString(), zoe["USERLAST"].toString(),
                              zoe["DATE"].toString()}),
                 (QStringList{QString::fromUtf8("Zoë"), "O'Brien", "2026-12-06"}));
        QCOMPARE(read[1].toObject()["COMPANY"].toString(), QString());

        QString out =
            xbase(m_box->file("IP.dbf"), m_box->file("IP.mdx"),
                  {"SYSID=SYSID", "IP=IPSTRING", "TYPE=TYPE", "COMPUTER=COMPUTER", "ALIAS1=ALIAS1"},
                  step);
        for (const char* tag : {"SYSID", "IP", "TYPE", "COMPUTER", "ALIAS1"}) {
            QString line = QString("%1 walked=%2 ordered=1 missing=0 live=%2").arg(tag).arg(live);
            QVERIFY2(out.contains(line), qPrintable(out));
        }
        out = xbase(m_box->file("Systems.dbf"), m_box->file("Systems.mdx"),
                    {"USER=USERFIRST+USERLAST", "SYSID=SYSID"});
        QVERIFY2(out.contains("USER walked=3 ordered=1 missing=0 live=3"), qPrintable(out));
        // The unique company tag holds each company once: "" and "Acme".
        out = xbase(m_box->file("Systems.dbf"), m_box->file("Systems.mdx"), {"COMPANY=COMPANY"});
        QVERIFY2(out.contains("COMPANY walked=2 ordered=1"), qPrintable(out));
    }

    void masterTemplatesOpenInOtherReaders() {
        QString master = test::buildDir() + "/Master";
        QVERIFY2(QFile::exists(master + "/IP.dbf"), "build/Master is missing");
        for (QString base : {"IP", "Resources", "Systems", "Software", "Hardware"}) {
            QCOMPARE(dbfread(master + '/' + base + ".dbf")["fields"].toArray().size(),
                     qsizetype(schema::table(base).fields.size()));
            const schema::TableSchema& s = schema::table(base);
            QStringList tags;
            for (const TagSpec& tag : s.tags)
                tags << QString::fromStdString(tag.name) + "=" +
                            QString::fromStdString(tag.expression);
            QString out = xbase(master + '/' + base + ".dbf", master + '/' + base + ".mdx", tags);
            QCOMPARE(out.count("walked=0 ordered=1 missing=0 live=0"), int(s.tags.size()));
        }
        // The engine opens them too, under the name the program uses for the pool.
        QDir().mkpath(m_box->dbPath());
        QFile::copy(master + "/Resources.dbf", m_box->file("Resources.dbf"));
        QFile::copy(master + "/Resources.mdx", m_box->file("Resources.mdx"));
        DataModule dm(m_box->engine());
        dm.ResourceTableOpenClose("MAIN", "", false, true);
        QVERIFY(dm.ResourceTable->isEmpty());
    }

    void anotherWriterChangedOurTable_data() {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("args");
        QTest::newRow("python3-dbf") << kPython << QStringList{"-c", kPythonChange};
        QTest::newRow("Perl XBase") << "perl" << QStringList{"-e", kPerlChange};
    }

    // The index is stale: two rows it lacks and one row whose key moved. Opening tells and
    // rebuilds.
    void anotherWriterChangedOurTable() {
        QFETCH(QString, program);
        QFETCH(QStringList, args);
        m_box->createInventory();
        for (int i = 1; i <= 3; ++i)
            test::appendRow(*m_box->open("IP.dbf"), {{"SysID", QString("S%1").arg(i)},
                                                     {"IPString", QString("100%1").arg(i)}});
        int rc = -1;
        test::run(program, args << m_box->file("IP.dbf"), &rc);
        QCOMPARE(rc, 0);
        StoreNotices::instance().take();

        auto ip = m_box->open("IP.dbf", "IP");
        Table& t = *ip;
        QCOMPARE(test::fieldValues(t, "IPString"),
                 (QStringList{"1002", "1003", "1004", "1005", "1009"}));
        QCOMPARE(test::fieldValues(t, "SysID"), (QStringList{"S2", "S3", "S4", "S5", "S1"}));
        const QStringList told = StoreNotices::instance().take();
        QCOMPARE(told.size(), 1);
        QVERIFY2(told[0].contains("IP.dbf") && told[0].contains("rebuilt"), qPrintable(told[0]));
        for (auto [key, id] : {std::pair{"1009", "S1"}, {"1004", "S4"}, {"1001", ""}})
            QCOMPARE(test::findKey(t, {{"IPString", key}}, "SysID"), QString(id));
        QVERIFY(t.locate("SysID", "s4"));
        QCOMPARE(t.fieldText("Computer"), QString::fromUtf8("zoë-pc"));
        t.file()->verifyIndexes();
    }

    void inventoryTableOfAnotherWriter_data() {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("table");
        for (const char* table : {"IP", "Systems"}) {
            QTest::addRow("python3-dbf %s", table)
                << kPython << QStringList{"-c", kPythonCreate} << table;
            QTest::addRow("Perl XBase %s", table)
                << "perl" << QStringList{"-e", kPerlCreate} << table;
        }
    }

    // A table of ours as another program writes it, with no index at all and a deleted row: it
    // opens with its index built (and said so), every value reads back, and what we change
    // there the other side reads.
    void inventoryTableOfAnotherWriter() {
        QFETCH(QString, program);
        QFETCH(QStringList, args);
        QFETCH(QString, table);
        QStringList layout;
        for (const FieldDef& f : schema::table(table).fields)
            layout << QString("%1 %2%3")
                          .arg(QString::fromStdString(f.name))
                          .arg(QChar(f.type))
                          .arg(f.type == 'C' ? QString("(%1)").arg(f.length) : QString());
        QDir().mkpath(m_box->dbPath());
        int rc = -1;
        test::run(program, args << m_box->file(table + ".dbf") << layout.join("; "), &rc);
        QCOMPARE(rc, 0);
        QVERIFY(!QFile::exists(m_box->file(table + ".mdx")));
        StoreNotices::instance().take();

        auto opened = m_box->open(table + ".dbf", "SysID");
        Table& t = *opened;
        const QStringList told = StoreNotices::instance().take();
        QCOMPARE(told,
                 QStringList{QString("The table %1.dbf had no index file. %1.mdx has been built "
                                     "from the table.")
                                 .arg(table)});
        QCOMPARE(t.fieldText("SysID"), QString("QN0001"));
        if (table == "IP") {
            QCOMPARE(t.fieldText("Alias4"), QString("last"));
            t.setIndexName("IP");
            QCOMPARE(test::findKey(t, {{"IPString", "10009"}}, "Computer"),
                     QString::fromUtf8("zoë-pc"));
            QCOMPARE(t.fieldText("Type"), QString("WIND"));
        } else {
            QCOMPARE(t.fieldText("Company"), QString("Acme"));
            t.setIndexName("User");
            t.last();
            QCOMPARE(t.fieldText("UserFirst"), QString::fromUtf8("Zoë"));
            QCOMPARE(t.fieldText("UserLast"), QString("O'Brien"));
            QVERIFY2(t.fieldText("Date").contains("2026"), qPrintable(t.fieldText("Date")));
        }
        QCOMPARE(t.recordCount(), 2);
        t.file()->verifyIndexes();
        const QString field = table == "IP" ? "COMPUTER" : "USERLAST";
        test::editRow(t, {{field, QString::fromUtf8("Ærø")}});
        t.close();
        t.open(); // built once
        QCOMPARE(StoreNotices::instance().take(), QStringList{});
        const QJsonArray back = dbfread(m_box->file(table + ".dbf"))["rows"].toArray();
        QCOMPARE(back.size(), 2);
        QCOMPARE(back[0].toObject()[field].toString(), QString::fromUtf8("Ærø"));
    }
};

// Writers that keep no .mdx: rows appended and a key changed in our IP table behind our index.
const char* const kPythonChange = R"(
import sys, dbf
t = dbf.Table(sys.argv[1])
t.open(dbf.READ_WRITE)
t.append({'sysid': 'S4', 'ipstring': '1004', 'computer': 'zoë-pc'})
t.append({'sysid': 'S5', 'ipstring': '1005', 'computer': 'pc5'})
with t[0] as r:
    r.ipstring = '1009'
t.close()
)";
const char* const kPerlChange = R"(
use strict; use XBase;
my $t = XBase->new(name => $ARGV[0]) or die XBase->errstr;
my $n = $t->last_record + 1;
$t->set_record_hash($n, SYSID => 'S4', IPSTRING => '1004', COMPUTER => "zo\xEB-pc") or die $t->errstr;
$t->set_record_hash($n + 1, SYSID => 'S5', IPSTRING => '1005', COMPUTER => 'pc5') or die $t->errstr;
$t->update_record_hash(0, IPSTRING => '1009') or die $t->errstr;
$t->close;
)";

const char* const kPythonCreate = R"(
import sys, dbf, datetime
t = dbf.Table(sys.argv[1], sys.argv[2], dbf_type='db3', codepage='cp1252')
t.open(dbf.READ_WRITE)
if 'DATE' in sys.argv[2]:
    t.append({'sysid': 'QN0002', 'userfirst': 'Zoë', 'userlast': "O'Brien", 'date': datetime.date(2026, 12, 6)})
    t.append({'sysid': 'QN0001', 'company': 'Acme'})
else:
    t.append({'sysid': 'QN0002', 'ipstring': '10009', 'computer': 'zoë-pc', 'type': 'WIND'})
    t.append({'sysid': 'QN0001', 'ipstring': '10005', 'alias4': 'last'})
t.append({'sysid': 'QN0000'})
dbf.delete(t[2])
t.close()
)";
const char* const kPerlCreate = R"(
use strict; use XBase;
my ($path, $layout) = @ARGV;
my (@names, @types, @lengths, @decimals);
for (split /; /, $layout) {
    my ($n, $t, $l) = /^(\w+) (\w)(?:\((\d+)\))?$/ or die "bad $_";
    push @names, $n; push @types, $t; push @lengths, $l // 8; push @decimals, 0;
}
my $t = XBase->create(name => $path, field_names => \@names, field_types => \@types,
    field_lengths => \@lengths, field_decimals => \@decimals) or die XBase->errstr;
if ($layout =~ /DATE/) {
    $t->set_record_hash(0, SYSID => 'QN0002', USERFIRST => "Zo\xEB", USERLAST => "O'Brien", DATE => '20261206');
    $t->set_record_hash(1, SYSID => 'QN0001', COMPANY => 'Acme');
} else {
    $t->set_record_hash(0, SYSID => 'QN0002', IPSTRING => '10009', COMPUTER => "zo\xEB-pc", TYPE => 'WIND');
    $t->set_record_hash(1, SYSID => 'QN0001', IPSTRING => '10005', ALIAS4 => 'last');
}
$t->set_record_hash(2, SYSID => 'QN0000') or die $t->errstr;
$t->delete_record(2) or die $t->errstr;
$t->close;
)";

QTEST_GUILESS_MAIN(TestInterop)
#include "test_interop.moc"
