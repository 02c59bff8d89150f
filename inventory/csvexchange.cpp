#include "csvexchange.h"

#include "codepage.h"
#include "datamodule.h"
#include "error.h"
#include "recording.h"
#include "schema.h"
#include "snapshots.h"
#include "systemrules.h"
#include "table.h"
#include "tablelock.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLocale>
#include <QSaveFile>
#include <QStringDecoder>
#include <algorithm>
#include <memory>
#include <optional>

namespace qn::csv {
namespace {

// The first field of each of the four tables.
const QString kSysId = QStringLiteral("SYSID");
enum { kSystems = 0, kIp = 1, kHardware = 2, kSoftware = 3 };

const schema::TableSchema& schemaOf(int table) {
    return schema::table(tableNames()[size_t(table)]);
}

int fieldIndex(int table, const QString& name) {
    const auto& fields = schemaOf(table).fields;
    for (size_t i = 0; i < fields.size(); ++i)
        if (name.compare(QString::fromStdString(fields[i].name), Qt::CaseInsensitive) == 0)
            return int(i);
    return -1;
}

QString rtrimmed(const QString& s) {
    qsizetype n = s.size();
    while (n > 0 && s[n - 1] == u' ')
        --n;
    return s.left(n);
}

// The shared tables name the files; a private table over each keeps the windows' tables where
// they are.
std::unique_ptr<Table> openPrivate(DataModule& dm, int table, const QString& tag) {
    const Table* shared[kTables] = {dm.SysTable, dm.IPTable, dm.HWTable, dm.SWTable};
    auto t = std::make_unique<Table>(dm.engine());
    t->setDatabaseName(QStringLiteral("IP"));
    t->setTableName(shared[table]->tableName());
    t->setIndexName(tag);
    t->open();
    return t;
}

// A date as the table shows it: the locale's short format, with four-digit years.
QDate shownDate(const QString& text) {
    QString format = QLocale().dateFormat(QLocale::ShortFormat);
    if (!format.contains(QStringLiteral("yyyy")))
        format.replace(QStringLiteral("yy"), QStringLiteral("yyyy"));
    return QDate::fromString(text, format);
}

QDate importedDate(const QString& text) {
    const QString t = text.trimmed();
    QDate d = QDate::fromString(t, QStringLiteral("yyyy-MM-dd"));
    return d.isValid() ? d : QDate::fromString(t, QStringLiteral("yyyyMMdd"));
}

QStringList octetsOf(const SourceRow& r) {
    return r.values.mid(fieldIndex(kIp, QStringLiteral("IP1")), 4);
}

// The address as numbers where the octets are numbers, so that 10.0.0.05 and 10.0.0.5 meet.
QString canonical(const QStringList& octets) {
    QStringList out;
    for (const QString& o : octets) {
        bool ok = false;
        const int v = o.toInt(&ok);
        out << (ok ? QString::number(v) : o);
    }
    return out.join(u'.');
}

bool idStored(Table& t, const QString& id) {
    t.setKey();
    t.setFieldText(kSysId, id);
    return t.gotoKey();
}

// Several addresses share a key (1.11.1.1 and 11.1.1.1 give 11111): the tag finds the
// candidates, their octets tell them apart.
bool addressStoredAs(Table& ipByAddress, const QStringList& octets) {
    const QString key = octets.join(QString());
    if (key.size() > ipByAddress.fieldWidth(QStringLiteral("IPSTRING")))
        return false;
    ipByAddress.setKey();
    ipByAddress.setFieldText(QStringLiteral("IPSTRING"), key);
    if (!ipByAddress.gotoKey())
        return false;
    for (; !ipByAddress.eof() && ipByAddress.fieldText(QStringLiteral("IPSTRING")) == key;
         ipByAddress.next()) {
        bool same = true;
        for (int i = 0; i < 4 && same; ++i)
            same = ipByAddress.fieldText(QStringLiteral("IP%1").arg(i + 1)) == octets[i];
        if (same)
            return true;
    }
    return false;
}

bool addressStored(Table& ipByAddress, const QStringList& octets) {
    const QStringList numbers = canonical(octets).split(u'.');
    return addressStoredAs(ipByAddress, octets) ||
           (numbers != octets && addressStoredAs(ipByAddress, numbers));
}

// Why a row cannot be stored as it stands, or empty.
QString rowProblem(int table, const SourceRow& r) {
    if (!r.problem.isEmpty())
        return r.problem;
    const auto& fields = schemaOf(table).fields;
    for (size_t i = 0; i < fields.size(); ++i) {
        const QString name = QString::fromStdString(fields[i].name);
        const QString& v = r.values[qsizetype(i)];
        if (fields[i].type == 'D') {
            if (!v.trimmed().isEmpty() && !importedDate(v).isValid())
                return QStringLiteral("%1 \"%2\" is not a date (year-month-day)").arg(name, v);
            continue;
        }
        if (QChar bad = cp1252::firstUnrepresentable(v); !bad.isNull())
            return QStringLiteral("%1 has the character '%2', which code page 1252 cannot hold")
                .arg(name, bad);
        if (const qsizetype n = qsizetype(cp1252::encode(v)->size()); n > fields[i].length)
            return QStringLiteral("%1 holds at most %2 characters; this one has %3")
                .arg(name)
                .arg(fields[i].length)
                .arg(n);
    }
    if (rtrimmed(r.values[0]).isEmpty())
        return QStringLiteral("there is no System ID");
    if (table == kIp) {
        const QStringList octets = octetsOf(r);
        for (int i = 0; i < 4; ++i)
            if (QString why = systemrules::octetRefusal(octets[i]); !why.isEmpty())
                return QStringLiteral("IP%1: %2").arg(i + 1).arg(why);
        const QString key = r.values[fieldIndex(kIp, QStringLiteral("IPSTRING"))];
        if (!key.isEmpty() && key != octets.join(QString()))
            return QStringLiteral("IPSTRING \"%1\" is not the four octets joined").arg(key);
    }
    return {};
}

QString where(int table, int line) {
    return QStringLiteral("%1 line %2").arg(fileName(table)).arg(line);
}

void readTable(ImportPlan& plan, int table, const QString& path, QHash<QString, int>& byId) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw Error(QStringLiteral("Cannot read %1: %2").arg(path, f.errorString()));
    const QList<Record> records = parse(f.readAll(), QFileInfo(path).fileName());
    plan.filesRead << path;
    if (records.isEmpty())
        return;
    const auto& fields = schemaOf(table).fields;
    std::vector<int> columns; // field of each column
    for (const QString& heading : records.first().fields) {
        const int field = fieldIndex(table, heading.trimmed());
        if (field < 0) {
            QStringList names;
            for (const FieldDef& d : fields)
                names << QString::fromStdString(d.name);
            throw Error(QStringLiteral("%1: the column \"%2\" is not a field of %3 (%4).")
                            .arg(QFileInfo(path).fileName(), heading, tableNames()[size_t(table)],
                                 names.join(QStringLiteral(", "))));
        }
        if (std::find(columns.begin(), columns.end(), field) != columns.end())
            throw Error(QStringLiteral("%1: the column \"%2\" is there twice.")
                            .arg(QFileInfo(path).fileName(), heading));
        columns.push_back(field);
    }
    if (std::find(columns.begin(), columns.end(), 0) == columns.end())
        throw Error(QStringLiteral("%1 has no SYSID column: its rows cannot be given to systems.")
                        .arg(QFileInfo(path).fileName()));
    for (qsizetype k = 1; k < records.size(); ++k) {
        const Record& rec = records[k];
        SourceRow row;
        row.line = rec.line;
        row.values = QStringList(qsizetype(fields.size()));
        for (size_t c = 0; c < columns.size() && qsizetype(c) < rec.fields.size(); ++c)
            row.values[columns[c]] = rec.fields[qsizetype(c)];
        const QString id = rtrimmed(row.values[0]);
        auto it = byId.find(id);
        if (it == byId.end()) {
            it = byId.insert(id, int(plan.candidates.size()));
            plan.candidates.push_back(Candidate{});
            plan.candidates.back().sysId = id;
        }
        row.candidate = it.value();
        ++plan.candidates[size_t(row.candidate)].rows[size_t(table)];
        if (rec.fields.size() != qsizetype(columns.size()))
            row.problem = QStringLiteral("%1 fields where the header has %2")
                              .arg(rec.fields.size())
                              .arg(columns.size());
        plan.rows[size_t(table)].push_back(std::move(row));
    }
}

void setValue(Table& t, const FieldDef& f, const QString& value) {
    const QString name = QString::fromStdString(f.name);
    if (f.type == 'D')
        t.setFieldText(name, importedDate(value).toString(QStringLiteral("yyyyMMdd")));
    else if (!value.isEmpty())
        t.setFieldText(name, value);
}

} // namespace

