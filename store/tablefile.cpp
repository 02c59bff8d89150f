#include "tablefile.h"

#include "engine.h"
#include "error.h"
#include "mounts.h"
#include "schema.h"

#include <QDate>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <map>
#include <optional>
#include <time.h>
#include <unistd.h>
#include <utility>

namespace qn {

StoreNotices& StoreNotices::instance() {
    static StoreNotices notices;
    return notices;
}

void StoreNotices::post(const QString& text) {
    if (m_pending.size() >= 50)
        m_pending.removeFirst();
    m_pending.append(text);
    emit notice(text);
}

QStringList StoreNotices::take() {
    return std::exchange(m_pending, {});
}

namespace {

constexpr unsigned char kGroupMark = 2; // header byte 14 while a group of writes is written

std::string bcdKey(double value) {
    std::string key(12, '\0');
    auto* k = reinterpret_cast<unsigned char*>(key.data());
    bool negative = value < 0;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.10f", std::fabs(value));
    std::string s(buf);
    size_t dot = s.find('.');
    std::string intPart = s.substr(0, dot), frac = s.substr(dot + 1);
    while (!intPart.empty() && intPart[0] == '0')
        intPart.erase(0, 1);
    while (!frac.empty() && frac.back() == '0')
        frac.pop_back();
    std::string digits = intPart + frac;
    if (intPart.empty()) { // pure fraction: leading zeros of the fraction stay as digits
        if (frac.empty())
            digits.clear();
    }
    digits = digits.substr(0, 20);
    k[0] = static_cast<unsigned char>(52 + intPart.size());
    k[1] = static_cast<unsigned char>((digits.size() << 2) | 0x01 | (negative ? 0x80 : 0));
    for (size_t i = 0; i < digits.size(); ++i)
        k[2 + i / 2] |= static_cast<unsigned char>((digits[i] - '0') << (i % 2 == 0 ? 4 : 0));
    return key;
}

std::string dateKey(const std::string& yyyymmdd) {
    double julian = 0;
    QDate d = QDate::fromString(QString::fromLatin1(yyyymmdd.data(), qsizetype(yyyymmdd.size())),
                                QStringLiteral("yyyyMMdd"));
    if (d.isValid())
        julian = double(d.toJulianDay());
    std::string key(8, '\0');
    std::memcpy(key.data(), &julian, 8);
    return key;
}

} // namespace

// Holds the table's write lock for one write and keeps this view current. Nested inside
// lockTable() it takes nothing new: the view was brought up to date when that lock was taken
// and every write since was this object's.
class TableFile::WriteScope {
public:
    explicit WriteScope(TableFile& f) : m_f(f), m_exceptions(std::uncaught_exceptions()) {
        f.checkWritable();
        const bool outer = !f.m_dbfLocks.holdsExclusive(lockpos::header());
        if (!f.m_dbfLocks.lock(lockpos::header(), FileLocks::Mode::Exclusive, lockTimeout()))
            f.busy();
        ++f.m_depth;
        try {
            if (outer || f.m_suspect)
                f.refreshUnderLock();
        } catch (...) {
            release();
            throw;
        }
    }
    ~WriteScope() {
        if (std::uncaught_exceptions() > m_exceptions)
            m_f.m_suspect = true;
        release();
    }
    WriteScope(const WriteScope&) = delete;
    WriteScope& operator=(const WriteScope&) = delete;

private:
    void release() {
        m_f.m_dbfLocks.unlock(lockpos::header(), FileLocks::Mode::Exclusive);
        --m_f.m_depth;
    }

