#include "table.h"

#include "codepage.h"
#include "engine.h"
#include "error.h"
#include "expression.h"
#include "tablefile.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <algorithm>
#include <cstring>
#include <exception>

namespace qn {
namespace {

std::string rtrimmed(const char* p, size_t n) {
    while (n > 0 && p[n - 1] == ' ')
        --n;
    return std::string(p, n);
}

QString shortDateFormat() {
    QString f = QLocale().dateFormat(QLocale::ShortFormat);
    if (!f.contains(QStringLiteral("yyyy")))
        f.replace(QStringLiteral("yy"), QStringLiteral("yyyy"));
    return f;
}

QDate parseDate(const QString& text) {
    const QString t = text.trimmed();
    for (const QString& f : {QStringLiteral("yyyyMMdd"), QStringLiteral("yyyy-MM-dd"),
                             shortDateFormat(), QStringLiteral("M/d/yyyy")}) {
        QDate d = QDate::fromString(t, f);
        if (d.isValid())
            return d;
    }
    return {};
}

} // namespace

Table::Table(Engine& engine, QObject* parent) : QObject(parent), m_engine(engine) {}

Table::~Table() {
    for (auto& c : m_masterConnections)
        disconnect(c);
    releaseRowLock();
}

// --- properties ------------------------------------------------------------------------------

void Table::setDatabaseName(const QString& name) {
    if (isActive() && name != m_databaseName)
        throw StoreError(
            QStringLiteral("Cannot change the database of the open table %1.").arg(m_tableName));
    m_databaseName = name;
}

void Table::setTableName(const QString& name) {
    // "IP.DBF" and "IP.dbf" name one file, so renaming an open table by case is harmless.
    if (isActive() && name.compare(m_tableName, Qt::CaseInsensitive) != 0)
        throw StoreError(
            QStringLiteral("Cannot change the file of the open table %1.").arg(m_tableName));
    m_tableName = name;
}

void Table::setIndexName(const QString& tag) {
    m_indexName = tag;
    if (isActive())
        applySelection();
}

void Table::setFilter(const QString& text) {
    m_filterText = text;
    if (isActive() && m_filtered)
        applySelection();
}

void Table::setFiltered(bool on) {
    bool changed = on != m_filtered;
    m_filtered = on;
    if (isActive() && changed)
        applySelection();
}

void Table::setMasterSource(Table* master) {
    if (master == this)
        throw StoreError(QStringLiteral("A table cannot be its own master."));
    for (auto& c : m_masterConnections)
        disconnect(c);
    m_master = master;
    if (master) {
        m_masterConnections[0] = connect(master, &Table::rowChanged, this, &Table::masterMoved);
        m_masterConnections[1] = connect(master, &Table::stateChanged, this, &Table::masterMoved);
        m_masterConnections[2] = connect(master, &Table::dataChanged, this, &Table::masterMoved);
    }
    if (isActive())
        applySelection();
}

void Table::setMasterFields(const QString& fields) {
    m_masterFields = fields;
    if (isActive())
        applySelection();
}

// --- open and close --------------------------------------------------------------------------

QString Table::resolvePath() const {
    if (m_tableName.trimmed().isEmpty())
        throw StoreError(QStringLiteral("No table name is set."));
    QString folder =
        m_databaseName.isEmpty() ? QDir::currentPath() : m_engine.aliasPath(m_databaseName);
    QString name = m_tableName;
    if (QFileInfo(name).suffix().isEmpty())
        name += QStringLiteral(".dbf");
    if (QFileInfo(name).isAbsolute()) {
        folder = QFileInfo(name).absolutePath();
        name = QFileInfo(name).fileName();
    }
    QString found = findFileIgnoringCase(folder, name);
    if (found.isEmpty() && !m_alternateName.isEmpty())
        found = findFileIgnoringCase(folder, m_alternateName);
    if (found.isEmpty())
        throw StoreError(
            QStringLiteral("Table does not exist: %1").arg(QDir(folder).filePath(name)));
    return found;
}

void Table::open() {
    if (isActive())
        return;
    m_file = m_engine.openTableFile(resolvePath());
    m_fileConnection = connect(m_file.get(), &TableFile::changed, this, &Table::notifyData);
    m_state = State::Browse;
    try {
        applySelection();
    } catch (...) {
        disconnect(m_fileConnection);
        m_file.reset();
        m_state = State::Inactive;
        throw;
    }
    notifyState();
}

void Table::close() {
    if (!isActive())
        return;
    releaseRowLock();
    disconnect(m_fileConnection);
    m_file.reset();
    m_filter.reset();
    m_tag = -1;
    m_recno = 0;
    m_key.clear();
    m_buffer.clear();
    m_eof = m_bof = true;
    setState(State::Inactive);
    notifyData();
    notifyRow();
}

QString Table::filePath() const {
    return m_file ? m_file->path() : QString();
}

void Table::applySelection() {
    postIfEditing();
    HoldObservers hold(*this); // one "rows changed", not a row move before it
    if (m_state == State::SetKey)
        m_state = State::Browse;
    int tag = -1;
    if (!m_indexName.trimmed().isEmpty()) {
        tag = m_file->findTag(m_indexName);
        if (tag < 0)
            throw StoreError(QStringLiteral("Index tag %1 does not exist in %2.")
                                 .arg(m_indexName, m_file->displayName()));
    }
    std::unique_ptr<Expression> filter;
    if (m_filtered && !m_filterText.trimmed().isEmpty())
        filter = std::make_unique<Expression>(m_filterText, m_file->fields());
    if (filter && filter->type() != ExprValue::Type::Logical)
        throw StoreError(QStringLiteral("The filter \"%1\" is not a condition.").arg(m_filterText));
    int masterField = -1;
    if (!m_masterFields.trimmed().isEmpty()) {
        masterField = m_file->dbf().fieldIndex(m_masterFields.trimmed().toUpper().toStdString());
        if (masterField < 0)
            throw StoreError(QStringLiteral("Master field %1 does not exist in %2.")
                                 .arg(m_masterFields, m_file->displayName()));
    }
    m_tag = tag;
    m_filter = std::move(filter);
    m_masterField = masterField;
    m_masterOnTag = false;
    if (m_tag >= 0 && m_masterField >= 0) {
        const TableFile::Tag& t = m_file->tag(m_tag);
        const DbfField& f = m_file->fields()[size_t(m_masterField)];
        m_masterOnTag = f.type == 'C' && !t.condition && !t.index->descending() &&
                        t.key->text().trimmed().compare(QString::fromStdString(f.name),
                                                        Qt::CaseInsensitive) == 0;
    }
    selectFilterRange();
    updateMasterKey(); // sets m_rangeOnTag
    first();
    notifyData();
}

bool Table::masterActive() const {
    return m_masterField >= 0 && m_master && m_master->isActive();
}

void Table::updateMasterKey() {
    m_masterValue.clear();
    m_rangeKey = m_filterRange ? m_filterKey : std::string();
    m_masterLinked = masterActive();
    // A closed master limits nothing: the tag is walked whole.
    m_rangeOnTag = m_filterRange || (m_masterOnTag && m_masterLinked);
    if (!masterActive())
        return;
    const DbfField& f = m_file->fields()[size_t(m_masterField)];
    const char* rec = m_master->currentRecord();
    int mf = m_master->m_file->dbf().fieldIndex(f.name);
    if (mf < 0)
        throw StoreError(QStringLiteral("Master field %1 does not exist in %2.")
                             .arg(QString::fromStdString(f.name), m_master->m_file->displayName()));
    if (rec) {
        const DbfField& m = m_master->m_file->fields()[size_t(mf)];
        m_masterValue = rtrimmed(rec + m.offset, size_t(m.length));
    }
    if (m_rangeOnTag) {
        m_rangeKey = m_masterValue;
        m_rangeKey.resize(size_t(m_file->tag(m_tag).index->keyLength()), ' ');
    }
}

void Table::masterMoved() {
    if (!isActive() || m_masterField < 0)
        return;
    // The master also signals when it is merely edited or posted; only a new link value (or
    // the master opening or closing) changes which rows this table shows.
    const std::string before = m_masterValue;
    const std::string beforeRange = m_rangeKey;
    const bool wasLinked = m_masterLinked;
    const bool beforeOnTag = m_rangeOnTag;
    updateMasterKey();
    if (m_masterValue == before && masterActive() == wasLinked)
        return;
    m_masterValue = before;
    m_rangeKey = beforeRange;
    m_rangeOnTag = beforeOnTag;
    postIfEditing();
    HoldObservers hold(*this);
    updateMasterKey();
    first();
    notifyData();
}

void Table::setState(State s) {
    if (s == m_state)
        return;
    m_state = s;
    notifyState();
}

void Table::checkActive(const char* what) const {
    if (!isActive())
        throw StoreError(QStringLiteral("Cannot %1: the table %2 is not open.")
                             .arg(QString::fromLatin1(what), m_tableName));
}

// --- rows and order --------------------------------------------------------------------------

bool Table::visible(const char* rec) const {
    if (!DbfFile::isLive(rec))
        return false;
    if (masterActive()) {
        const DbfField& f = m_file->fields()[size_t(m_masterField)];
        if (rtrimmed(rec + f.offset, size_t(f.length)) != m_masterValue)
            return false;
    }
    return !m_filter || m_filter->test(rec);
}

Table::Position Table::positionOf(uint32_t recno, const char* rec) const {
    Position p;
    p.recno = recno;
    if (m_tag >= 0)
        p.key = m_file->keyFor(m_file->tag(m_tag), rec);
    return p;
}

void Table::moveTo(const Position& p) {
    m_recno = p.recno;
    m_key = p.key;
}

template <class F> auto Table::readChecked(F&& step, bool continuing) {
    const auto kind = continuing ? TableFile::Step::Continuing : TableFile::Step::Fresh;
    try {
        return m_file->read(step, kind);
    } catch (const IndexMismatch& found) {
        m_file->mend(found);
    }
    return m_file->read(step, kind);
}

// Finds the nearest visible row from a position, in the current order.
bool Table::scanFrom(Position from, Dir dir, bool inclusive, Position& found) {
    DbfFile& dbf = m_file->dbf();
    if (m_tag < 0) {
        int64_t r = from.recno;
        if (!inclusive)
            r += dir == Dir::Forward ? 1 : -1;
        for (; r >= 1 && r <= int64_t(dbf.recordCount()); r += dir == Dir::Forward ? 1 : -1) {
            ++counters().rowsRead;
            if (visible(dbf.record(uint32_t(r)))) {
                found = {uint32_t(r), {}};
                return true;
            }
        }
        return false;
    }
    MdxTag& tag = *m_file->tag(m_tag).index;
    MdxTag::Entry e;
    bool have;
    if (dir == Dir::Forward)
        have = inclusive ? tag.seek(from.key, from.recno, e) : tag.next(from.key, from.recno, e);
    else
        have = inclusive
                   ? tag.prior(from.key, from.recno == UINT32_MAX ? from.recno : from.recno + 1, e)
                   : tag.prior(from.key, from.recno, e);
    while (have) {
        if (m_rangeOnTag && e.key != m_rangeKey)
            return false;
        ++counters().rowsRead;
        if (visible(m_file->follow(m_file->tag(m_tag), e))) {
            found = {e.recno, e.key};
            return true;
        }
        std::string key = e.key;
        have = dir == Dir::Forward ? tag.next(key, e.recno, e) : tag.prior(key, e.recno, e);
    }
    return false;
}

void Table::first() {
    checkActive("move");
    postIfEditing();
    Position found;
    bool ok = readChecked([&] {
        if (m_tag >= 0 && !m_rangeOnTag) {
            MdxTag::Entry e;
            return m_file->tag(m_tag).index->first(e) &&
                   scanFrom({e.recno, e.key}, Dir::Forward, true, found);
        }
        Position start;
        start.recno = m_tag >= 0 ? 0 : 1;
        start.key = m_rangeKey;
        return scanFrom(start, Dir::Forward, true, found);
    });
    if (ok)
        moveTo(found);
    else
        moveTo({});
    m_bof = true;
    m_eof = !ok;
    notifyRow();
}

void Table::last() {
    checkActive("move");
    postIfEditing();
    Position found;
    bool ok = readChecked([&] {
        if (m_tag >= 0 && !m_rangeOnTag) {
            MdxTag::Entry e;
            return m_file->tag(m_tag).index->last(e) &&
                   scanFrom({e.recno, e.key}, Dir::Backward, true, found);
        }
        if (m_tag >= 0)
            return scanFrom({UINT32_MAX, m_rangeKey}, Dir::Backward, false, found);
        return scanFrom({m_file->dbf().recordCount(), {}}, Dir::Backward, true, found);
    });
    if (ok)
        moveTo(found);
    else
        moveTo({});
    m_eof = true;
    m_bof = !ok;
    notifyRow();
}

void Table::next() {
    checkActive("move");
    postIfEditing();
    Position found;
    const auto step = [&] { return scanFrom({m_recno, m_key}, Dir::Forward, false, found); };
    if (m_recno != 0 && readChecked(step, true)) {
        moveTo(found);
        m_bof = m_eof = false;
        notifyRow();
    } else {
        m_eof = true;
    }
}

void Table::prior() {
    checkActive("move");
    postIfEditing();
    Position found;
    const auto step = [&] { return scanFrom({m_recno, m_key}, Dir::Backward, false, found); };
    if (m_recno != 0 && readChecked(step, true)) {
        moveTo(found);
        m_bof = m_eof = false;
        notifyRow();
    } else {
        m_bof = true;
    }
}

bool Table::isEmpty() const {
    return !isActive() || (m_recno == 0 && m_state != State::Insert);
}

int Table::recordCount() {
    checkActive("count rows");
    return readChecked([&] { return countRows(); });
}

int Table::countRows() {
    if (!m_filter && !masterActive() &&
        (m_tag < 0 || (!m_file->tag(m_tag).index->unique() && !m_file->tag(m_tag).condition)))
        return static_cast<int>(m_file->liveCount());
    int n = 0;
    if (m_tag >= 0 &&
        (m_rangeOnTag || m_file->tag(m_tag).index->unique() || m_file->tag(m_tag).condition)) {
        Position p, found;
        bool ok;
        if (m_rangeOnTag) {
            ok = scanFrom({0, m_rangeKey}, Dir::Forward, true, found);
        } else {
            MdxTag::Entry e;
            ok = m_file->tag(m_tag).index->first(e) &&
                 scanFrom({e.recno, e.key}, Dir::Forward, true, found);
        }
        while (ok) {
            ++n;
            p = found;
            ok = scanFrom(p, Dir::Forward, false, found);
        }
        return n;
    }
    DbfFile& dbf = m_file->dbf();
    for (uint32_t r = 1; r <= dbf.recordCount(); ++r)
        n += visible(dbf.record(r)) ? 1 : 0;
    return n;
}

// --- fields ----------------------------------------------------------------------------------

int Table::fieldIndexOrThrow(const QString& name) const {
    if (!m_file)
        throw StoreError(QStringLiteral("Cannot use field %1: the table %2 is not open.")
                             .arg(name, m_tableName));
    // Field names are ASCII; compared in place because this runs for every field access.
    const QStringView wanted = QStringView(name).trimmed();
    const std::vector<DbfField>& fields = m_file->fields();
    int i = -1;
    for (size_t k = 0; k < fields.size() && i < 0; ++k)
        if (QLatin1String(fields[k].name.data(), qsizetype(fields[k].name.size()))
                .compare(wanted, Qt::CaseInsensitive) == 0)
            i = int(k);
    if (i < 0)
        throw StoreError(
            QStringLiteral("Field %1 does not exist in %2.").arg(name, m_file->displayName()));
    return i;
}

QStringList Table::fieldNames() const {
    QStringList out;
    if (m_file)
        for (const DbfField& f : m_file->fields())
            out << QString::fromStdString(f.name);
    return out;
}

bool Table::hasField(const QString& name) const {
    return m_file && m_file->dbf().fieldIndex(name.trimmed().toUpper().toStdString()) >= 0;
}

int Table::fieldWidth(const QString& name) const {
    return m_file->fields()[size_t(fieldIndexOrThrow(name))].length;
}

char Table::fieldType(const QString& name) const {
    return m_file->fields()[size_t(fieldIndexOrThrow(name))].type;
}

const char* Table::currentRecord() const {
    if (!m_file)
        return nullptr;
    if (m_state == State::Edit || m_state == State::Insert)
        return m_buffer.data();
    if (m_recno == 0 || m_recno > m_file->dbf().recordCount())
        return nullptr;
    return m_file->dbf().record(m_recno);
}

QString Table::fieldText(const QString& name) const {
    int i = fieldIndexOrThrow(name);
    const char* rec = m_state == State::SetKey ? m_buffer.data() : currentRecord();
    if (!rec)
        return {};
    return textOf(m_file->fields()[size_t(i)], rec);
}

QString Table::fieldTextAt(int field) const {
    if (!m_file || field < 0 || field >= int(m_file->fields().size()))
        throw StoreError(
            QStringLiteral("Field %1 does not exist in %2.").arg(field).arg(m_tableName));
    const char* rec = m_state == State::SetKey ? m_buffer.data() : currentRecord();
    return rec ? textOf(m_file->fields()[size_t(field)], rec) : QString();
}

QString Table::textOf(const DbfField& f, const char* rec) {
    std::string raw = rtrimmed(rec + f.offset, size_t(f.length));
    switch (f.type) {
    case 'D': {
        QDate d = QDate::fromString(QString::fromLatin1(raw.c_str()), QStringLiteral("yyyyMMdd"));
        return d.isValid() ? QLocale().toString(d, shortDateFormat()) : QString();
    }
    case 'L': {
        char c = raw.empty() ? ' ' : raw[0];
        if (c == 'T' || c == 't' || c == 'Y' || c == 'y')
            return QStringLiteral("True");
        if (c == 'F' || c == 'f' || c == 'N' || c == 'n')
            return QStringLiteral("False");
        return {};
    }
    case 'N': {
        size_t s = 0;
        while (s < raw.size() && raw[s] == ' ')
            ++s;
        return QString::fromLatin1(raw.c_str() + s);
    }
    default:
        return cp1252::decode(raw);
    }
}

char* Table::editableRecord(const char* what) {
    if (m_state == State::Edit || m_state == State::Insert || m_state == State::SetKey)
        return m_buffer.data();
    if (!isActive())
        throw StoreError(QStringLiteral("Cannot %1: the table %2 is not open.")
                             .arg(QString::fromLatin1(what), m_tableName));
    throw StoreError(QStringLiteral("Cannot %1: the table %2 is not in edit or insert mode.")
                         .arg(QString::fromLatin1(what), m_file->displayName()));
}

void Table::writeField(char* rec, int index, const QString& value) {
    const DbfField& f = m_file->fields()[size_t(index)];
    auto name = [&f] { return QString::fromStdString(f.name); }; // only for messages
    std::string bytes;
    switch (f.type) {
    case 'C': {
        auto encoded = cp1252::encode(value);
        if (!encoded)
            throw StoreError(
                QStringLiteral(
                    "Field %1 cannot hold the character '%2': it is not in code page 1252.")
                    .arg(name(), cp1252::firstUnrepresentable(value)));
        if (int(encoded->size()) > f.length)
            throw StoreError(QStringLiteral("Field %1 holds at most %2 characters; \"%3\" has %4.")
                                 .arg(name())
                                 .arg(f.length)
                                 .arg(value)
                                 .arg(encoded->size()));
        bytes = std::move(*encoded);
        break;
    }
    case 'N': {
        QString t = value.trimmed();
        if (!t.isEmpty()) {
            bool ok = false;
            double v = QLocale::c().toDouble(t, &ok);
            if (!ok)
                throw StoreError(QStringLiteral("Field %1 needs a number; \"%2\" is not one.")
                                     .arg(name(), value));
            QString s = QString::number(v, 'f', f.decimals);
            if (s.size() > f.length)
                throw StoreError(
                    QStringLiteral("Field %1 holds at most %2 characters; %3 does not fit.")
                        .arg(name())
                        .arg(f.length)
                        .arg(s));
            bytes = s.rightJustified(f.length, u' ').toStdString();
        }
        break;
    }
    case 'D': {
        if (!value.trimmed().isEmpty()) {
            QDate d = parseDate(value);
            if (!d.isValid() || d.year() < 1 || d.year() > 9999)
                throw StoreError(
                    QStringLiteral("Field %1 needs a date; \"%2\" is not one.").arg(name(), value));
            bytes = d.toString(QStringLiteral("yyyyMMdd")).toStdString();
        }
        break;
    }
    default: {
        QString t = value.trimmed().toUpper();
        if (t == "T" || t == "TRUE" || t == "Y" || t == "YES")
            bytes.push_back('T');
        else if (t == "F" || t == "FALSE" || t == "N" || t == "NO")
            bytes.push_back('F');
        else if (!t.isEmpty())
            throw StoreError(QStringLiteral("Field %1 needs True or False; \"%2\" is neither.")
                                 .arg(name(), value));
    }
    }
    // Left-aligned, blank-padded to the field width.
    char* field = rec + f.offset;
    const size_t used = std::min(bytes.size(), size_t(f.length));
    std::memcpy(field, bytes.data(), used);
    std::memset(field + used, ' ', size_t(f.length) - used);
}

void Table::setFieldText(const QString& name, const QString& value) {
    int i = fieldIndexOrThrow(name);
    writeField(editableRecord("change a field"), i, value);
    if (m_state != State::SetKey)
        notifyRow();
}

void Table::setFieldDateTime(const QString& name, const QDateTime& value) {
    int i = fieldIndexOrThrow(name);
    char* rec = editableRecord("change a field");
    const DbfField& f = m_file->fields()[size_t(i)];
    if (f.type == 'D')
        writeField(rec, i, value.date().toString(QStringLiteral("yyyyMMdd")));
    else if (f.type == 'C')
        writeField(rec, i, QLocale().toString(value, QLocale::ShortFormat));
    else
        throw StoreError(QStringLiteral("Field %1 cannot hold a date and time.").arg(name));
    if (m_state != State::SetKey)
        notifyRow();
}

void Table::setFieldInteger(const QString& name, qint64 value) {
    int i = fieldIndexOrThrow(name);
    char t = m_file->fields()[size_t(i)].type;
    if (t != 'C' && t != 'N')
        throw StoreError(QStringLiteral("Field %1 cannot hold a number.").arg(name));
    writeField(editableRecord("change a field"), i, QString::number(value));
    if (m_state != State::SetKey)
        notifyRow();
}

void Table::clearField(const QString& name) {
    setFieldText(name, QString());
}

// --- editing ---------------------------------------------------------------------------------

void Table::postIfEditing() {
    if (m_state == State::Edit || m_state == State::Insert)
        post();
}

void Table::append() {
    checkActive("append");
    postIfEditing();
    if (m_state == State::SetKey)
        setState(State::Browse);
    m_savedRecno = m_recno;
    m_savedKey = m_key;
    m_buffer = m_file->dbf().blankRecord();
    setState(State::Insert);
    notifyRow();
}

void Table::edit() {
    checkActive("edit");
    if (m_state == State::Edit || m_state == State::Insert)
        return;
    if (m_state == State::SetKey)
        setState(State::Browse);
    const char* rec = currentRecord();
    if (!rec) {
        append();
        return;
    }
    const uint32_t recno = m_recno;
    const size_t length = size_t(m_file->dbf().recordLength());
    const std::string shown(rec, length);
    m_file->lockRecord(recno);
    try {
        // Another user may have changed or deleted the row since it was read here.
        m_file->validate();
        DbfFile& dbf = m_file->dbf();
        dbf.reloadRecord(recno);
        rec = recno <= dbf.recordCount() ? dbf.record(recno) : nullptr;
        if (!rec || !DbfFile::isLive(rec))
            throw StoreError(QStringLiteral("The current row of %1 has been deleted.")
                                 .arg(m_file->displayName()));
        m_buffer.assign(rec, length);
    } catch (...) {
        m_file->unlockRecord(recno);
        throw;
    }
    m_lockedRecno = recno;
    const bool reread = m_buffer != shown;
    if (reread)
        moveTo(positionOf(recno, m_buffer.data()));
    setState(State::Edit);
    if (reread)
        notifyRow();
}

void Table::releaseRowLock() {
    if (m_lockedRecno != 0 && m_file)
        m_file->unlockRecord(m_lockedRecno);
    m_lockedRecno = 0;
}

void Table::post() {
    if (m_state != State::Edit && m_state != State::Insert)
        return;
    const auto hooks = m_postHooks; // a hook may remove itself
    for (const auto& [id, fn] : hooks)
        fn();
    emit aboutToPost();
    if (m_state == State::Insert) {
        uint32_t recno = m_file->append(m_buffer.data());
        moveTo(positionOf(recno, m_buffer.data()));
        m_bof = m_eof = false;
    } else {
        m_file->update(m_recno, m_buffer.data());
        releaseRowLock();
        moveTo(positionOf(m_recno, m_buffer.data()));
    }
    m_buffer.clear();
    setState(State::Browse);
    notifyRow();
}

int Table::addPostHook(std::function<void()> fn) {
    m_postHooks.emplace_back(m_nextHookId, std::move(fn));
    return m_nextHookId++;
}

void Table::removePostHook(int id) {
    std::erase_if(m_postHooks, [id](const auto& h) { return h.first == id; });
}

void Table::cancel() {
    if (m_state == State::Insert) {
        m_recno = m_savedRecno;
        m_key = m_savedKey;
    }
    if (m_state == State::Edit || m_state == State::Insert || m_state == State::SetKey) {
        releaseRowLock();
        m_buffer.clear();
        setState(State::Browse);
        notifyRow();
    }
}

void Table::remove() {
    checkActive("delete");
    if (m_state == State::Insert) {
        cancel();
        return;
    }
    if (m_state == State::Edit || m_state == State::SetKey)
        cancel();
    if (m_recno == 0)
        throw StoreError(
            QStringLiteral("Cannot delete: %1 has no current row.").arg(m_file->displayName()));
    Position at{m_recno, m_key};
    m_file->remove(m_recno);
    Position found;
    if (readChecked([&] { return scanFrom(at, Dir::Forward, false, found); })) {
        moveTo(found);
        m_eof = false;
    } else if (readChecked([&] { return scanFrom(at, Dir::Backward, false, found); })) {
        moveTo(found);
        m_eof = true;
    } else {
        moveTo({});
        m_eof = m_bof = true;
    }
    notifyRow();
}

// --- lookups ---------------------------------------------------------------------------------

void Table::setKey() {
    checkActive("search");
    postIfEditing();
    m_buffer = m_file->dbf().blankRecord();
    setState(State::SetKey);
}

bool Table::gotoKey() {
    return seekNearest(true);
}

bool Table::gotoNearest() {
    return seekNearest(false);
}

bool Table::seekNearest(bool exact) {
    if (m_state != State::SetKey)
        throw StoreError(
            QStringLiteral("Cannot search %1: no search key was set.").arg(m_tableName));
    std::string keyRecord = std::move(m_buffer);
    m_buffer.clear();
    setState(State::Browse);
    if (m_tag < 0)
        throw StoreError(QStringLiteral("Cannot search %1 by key: no index tag is selected.")
                             .arg(m_file->displayName()));
    ++counters().keyLookups;
    const TableFile::Tag& tag = m_file->tag(m_tag);
    std::string key = m_file->keyFor(tag, keyRecord.data());
    if (m_rangeOnTag) {
        // Range tags are text keys, ordered bytewise.
        if (exact ? key != m_rangeKey : key > m_rangeKey)
            return false;
        key = std::max(key, m_rangeKey);
    }
    MdxTag::Entry e;
    bool found = readChecked([&] {
        bool have = tag.index->seek(key, 0, e);
        while (have && (!exact || e.key == key)) {
            if (m_rangeOnTag && e.key != m_rangeKey)
                return false;
            ++counters().rowsRead;
            if (visible(m_file->follow(tag, e)))
                return true;
            std::string k = e.key;
            have = tag.index->next(k, e.recno, e);
        }
        return false;
    });
    if (!found)
        return false;
    moveTo({e.recno, e.key});
    m_bof = m_eof = false;
    notifyRow();
    return true;
}

bool Table::locate(const QString& field, const QString& value) {
    checkActive("search");
    postIfEditing();
    const DbfField& f = m_file->fields()[size_t(fieldIndexOrThrow(field))];
    auto encoded = cp1252::encode(value);
    if (!encoded)
        return false;
    std::string target = rtrimmed(encoded->data(), encoded->size());
    for (char& c : target)
        c = static_cast<char>(cp1252::toUpper(static_cast<unsigned char>(c)));
    if (int(target.size()) > f.length)
        return false;
    auto matches = [&](const char* rec) {
        std::string v = rtrimmed(rec + f.offset, size_t(f.length));
        if (v.size() != target.size())
            return false;
        for (size_t i = 0; i < v.size(); ++i)
            if (cp1252::toUpper(static_cast<unsigned char>(v[i])) !=
                static_cast<unsigned char>(target[i]))
                return false;
        return true;
    };
    DbfFile& dbf = m_file->dbf();
    Position found;
    bool hit = readChecked([&] {
        Position p;
        bool ok;
        if (m_tag >= 0 && !m_rangeOnTag) {
            MdxTag::Entry e;
            ok = m_file->tag(m_tag).index->first(e) &&
                 scanFrom({e.recno, e.key}, Dir::Forward, true, found);
        } else {
            ok = scanFrom({m_tag >= 0 ? 0u : 1u, m_rangeKey}, Dir::Forward, true, found);
        }
        while (ok) {
            if (matches(dbf.record(found.recno)))
                return true;
            p = found;
            ok = scanFrom(p, Dir::Forward, false, found);
        }
        return false;
    });
    if (!hit)
        return false;
    moveTo(found);
    m_bof = m_eof = false;
    notifyRow();
    return true;
}

// --- observers, bookmarks, locks -------------------------------------------------------------

Table::Counters& Table::counters() {
    static Counters c;
    return c;
}

Table::HoldObservers::HoldObservers(Table& table)
    : m_table(&table), m_unwinding(std::uncaught_exceptions()) {
    if (table.m_holds++ == 0) {
        table.m_heldState = table.m_state;
        table.m_pendingRow = table.m_pendingData = false;
    }
}

Table::HoldObservers::~HoldObservers() noexcept(false) {
    if (!m_table)
        return;
    if (std::uncaught_exceptions() == m_unwinding) {
        m_table->releaseHold(); // an observer's refusal reaches the handler
        return;
    }
    try {
        m_table->releaseHold();
    } catch (...) { // already unwinding: the first error is the one to report
    }
}

void Table::releaseHold() {
    if (m_holds == 0 || --m_holds > 0)
        return;
    const bool state = m_state != m_heldState;
    const bool data = m_pendingData;
    const bool row = m_pendingRow;
    m_pendingRow = m_pendingData = false;
    if (state)
        emit stateChanged(m_state);
    if (data)
        emit dataChanged();
    else if (row)
        emit rowChanged();
}

void Table::notifyRow() {
    if (m_holds > 0)
        m_pendingRow = true;
    else
        emit rowChanged();
}

void Table::notifyData() {
    if (m_holds > 0)
        m_pendingData = true;
    else
        emit dataChanged();
}

void Table::notifyState() {
    if (m_holds == 0)
        emit stateChanged(m_state);
}

namespace {

// A filter made of "FIELD = 'value'" conditions joined by AND, as the windows build them:
// the values by upper-case field name. False for any other filter.
bool equalities(const QString& text, std::vector<std::pair<QString, QString>>& out) {
    const qsizetype n = text.size();
    qsizetype i = 0;
    const auto skip = [&] {
        while (i < n && text[i].isSpace())
            ++i;
    };
    for (;;) {
        skip();
        const qsizetype s = i;
        while (i < n && (text[i].isLetterOrNumber() || text[i] == u'_'))
            ++i;
        if (i == s)
            return false;
        const QString field = text.mid(s, i - s).toUpper();
        skip();
        if (i >= n || text[i] != u'=')
            return false;
        ++i;
        if (i < n && text[i] == u'=')
            ++i;
        skip();
        if (i >= n || (text[i] != u'\'' && text[i] != u'"' && text[i] != u'['))
            return false;
        const QChar close = text[i] == u'[' ? QChar(u']') : text[i];
        const qsizetype e = text.indexOf(close, i + 1);
        if (e < 0)
            return false;
        out.emplace_back(field, text.mid(i + 1, e - i - 1));
        i = e + 1;
        skip();
        if (i >= n)
            return true;
        if (i + 3 >= n || text.mid(i, 3).compare(QLatin1String("and"), Qt::CaseInsensitive) != 0 ||
            !text[i + 3].isSpace())
            return false;
        i += 3;
    }
}

} // namespace

// A filter that fixes every field of the current tag's key reads only that key's rows: the
// search windows hand System Info one system (or one user's) this way.
void Table::selectFilterRange() {
    m_filterRange = false;
    m_filterKey.clear();
    if (m_tag < 0 || m_masterField >= 0 || !m_filter)
        return;
    std::vector<std::pair<QString, QString>> conds;
    if (!equalities(m_filterText, conds))
        return;
    const TableFile::Tag& t = m_file->tag(m_tag);
    if (t.condition || t.index->descending())
        return;
    std::string key;
    for (const QString& part : t.key->text().split(u'+')) {
        const QString name = part.trimmed().toUpper();
        const int fi = m_file->dbf().fieldIndex(name.toStdString());
        if (fi < 0)
            return;
        const DbfField& f = m_file->fields()[size_t(fi)];
        auto c = std::find_if(conds.begin(), conds.end(),
                              [&](const auto& p) { return p.first == name; });
        if (f.type != 'C' || c == conds.end())
            return;
        auto bytes = cp1252::encode(c->second);
        if (!bytes || int(bytes->size()) > f.length)
            return;
        bytes->resize(size_t(f.length), ' ');
        key += *bytes;
    }
    if (int(key.size()) != t.index->keyLength())
        return;
    m_filterKey = std::move(key);
    m_filterRange = true;
}

bool Table::gotoBookmark(const Bookmark& at) {
    checkActive("move");
    postIfEditing();
    DbfFile& dbf = m_file->dbf();
    const bool ok = at.recno != 0 && m_file->read([&] {
        if (at.recno > dbf.recordCount())
            return false;
        ++counters().rowsRead;
        const char* rec = dbf.record(at.recno);
        return visible(rec) && (m_tag < 0 || m_file->keyFor(m_file->tag(m_tag), rec) == at.key);
    });
    if (!ok)
        return false;
    moveTo({at.recno, at.key});
    m_bof = m_eof = false;
    notifyRow();
    return true;
}

std::vector<Table::Bookmark> Table::rowsAfter(const Bookmark* after, int count) {
    checkActive("read rows");
    return m_file->read([&] {
        std::vector<Bookmark> out;
        Position found;
        bool ok;
        if (after) {
            ok = scanFrom({after->recno, after->key}, Dir::Forward, false, found);
        } else if (m_tag >= 0 && !m_rangeOnTag) {
            MdxTag::Entry e;
            ok = m_file->tag(m_tag).index->first(e) &&
                 scanFrom({e.recno, e.key}, Dir::Forward, true, found);
        } else {
            ok = scanFrom({m_tag >= 0 ? 0u : 1u, m_rangeKey}, Dir::Forward, true, found);
        }
        while (ok && int(out.size()) < count) {
            out.push_back({found.recno, found.key});
            if (int(out.size()) < count)
                ok = scanFrom(Position(found), Dir::Forward, false, found);
        }
        return out;
    });
}

QStringList Table::storedTexts(uint32_t recno, const std::vector<int>& fields) {
    checkActive("read a row");
    DbfFile& dbf = m_file->dbf();
    return m_file->read([&] {
        QStringList out;
        if (recno == 0 || recno > dbf.recordCount())
            return out;
        ++counters().rowsRead;
        const char* rec = dbf.record(recno);
        for (int f : fields)
            out << textOf(m_file->fields()[size_t(f)], rec);
        return out;
    });
}

bool Table::rowLockedElsewhere() {
    if (!isActive() || m_recno == 0 || m_lockedRecno == m_recno)
        return false;
    return m_file->recordLockedElsewhere(m_recno);
}

} // namespace qn