const std::array<QString, kTables>& tableNames() {
    static const std::array<QString, kTables> names = {
        QStringLiteral("Systems"), QStringLiteral("IP"), QStringLiteral("Hardware"),
        QStringLiteral("Software")};
    return names;
}

QString fileName(int table) {
    return tableNames()[size_t(table)] + QStringLiteral(".csv");
}

QByteArray encodeRow(const QStringList& fields) {
    QByteArray out;
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (i)
            out += ',';
        const QString& f = fields[i];
        const bool quote = f.contains(u',') || f.contains(u'"') || f.contains(u'\n') ||
                           f.contains(u'\r') || f.startsWith(u' ') || f.startsWith(u'\t');
        if (!quote) {
            out += f.toUtf8();
            continue;
        }
        out += '"';
        out += QString(f).replace(u'"', QStringLiteral("\"\"")).toUtf8();
        out += '"';
    }
    out += "\r\n";
    return out;
}

QList<Record> parse(const QByteArray& utf8, const QString& fileName) {
    QStringDecoder decode(QStringDecoder::Utf8);
    QString text = decode(utf8);
    if (decode.hasError())
        throw Error(QStringLiteral("%1 is not UTF-8 text.").arg(fileName));
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    QList<Record> out;
    Record rec;
    rec.line = 1;
    QString field;
    bool quoted = false;    // inside quotes
    bool wasQuoted = false; // the field began with a quote
    int line = 1, quoteLine = 0;
    auto endRecord = [&] {
        rec.fields << field;
        // A line with nothing on it is no record.
        if (rec.fields.size() > 1 || !rec.fields.first().isEmpty() || wasQuoted)
            out << rec;
        rec = Record{};
        rec.line = line;
        field.clear();
        wasQuoted = false;
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (quoted) {
            if (c == u'"') {
                if (i + 1 < text.size() && text[i + 1] == u'"') {
                    field += u'"';
                    ++i;
                } else {
                    quoted = false;
                }
            } else {
                if (c == u'\n')
                    ++line;
                field += c;
            }
        } else if (c == u',') {
            rec.fields << field;
            field.clear();
            wasQuoted = false;
        } else if (c == u'"' && field.isEmpty() && !wasQuoted) {
            quoted = wasQuoted = true;
            quoteLine = line;
        } else if (c == u'\n' || c == u'\r') {
            if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
                ++i;
            ++line;
            endRecord();
        } else {
            field += c;
        }
    }
    if (quoted)
        throw Error(QStringLiteral("%1: the quote opened on line %2 is not closed.")
                        .arg(fileName)
                        .arg(quoteLine));
    if (!field.isEmpty() || !rec.fields.isEmpty() || wasQuoted)
        endRecord();
    return out;
}