    TableFile& m_f;
    int m_exceptions;
};

TableFile::TableFile(const QString& dbfPath) {
    m_dbf.open(dbfPath, true);
    m_dbfLocks.attach(m_dbf.fd(), dbfPath);
    if (m_dbf.isWritable() && m_dbf.syncWrites())
        m_unsafeMount = mounts::refusal(QFileInfo(dbfPath).absolutePath());
    if (provideIndex()) {
        settleOnOpen();
        return;
    }
    if (m_dbf.productionIndexFlag()) {
        QFileInfo info(dbfPath);
        QString mdx = findFileIgnoringCase(info.absolutePath(), info.completeBaseName() + ".mdx");
        if (mdx.isEmpty())
            throw StoreError(QStringLiteral("The index file %1.mdx of table %2 is missing.")
                                 .arg(info.completeBaseName(), dbfPath));
        try {
            openIndex(mdx);
        } catch (const StoreError&) {
            // Perhaps caught half-way through another process's write; under a shared lock
            // the index is whole, and a fault then is real.
            m_tags.clear();
            m_mdx.close();
            lockShared();
            try {
                m_dbf.refresh(true);
                openIndex(mdx);
            } catch (...) {
                unlockShared();
                throw;
            }
            unlockShared();
        }
        checkOnOpen();
    }
    settleOnOpen();
}

TableFile::~TableFile() = default;

QString TableFile::displayName() const {
    return QFileInfo(m_dbf.path()).fileName();
}

void TableFile::openIndex(const QString& mdxPath) {
    m_mdx.open(mdxPath, m_dbf.isWritable());
    m_mdx.setSyncWrites(m_dbf.syncWrites());
    m_mdx.baseline(m_dbf.changeStamp(), m_dbf.headerCount());
    for (int i = 0; i < m_mdx.tagCount(); ++i) {
        MdxTag& t = m_mdx.tag(i);
        Tag tag;
        tag.index = &t;
        try {
            tag.key =
                std::make_unique<Expression>(QString::fromLatin1(t.expression().c_str()), fields());
            if (!t.forExpression().empty())
                tag.condition = std::make_unique<Expression>(
                    QString::fromLatin1(t.forExpression().c_str()), fields());
        } catch (const StoreError& e) {
            throw StoreError(QStringLiteral("Index tag %1 in %2 cannot be used: %3")
                                 .arg(QString::fromStdString(t.name()), mdxPath, e.message()));
        }
        char want = tag.key->type() == ExprValue::Type::Number ? 'N'
                    : tag.key->type() == ExprValue::Type::Date ? 'D'
                                                               : 'C';
        if (want != t.keyType())
            throw StoreError(QStringLiteral("Index tag %1 in %2 does not match its expression.")
                                 .arg(QString::fromStdString(t.name()), mdxPath));
        m_tags.push_back(std::move(tag));
    }
}

int TableFile::findTag(const QString& name) const {
    std::string n = name.trimmed().toUpper().toStdString();
    for (size_t i = 0; i < m_tags.size(); ++i)
        if (m_tags[i].index->name() == n)
            return static_cast<int>(i);
    return -1;
}

std::string TableFile::keyFor(const Tag& tag, const char* record) const {
    ExprValue v = tag.key->evaluate(record);
    switch (tag.index->keyType()) {
    case 'N':
        return bcdKey(v.number);
    case 'D':
        return dateKey(v.text);
    default: {
        std::string k = std::move(v.text);
        k.resize(size_t(tag.index->keyLength()), ' ');
        return k;
    }
    }
}

bool TableFile::inTag(const Tag& tag, const char* record) const {
    return !tag.condition || tag.condition->test(record);
}

void TableFile::addKey(Tag& tag, const char* record, uint32_t recno) {
    if (!inTag(tag, record))
        return;
    std::string key = keyFor(tag, record);
    if (tag.index->unique()) {
        MdxTag::Entry e;
        if (tag.index->seek(key, 0, e) && e.key == key) {
            if (e.recno < recno)
                return;
            tag.index->remove(e.key, e.recno);
        }
    }
    tag.index->insert(key, recno);
}

// For a row that may be in the tag already (a writer stopped after its index changes).
void TableFile::addKeyOnce(Tag& tag, const char* record, uint32_t recno) {
    if (!inTag(tag, record))
        return;
    MdxTag::Entry e;
    const std::string key = keyFor(tag, record);
    if (tag.index->seek(key, recno, e) && e.key == key && e.recno == recno)
        return;
    addKey(tag, record, recno);
}

void TableFile::dropKey(Tag& tag, const std::string& key, uint32_t recno) {
    if (!tag.index->remove(key, recno) || !tag.index->unique())
        return;
    // The key stays in a unique tag while any live row still has it.
    for (uint32_t r = 1; r <= m_dbf.recordCount(); ++r) {
        if (r == recno)
            continue;
        const char* rec = m_dbf.record(r);
        if (DbfFile::isLive(rec) && inTag(tag, rec) && keyFor(tag, rec) == key) {
            tag.index->insert(key, r);
            return;
        }
    }
}

// The journal names the table stamp and count that the publish() right after writes, and the
// rows rewritten in place since the last journal.
void TableFile::flushIndex(const std::vector<uint32_t>& rows) {
    if (!m_mdx.isOpen())
        return;
    std::vector<uint32_t> named = std::exchange(m_groupRows, {});
    named.insert(named.end(), rows.begin(), rows.end());
    m_mdx.flush(m_dbf.changeStamp() + 1, m_dbf.recordCount(), named);
}

void TableFile::checkWritable() const {
    if (!m_dbf.isWritable())
        throw StoreError(QStringLiteral("Cannot write %1: the table is read-only.").arg(path()));
    if (!m_unsafeMount.isEmpty())
        throw StoreError(m_unsafeMount);
}

// The other side of a change made elsewhere: the index blocks (and rows) the index's journal
// names, or everything when it cannot vouch for the state just read.
void TableFile::syncCaches() {
    if (!m_mdx.isOpen()) {
        m_dbf.dropCache();
        return;
    }
    const MdxFile::Changes c = m_mdx.refresh(m_dbf.changeStamp(), m_dbf.headerCount());
    if (c.everything)
        m_dbf.dropCache();
    else
        m_dbf.dropRecords(c.rows);
}

bool TableFile::indexUnfinished() const {
    return m_dbf.incomplete() ||
           (m_mdx.isOpen() && m_mdx.unfinished(m_dbf.changeStamp(), m_dbf.headerCount()));
}

// Under the write lock: nothing read before it is trusted (see the protocol in tablefile.h).
void TableFile::refreshUnderLock() {
    if (m_groupWrites > 0)
        m_groupBroken = true; // a write of the group failed: what it holds is dropped here
    m_groupWrites = 0;
    m_groupRows.clear();
    const bool changed = m_dbf.refreshLocked();
    if (changed || m_suspect || m_dbf.unpublishedRows() > 0) {
        if (m_suspect) {
            m_dbf.dropCache();
            if (m_mdx.isOpen())
                m_mdx.refresh(0, 0); // stamp 0: the journal cannot vouch, every block goes
        } else {
            syncCaches();
        }
        m_suspect = false;
        ++m_version;
    }
    settleUnpublished();
    if (m_dbf.cutShort())
        endShortTable();
    // Set while nobody else can hold the lock: a writer died half-way.
    if (indexUnfinished())
        repairIndexes();
}

// Rows past the count come from a writer that stopped before publishing them. A single append
// writes its journal (naming the count it publishes) before its row, so such a row is kept. A
// group writes its rows before its journal: rows past a journal that still describes the
// published table are a group that never got as far, and they are cut, never adopted. Decided
// when they are first found: a repair rewrites the journal.
void TableFile::settleUnpublished() {
    if (!m_dbf.unpublishedJustFound())
        return;
    const bool groupCutShort = m_mdx.isOpen()
                                   ? m_mdx.journalAt(m_dbf.changeStamp(), m_dbf.headerCount())
                                   : m_dbf.incompleteMark() == kGroupMark;
    if (groupCutShort)
        m_dbf.disownUnpublished();
}

void TableFile::busy() const {
    throw StoreError(
        QStringLiteral("Table %1 is busy: another user is changing it. Try again in a moment.")
            .arg(displayName()));
}

void TableFile::validate(Step kind) {
    if (!m_dbf.headerMapped()) {
        timespec now{};
        ::clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
        const int64_t ms = int64_t(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
        if (kind == Step::Continuing && !m_suspect && ms - m_checkedAt < 20)
            return;
        m_checkedAt = ms;
    }
    bool changed = m_dbf.refresh();
    if (m_suspect) {
        m_dbf.refreshLocked();
        m_dbf.dropCache();
        if (m_mdx.isOpen())
            m_mdx.refresh(0, 0);
        m_suspect = false;
        changed = true;
    } else if (changed) {
        try {
            syncCaches();
        } catch (const StoreError&) {
            // Without a lock the index header may be caught half-way through another
            // process's write; with a shared lock it is whole.
            if (m_dbfLocks.holds(lockpos::header()))
                throw;
            lockShared();
            try {
                m_dbf.refresh();
                m_dbf.dropCache();
                m_mdx.refresh(0, 0);
            } catch (...) {
                unlockShared();
                throw;
            }
            unlockShared();
        }
    }
    if (changed)
        ++m_version;
}

// After a lock-free step that read blocks from the file: they are consistent with the cached
// ones unless a writer overlapped the step, and such a writer either still holds the header
// lock or has bumped the header's stamp by now.
bool TableFile::readerConsistent() {
    if (m_dbf.headerChanged())
        return false;
    struct flock fl {};
    fl.l_type = F_RDLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = lockpos::header();
    fl.l_len = 1;
    return ::fcntl(m_dbf.fd(), F_OFD_GETLK, &fl) == 0 && fl.l_type == F_UNLCK;
}

void TableFile::lockShared() {
    if (!m_dbfLocks.lock(lockpos::header(), FileLocks::Mode::Shared, lockTimeout()))
        busy();
}

void TableFile::unlockShared() {
    m_dbfLocks.unlock(lockpos::header(), FileLocks::Mode::Shared);
}

void TableFile::lockRecord(uint32_t recno) {
    if (!m_dbf.isWritable())
        return; // nothing can be written anyway, and a read-only descriptor cannot lock
    if (!m_dbfLocks.lock(lockpos::record(recno), FileLocks::Mode::Exclusive, lockTimeout()))
        throw StoreError(
            QStringLiteral("Record %1 of %2 is locked by another user. Try again in a moment.")
                .arg(recno)
                .arg(displayName()));
}

void TableFile::unlockRecord(uint32_t recno) {
    m_dbfLocks.unlock(lockpos::record(recno), FileLocks::Mode::Exclusive);
}

void TableFile::lockTable() {
    if (!m_dbf.isWritable())
        throw StoreError(
            QStringLiteral("Cannot lock %1: the table is read-only.").arg(displayName()));
    checkWritable();
    const bool outer = !m_dbfLocks.holdsExclusive(lockpos::header());
    if (!m_dbfLocks.lock(lockpos::header(), FileLocks::Mode::Exclusive, lockTimeout()))
        busy();
    try {
        Busy b(*this);
        if (outer || m_suspect)
            refreshUnderLock();
    } catch (...) {
        unlockTable();
        throw;
    }
}

void TableFile::unlockTable() {
    m_dbfLocks.unlock(lockpos::header(), FileLocks::Mode::Exclusive);
}

namespace {

// A file opened for a copy, closed on every way out.
struct Fd {
    int fd;
    Fd(const QString& path, int flags)
        : fd(::open(QFile::encodeName(path).constData(), flags | O_CLOEXEC, 0644)) {
        if (fd < 0)
            throw StoreError(QStringLiteral("Cannot open %1: %2")
                                 .arg(path, QString::fromLocal8Bit(std::strerror(errno))));
    }
    ~Fd() { ::close(fd); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
};

uint32_t le32(const std::string& bytes, int at) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data() + at);
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

} // namespace

void TableFile::copyFiles(const QString& dbfCopy, const QString& mdxCopy) {
    QN_CHECK(m_dbfLocks.holdsExclusive(lockpos::header()));
    {
        Fd to(dbfCopy, O_WRONLY | O_CREAT | O_TRUNC);
        copyFileBytes(m_dbf.fd(), path(), to.fd, dbfCopy);
    }
    if (m_mdx.isOpen()) {
        Fd to(mdxCopy, O_WRONLY | O_CREAT | O_TRUNC);
        copyFileBytes(m_mdx.fd(), m_mdx.path(), to.fd, mdxCopy);
    }
}

void TableFile::restoreFiles(const QString& dbfCopy, const QString& mdxCopy) {
    checkWritable();
    if (!m_dbfLocks.holdsExclusive(lockpos::header()) || m_group > 0)
        throw StoreError(
            QStringLiteral("Cannot restore %1: the table is not held for it.").arg(displayName()));
    Fd rows(dbfCopy, O_RDONLY);
    // Other processes keep the field list and tags they opened: a copy must have the same.
    const int length = m_dbf.headerLength();
    std::string mine(size_t(length), '\0'), theirs(size_t(length), '\0');
    if (::pread(m_dbf.fd(), mine.data(), mine.size(), 0) != ssize_t(mine.size()) ||
        ::pread(rows.fd, theirs.data(), theirs.size(), 0) != ssize_t(theirs.size()) ||
        mine[0] != theirs[0] ||
        mine.compare(dbf::kHeaderLengthAt, 4, theirs, dbf::kHeaderLengthAt, 4) != 0 ||
        mine.compare(dbf::kHeaderSize, std::string::npos, theirs, dbf::kHeaderSize) != 0)
        throw StoreError(QStringLiteral("%1 cannot be restored from %2: their fields differ.")
                             .arg(path(), dbfCopy));
    std::optional<Fd> index;
    if (m_mdx.isOpen()) {
        index.emplace(mdxCopy, O_RDONLY);
        m_mdx.checkCopy(index->fd, mdxCopy);
    }
    const uint32_t count = le32(theirs, dbf::kCountAt);
    const uint32_t stamp = std::max(m_dbf.changeStamp(), le32(theirs, dbf::kStampAt)) + 1;
    Busy b(*this);
    m_suspect = true; // until the last write lands
    m_dbf.setIncomplete(true);
    if (index)
        m_mdx.replaceWith(index->fd, mdxCopy, stamp, count);
    m_dbf.replaceWith(rows.fd, dbfCopy, stamp);
    if (m_mdx.isOpen())
        m_mdx.refresh(m_dbf.changeStamp(), m_dbf.headerCount());
    m_suspect = false;
    ++m_version;
    emit changed();
}

void TableFile::beginGroup() {
    lockTable();
    if (m_group++ == 0) {
        m_groupWrites = 0;
        m_groupBroken = false;
        m_groupRows.clear();
        m_dbf.setDeferred(true);
    }
}

void TableFile::checkGroup() const {
    if (m_group > 0 && m_groupBroken)
        throw StoreError(QStringLiteral("An earlier change to %1 in this group failed; none of "
                                        "the group's changes are written.")
                             .arg(displayName()));
}

// The group's steps, in this order (see the protocol in tablefile.h): mark, rows, journal and
// blocks, header.
void TableFile::commitGroup() {
    if (m_group > 1) {
        --m_group;
        unlockTable();
        return;
    }
    struct End {
        TableFile& f;
        ~End() {
            f.m_group = 0;
            f.m_groupWrites = 0;
            f.m_groupRows.clear();
            f.m_dbf.setDeferred(false);
            f.unlockTable();
        }
    } end{*this};
    if (m_groupWrites == 0 && !m_groupBroken)
        return;
    Busy busy(*this);
    try {
        checkGroup();
        m_dbf.setIncomplete(true, kGroupMark);
        m_dbf.writePending();
        flushIndex();
        m_dbf.publish();
    } catch (...) {
        m_suspect = true; // the next step reads the files again
        ++m_version;
        throw;
    }
}

void TableFile::abandonGroup() noexcept {
    if (m_group > 1) {
        --m_group;
        m_groupBroken = m_groupBroken || m_groupWrites > 0;
        unlockTable();
        return;
    }
    m_group = 0;
    m_dbf.setDeferred(false);
    if (m_groupWrites > 0) {
        m_suspect = true; // the index blocks changed in memory go with the next step
        ++m_version;
    }
    m_groupWrites = 0;
    m_groupRows.clear();
    unlockTable();
}

uint32_t TableFile::append(const char* record) {
    uint32_t recno;
    {
        WriteScope scope(*this);
        checkGroup();
        const bool grouped = m_group > 0;
        if (m_dbf.unpublishedRows() > 0) {
            // Rows a writer stopped short of publishing: they stay (nothing is written over
            // a slot the file holds) and are indexed like new ones.
            const uint32_t from = m_dbf.recordCount() + 1;
            m_dbf.adoptUnpublished();
            for (uint32_t r = from; r <= m_dbf.recordCount(); ++r) {
                const std::string rec(m_dbf.record(r), size_t(m_dbf.recordLength()));
                if (DbfFile::isLive(rec.data()))
                    for (Tag& t : m_tags)
                        addKeyOnce(t, rec.data(), r);
            }
        }
        recno = m_dbf.recordCount() + 1;
        if (!grouped)
            m_dbf.setIncomplete(true);
        for (Tag& t : m_tags)
            addKey(t, record, recno);
        if (!grouped && m_mdx.isOpen())
            m_mdx.flush(m_dbf.changeStamp() + 1, recno);
        m_dbf.appendRecord(record, false);
        if (grouped)
            ++m_groupWrites;
        else
            m_dbf.publish();
        ++m_version;
    }
    emit changed();
    return recno;
}

bool TableFile::writeRow(uint32_t recno, const char* record) {
    std::string old(m_dbf.record(recno), size_t(m_dbf.recordLength()));
    if (std::memcmp(old.data(), record, old.size()) == 0)
        return false;
    checkGroup();
    const bool grouped = m_group > 0;
    if (!grouped)
        m_dbf.setIncomplete(true);
    for (Tag& t : m_tags) {
        bool wasIn = DbfFile::isLive(old.data()) && inTag(t, old.data());
        bool isIn = DbfFile::isLive(record) && inTag(t, record);
        std::string oldKey = wasIn ? keyFor(t, old.data()) : std::string();
        std::string newKey = isIn ? keyFor(t, record) : std::string();
        if (wasIn && isIn && oldKey == newKey)
            continue;
        if (wasIn)
            dropKey(t, oldKey, recno);
        if (isIn)
            addKey(t, record, recno);
    }
    if (grouped) {
        if (recno <= m_dbf.headerCount())
            m_groupRows.push_back(recno);
        ++m_groupWrites;
        m_dbf.writeRecord(recno, record, false);
    } else {
        flushIndex({recno});
        m_dbf.writeRecord(recno, record, false);
        m_dbf.publish();
    }
    ++m_version;
    return true;
}

void TableFile::update(uint32_t recno, const char* record) {
    lockRecord(recno);
    bool changedRow;
    try {
        WriteScope scope(*this);
        changedRow = writeRow(recno, record);
    } catch (...) {
        unlockRecord(recno);
        throw;
    }
    unlockRecord(recno);
    if (changedRow)
        emit changed();
}

void TableFile::remove(uint32_t recno) {
    lockRecord(recno);
    bool changedRow = false;
    try {
        WriteScope scope(*this);
        std::string rec(m_dbf.record(recno), size_t(m_dbf.recordLength()));
        if (DbfFile::isLive(rec.data())) {
            rec[0] = '*';
            changedRow = writeRow(recno, rec.data());
        }
    } catch (...) {
        unlockRecord(recno);
        throw;
    }
    unlockRecord(recno);
    if (changedRow)
        emit changed();
}

uint32_t TableFile::liveCount() {
    if (m_countVersion != m_version) {
        uint32_t n = 0;
        for (uint32_t r = 1; r <= m_dbf.recordCount(); ++r)
            n += DbfFile::isLive(m_dbf.record(r)) ? 1 : 0;
        m_liveCount = n;
        m_countVersion = m_version;
    }
    return m_liveCount;
}

void TableFile::verifyIndexes() {
    // One consistent view: no writer may run while the trees are walked.
    lockShared();
    struct Unlock {
        TableFile* f;
        ~Unlock() { f->unlockShared(); }
    } unlock{this};
    Busy busy(*this);
    validate();
    checkIndexes();
}

void TableFile::checkIndexes() {
    for (Tag& t : m_tags) {
        QString name = QString::fromStdString(t.index->name());
        std::vector<MdxTag::Entry> entries = t.index->check();
        std::map<std::string, uint32_t> firstOfKey;
        std::vector<std::pair<std::string, uint32_t>> expected;
        for (uint32_t r = 1; r <= m_dbf.recordCount(); ++r) {
            const char* rec = m_dbf.record(r);
            if (!DbfFile::isLive(rec) || !inTag(t, rec))
                continue;
            std::string key = keyFor(t, rec);
            if (t.index->unique()) {
                if (!firstOfKey.count(key))
                    firstOfKey[key] = r;
            } else {
                expected.emplace_back(key, r);
            }
        }
        if (t.index->unique())
            for (auto& [k, r] : firstOfKey)
                expected.emplace_back(k, r);
        std::vector<std::pair<std::string, uint32_t>> actual;
        actual.reserve(entries.size());
        for (auto& e : entries)
            actual.emplace_back(e.key, e.recno);
        auto less = [&](const auto& a, const auto& b) {
            int c = t.index->compareKeys(a.first.data(), b.first.data());
            return c < 0 || (c == 0 && a.second < b.second);
        };
        std::sort(expected.begin(), expected.end(), less);
        if (actual != expected)
            throw StoreError(
                QStringLiteral(
                    "Index tag %1 of %2 does not match the table: %3 entries, %4 expected.")
                    .arg(name, path())
                    .arg(actual.size())
                    .arg(expected.size()));
    }
}

void TableFile::rebuildTags() {
    m_dbf.setIncomplete(true);
    for (Tag& t : m_tags) {
        t.index->clear();
        for (uint32_t r = 1; r <= m_dbf.recordCount(); ++r) {
            const char* rec = m_dbf.record(r);
            if (DbfFile::isLive(rec))
                addKey(t, rec, r);
        }
    }
    flushIndex(); // journal first: a rebuild cut short is done again by the next writer
    m_dbf.publish();
    ++m_version;
}

void TableFile::rebuildIndexes() {
    {
        WriteScope scope(*this);
        rebuildTags();
    }
    emit changed();
}

// The newest live row in every tag it belongs to. Cheap, and it fails for an index left
// behind by its table (an older copy) as well as for most damage.
bool TableFile::newestRowIndexed() {
    try {
        const uint32_t count = m_dbf.recordCount();
        for (uint32_t r = count; r >= 1 && r + 16 > count; --r) {
            const char* rec = m_dbf.record(r);
            if (!DbfFile::isLive(rec))
                continue;
            std::string copy(rec, size_t(m_dbf.recordLength()));
            for (Tag& t : m_tags) {
                if (!inTag(t, copy.data()))
                    continue;
                const std::string key = keyFor(t, copy.data());
                MdxTag::Entry e;
                const bool unique = t.index->unique();
                if (!t.index->seek(key, unique ? 0 : r, e) || e.key != key ||
                    (!unique && e.recno != r) || e.recno > count)
                    return false;
            }
            return true;
        }
        MdxTag::Entry e;
        for (Tag& t : m_tags) // no live row near the end: at least nothing past the table
            if (count == 0 && t.index->first(e))
                return false;
        return true;
    } catch (const StoreError&) {
        return false;
    }
}

void TableFile::checkOnOpen() {
    // A journal that carries the table's stamp and count was written with this very state of
    // the table; an older copy of either file, or a change by another program, breaks that.
    if (!indexUnfinished() && (m_dbf.cutShort() || m_mdx.hasJournal() || newestRowIndexed()))
        return; // a table cut short is settled next, the index with it
    if (!m_dbf.isWritable() || !m_unsafeMount.isEmpty()) {
        // Cannot be mended here; refuse rather than answer from a wrong index.
        try {
            checkIndexes();
        } catch (const StoreError& e) {
            throw StoreError(QStringLiteral("The index of %1 does not match the table and "
                                            "cannot be rebuilt, as the table is read-only: %2")
                                 .arg(displayName(), e.message()));
        }
        return;
    }
    WriteScope scope(*this); // repairs at once when the mark is set
    if (!newestRowIndexed())
        repairIndexes();
}

// Under the write lock: checks the index against the rows, rebuilds it when they differ and
// says so; clears the mark either way. Throws StoreError for a damaged tree left unmarked.
void TableFile::repairIndexes() {
    // A broken tree without the mark is no interrupted change of ours: refuse it, naming it.
    if (!indexUnfinished())
        for (Tag& t : m_tags)
            t.index->check();
    QString why;
    try {
        checkIndexes();
    } catch (const StoreError& e) {
        why = e.message();
    }
    if (why.isEmpty()) {
        flushIndex(); // the journal and the table agree again
        m_dbf.publish();
        return;
    }
    rebuildTags();
    ++m_repairs;
    StoreNotices::instance().post(
        QStringLiteral("The index of table %1 did not match the table (a change was "
                       "interrupted, or the index is an older copy) and has been rebuilt from "
                       "the table. Details: %2")
            .arg(displayName(), why));
}

namespace {

QString rows(uint32_t n) {
    return n == 1 ? QStringLiteral("1 row") : QStringLiteral("%1 rows").arg(n);
}

} // namespace

const char* TableFile::follow(const Tag& tag, const MdxTag::Entry& entry) {
    const QString tagName = QString::fromStdString(tag.index->name());
    if (entry.recno == 0 || entry.recno > m_dbf.recordCount())
        throw IndexMismatch(QStringLiteral("The index tag %1 of table %2 leads to row %3, which "
                                           "the table does not have (it holds %4).")
                                .arg(tagName, displayName())
                                .arg(entry.recno)
                                .arg(rows(m_dbf.recordCount())),
                            int(&tag - m_tags.data()), entry.key, entry.recno);
    const char* rec = m_dbf.record(entry.recno);
    if (DbfFile::isLive(rec) && (!inTag(tag, rec) || tag.index->compareKeys(keyFor(tag, rec).data(),
                                                                            entry.key.data()) != 0))
        throw IndexMismatch(QStringLiteral("The index tag %1 of table %2 leads a key to row %3, "
                                           "which holds another one.")
                                .arg(tagName, displayName())
                                .arg(entry.recno),
                            int(&tag - m_tags.data()), entry.key, entry.recno);
    return rec;
}

// Whether the entry is still in the tag and still leads astray, seen under the write lock.
bool TableFile::entryAstray(const Tag& tag, const std::string& key, uint32_t recno) {
    MdxTag::Entry e;
    if (!tag.index->seek(key, recno, e) || e.recno != recno || e.key != key)
        return false;
    try {
        follow(tag, e);
        return false;
    } catch (const IndexMismatch&) {
        return true;
    }
}

void TableFile::mend(const IndexMismatch& found) {
    if (!m_dbf.isWritable())
        throw StoreError(found.message() +
                         QStringLiteral(" The table is read-only, so this cannot be put right "
                                        "here; open it where it can be written."));
    {
        WriteScope scope(*this); // a table cut short is settled by the scope itself
        const int t = found.tag();
        if (t >= 0 && t < tagCount() &&
            entryAstray(m_tags[size_t(t)], found.key(), found.recno())) {
            rebuildTags();
            ++m_repairs;
            StoreNotices::instance().post(
                found.message() +
                QStringLiteral(" Its index has been rebuilt from the table; every key now leads "
                               "to its own row."));
        }
    }
    emit changed();
}

// Under the write lock: the header promises rows the file does not hold (a copy or a write cut
// off). The bytes of an incomplete last row are kept beside the table before the table is
// ended after its last complete row; entries for the lost rows go with an index rebuild.
void TableFile::endShortTable() {
    const uint32_t promised = m_dbf.headerCount();
    const uint32_t complete = m_dbf.recordCount();
    const std::string tail = m_dbf.tail();
    QString kept;
    if (!tail.empty()) {
        const QString base =
            path() + QStringLiteral(".partial-") +
            QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
        kept = base;
        for (int i = 2; QFileInfo::exists(kept); ++i)
            kept = base + QStringLiteral("-%1").arg(i);
        QFile side(kept);
        if (!side.open(QIODevice::WriteOnly | QIODevice::NewOnly) ||
            side.write(tail.data(), qint64(tail.size())) != qint64(tail.size()) || !side.flush())
            throw StoreError(QStringLiteral("The table %1 was cut short inside its last row, and "
                                            "the bytes of that row cannot be kept in %2: %3. "
                                            "Nothing was changed.")
                                 .arg(displayName(), kept, side.errorString()));
    }
    m_dbf.endAfterCompleteRecords();
    ++m_version;
    bool rebuilt = false;
    if (!m_tags.empty()) {
        try {
            checkIndexes();
        } catch (const StoreError&) {
            rebuildTags();
            ++m_repairs;
            rebuilt = true;
        }
    }
    QString text =
        QStringLiteral("The table %1 was cut short: its header promises %2, but the "
                       "file holds %3")
            .arg(displayName(), rows(promised), rows(complete).replace("row", "complete row"));
    if (!tail.empty())
        text += QStringLiteral(" and 1 incomplete row. The %1 bytes of the incomplete row were "
                               "kept in %2")
                    .arg(tail.size())
                    .arg(kept);
    text += QStringLiteral(". The table now ends after row %1").arg(complete);
    text += rebuilt ? QStringLiteral(", and its index was rebuilt from the table.")
                    : QStringLiteral(".");
    StoreNotices::instance().post(text);
}

// A table cut short is settled as soon as it is opened; one that cannot be written is read up
// to its last complete row, and the user hears so.
void TableFile::settleOnOpen() {
    if (!m_dbf.cutShort())
        return;
    if (m_dbf.isWritable()) {
        WriteScope scope(*this);
        return;
    }
    StoreNotices::instance().post(
        QStringLiteral("The table %1 was cut short: its header promises %2, but the file holds "
                       "%3. It is read-only, so it is read up to its last complete row and left "
                       "as it is.")
            .arg(displayName(), rows(m_dbf.headerCount()), rows(m_dbf.recordCount())));
}

// A table of the inventory that comes without its index (copied without it, or written by a
// program that keeps none) gets one built from its known tags, and the user is told.
bool TableFile::provideIndex() {
    const QFileInfo info(path());
    if (!m_dbf.isWritable() ||
        !findFileIgnoringCase(info.absolutePath(), info.completeBaseName() + QStringLiteral(".mdx"))
             .isEmpty())
        return false;
    const schema::TableSchema* known = schema::find(info.completeBaseName());
    if (!known)
        return false;
    std::vector<TagSpec> tags;
    try {
        tags = schema::resolveTags(fields(), known->tags);
    } catch (const StoreError&) {
        return false; // another table under a known name: left as it is
    }
    const QString mdx =
        info.absolutePath() + u'/' + info.completeBaseName() + QStringLiteral(".mdx");
    MdxFile::create(mdx, info.completeBaseName().toUpper().toStdString(), tags);
    openIndex(mdx);
    {
        WriteScope scope(*this);
        m_dbf.setProductionIndexFlag();
        rebuildTags();
    }
    StoreNotices::instance().post(
        QStringLiteral("The table %1 had no index file. %2 has been built from the table.")
            .arg(displayName(), QFileInfo(mdx).fileName()));
    return true;
}

} // namespace qn