ExportSummary exportInventory(DataModule& dm, const QString& folder) {
    ExportSummary summary;
    summary.folder = QDir(folder).absolutePath();
    for (int k = 0; k < kTables; ++k) {
        auto t = openPrivate(dm, k, QString());
        const QStringList names = t->fieldNames();
        std::vector<bool> isDate;
        for (const QString& n : names)
            isDate.push_back(t->fieldType(n) == 'D');
        // A byte-order mark, so that spreadsheets read the file as UTF-8.
        QByteArray out = "\xEF\xBB\xBF" + encodeRow(names);
        QStringList values(names.size());
        for (t->first(); !t->eof(); t->next()) {
            for (int f = 0; f < int(names.size()); ++f) {
                if (!isDate[size_t(f)]) {
                    values[f] = t->fieldTextAt(f);
                    continue;
                }
                const QDate d = shownDate(t->fieldTextAt(f));
                values[f] = d.isValid() ? d.toString(QStringLiteral("yyyy-MM-dd")) : QString();
            }
            out += encodeRow(values);
            ++summary.rows[size_t(k)];
        }
        const QString path = QDir(summary.folder).filePath(fileName(k));
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(out) != out.size() || !file.commit())
            throw Error(QStringLiteral("Cannot write %1: %2").arg(path, file.errorString()));
    }
    return summary;
}

QString markText(Mark mark) {
    switch (mark) {
    case Mark::New:
        return QStringLiteral("new");
    case Mark::DuplicateAddress:
        return QStringLiteral("duplicate address");
    case Mark::DuplicateId:
        return QStringLiteral("duplicate System ID");
    case Mark::Invalid:
        break;
    }
    return QStringLiteral("invalid");
}

ImportPlan readImport(const QString& chosenFile) {
    ImportPlan plan;
    const QFileInfo chosen(chosenFile);
    plan.folder = chosen.absolutePath();
    const QStringList present = QDir(plan.folder).entryList(QDir::Files);
    QHash<QString, int> byId;
    for (int k = 0; k < kTables; ++k) {
        QString path;
        for (const QString& name : present)
            if (name.compare(fileName(k), Qt::CaseInsensitive) == 0)
                path = QDir(plan.folder).filePath(name);
        // A file of another name stands for the systems file.
        const bool isChosenOther = k == kSystems && [&] {
            for (int j = 0; j < kTables; ++j)
                if (chosen.fileName().compare(fileName(j), Qt::CaseInsensitive) == 0)
                    return false;
            return true;
        }();
        if (isChosenOther)
            path = chosen.absoluteFilePath();
        if (!path.isEmpty())
            readTable(plan, k, path, byId);
    }
    if (plan.filesRead.isEmpty())
        throw Error(QStringLiteral("%1 cannot be read.").arg(chosenFile));
    return plan;
}

void classify(DataModule& dm, ImportPlan& plan) {
    for (Candidate& c : plan.candidates) {
        c.mark = Mark::New;
        c.why.clear();
    }
    for (int k = 0; k < kTables; ++k)
        for (const SourceRow& r : plan.rows[size_t(k)]) {
            Candidate& c = plan.candidates[size_t(r.candidate)];
            if (c.mark == Mark::Invalid)
                continue;
            if (const QString why = rowProblem(k, r); !why.isEmpty()) {
                c.mark = Mark::Invalid;
                c.why = where(k, r.line) + QStringLiteral(": ") + why;
            }
        }
    // What the preview shows of each: the first systems row's user, the first address row's.
    const int first = fieldIndex(kSystems, QStringLiteral("USERFIRST"));
    const int last = fieldIndex(kSystems, QStringLiteral("USERLAST"));
    const int computer = fieldIndex(kIp, QStringLiteral("COMPUTER"));
    for (const SourceRow& r : plan.rows[kSystems]) {
        Candidate& c = plan.candidates[size_t(r.candidate)];
        if (c.user.isEmpty())
            c.user = (r.values[first] + u' ' + r.values[last]).trimmed();
    }
    for (const SourceRow& r : plan.rows[kIp]) {
        Candidate& c = plan.candidates[size_t(r.candidate)];
        if (c.address.isEmpty()) {
            c.address = octetsOf(r).join(u'.');
            c.computer = r.values[computer];
        }
    }

    std::unique_ptr<Table> byId[kTables];
    for (int k = 0; k < kTables; ++k)
        byId[k] = openPrivate(dm, k, kSysId);
    for (Candidate& c : plan.candidates) {
        if (c.mark != Mark::New)
            continue;
        for (int k = 0; k < kTables && c.mark == Mark::New; ++k)
            if (idStored(*byId[k], c.sysId)) {
                c.mark = Mark::DuplicateId;
                c.why = QStringLiteral("System ID %1 is in %2 already")
                            .arg(c.sysId, tableNames()[size_t(k)]);
            }
    }
    auto byAddress = openPrivate(dm, kIp, QStringLiteral("IP"));
    QHash<QString, const SourceRow*> seen;
    for (const SourceRow& r : plan.rows[kIp]) {
        Candidate& c = plan.candidates[size_t(r.candidate)];
        if (c.mark == Mark::Invalid || c.mark == Mark::DuplicateId)
            continue;
        const QStringList octets = octetsOf(r);
        const QString dotted = octets.join(u'.');
        if (addressStored(*byAddress, octets)) {
            if (c.mark == Mark::New)
                c.why = QStringLiteral("%1 is recorded already").arg(dotted);
            c.mark = Mark::DuplicateAddress;
        } else if (const SourceRow* other = seen.value(canonical(octets))) {
            if (c.mark == Mark::New)
                c.why = QStringLiteral("%1 is on %2 as well (System ID %3)")
                            .arg(dotted, where(kIp, other->line),
                                 plan.candidates[size_t(other->candidate)].sysId);
            c.mark = Mark::DuplicateAddress;
        } else {
            seen.insert(canonical(octets), &r);
        }
    }
    for (Candidate& c : plan.candidates) {
        c.ticked = c.tickable();
        if (c.mark == Mark::New && c.rows[kSystems] == 0)
            c.why = QStringLiteral("no row in Systems.csv: its other rows are stored without a "
                                   "system");
    }
}

ImportResult importTicked(DataModule& dm, const ImportPlan& plan, const Step& step) {
    ImportResult result;
    for (const Candidate& c : plan.candidates) {
        if (c.ticked && !c.tickable())
            throw Error(QStringLiteral("Nothing was imported: System ID %1 is marked %2 (%3).")
                            .arg(c.sysId, markText(c.mark), c.why));
        result.systems += c.ticked;
    }
    if (result.systems == 0)
        throw Error(QStringLiteral("No row is ticked: nothing was imported."));
    result.snapshot = snapshots::takeBeforeBulkChange(dm, QStringLiteral("CSV import"));

    std::unique_ptr<Table> tables[kTables];
    for (int k = 0; k < kTables; ++k)
        tables[k] = openPrivate(dm, k, kSysId);
    auto byAddress = openPrivate(dm, kIp, QStringLiteral("IP"));
    // Systems first, as Add New System takes its locks; held until every check is done and
    // every row is in.
    std::optional<TableGroup> groups[kTables];
    for (int k = 0; k < kTables; ++k)
        groups[k].emplace(*tables[k]);

    for (const Candidate& c : plan.candidates)
        for (int k = 0; c.ticked && k < kTables; ++k)
            if (idStored(*tables[k], c.sysId))
                throw Error(QStringLiteral("Nothing was imported: System ID %1 is in %2 now "
                                           "(another user may have added it meanwhile).")
                                .arg(c.sysId, tableNames()[size_t(k)]));
    for (const SourceRow& r : plan.rows[kIp]) {
        const Candidate& c = plan.candidates[size_t(r.candidate)];
        if (c.ticked && addressStored(*byAddress, octetsOf(r)))
            throw Error(QStringLiteral("Nothing was imported: the address %1 (System ID %2) "
                                       "is recorded now (another user may have added it "
                                       "meanwhile).")
                            .arg(octetsOf(r).join(u'.'), c.sysId));
    }

    // Items and address rows before the systems rows: a kill between two commits leaves rows
    // whose system is missing, never a system without the rows it came with.
    const int order[kTables] = {kHardware, kSoftware, kIp, kSystems};
    for (int k : order) {
        Table& t = *tables[k];
        const auto& fields = schemaOf(k).fields;
        const int key = k == kIp ? fieldIndex(kIp, QStringLiteral("IPSTRING")) : -1;
        for (const SourceRow& r : plan.rows[size_t(k)]) {
            if (!plan.candidates[size_t(r.candidate)].ticked)
                continue;
            try {
                t.append();
                for (size_t f = 0; f < fields.size(); ++f)
                    setValue(t, fields[f],
                             int(f) == key && r.values[key].isEmpty() ? octetsOf(r).join(QString())
                                                                      : r.values[qsizetype(f)]);
                t.post();
            } catch (const Error& e) {
                throw Error(QStringLiteral("Nothing was imported: %1: %2")
                                .arg(where(k, r.line), e.message()));
            }
            ++result.rows[size_t(k)];
        }
    }
    if (step)
        step(QStringLiteral("appended"));
    QStringList written;
    for (int k : order) {
        try {
            groups[k]->commit();
        } catch (const Error& e) {
            if (written.isEmpty())
                throw Error(QStringLiteral("Nothing was imported: %1").arg(e.message()));
            throw Error(QStringLiteral("The import stopped after writing the rows of %1: %2 "
                                       "Those rows have no systems row yet; the snapshot %3 "
                                       "taken before the import holds the tables as they were.")
                            .arg(written.join(QStringLiteral(", ")), e.message(), result.snapshot));
        }
        written << tableNames()[size_t(k)];
        if (step)
            step(tableNames()[size_t(k)]);
    }
    return result;
}

} // namespace qn::csv
