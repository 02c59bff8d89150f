#pragma once

#include "dbffile.h"
#include "error.h"
#include "expression.h"
#include "filelock.h"
#include "mdxfile.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <memory>
#include <string>
#include <vector>

namespace qn {

/// What the store put right on its own and the user should hear about (an index rebuilt after
/// an interrupted change). Process-wide, so that windows can show it through their message
/// service; kept until taken so that nothing said before a window listens is lost.
class StoreNotices : public QObject {
    Q_OBJECT
public:
    static StoreNotices& instance();
    void post(const QString& text);
    /// The notices not taken yet, oldest first.
    QStringList take();

signals:
    void notice(const QString& text);

private:
    QStringList m_pending;
};

/// Raised by a read step that found the index or the table damaged: an index entry that leads
/// to a row the table does not have or to a row of another key, or a header that promises
/// more rows than the file holds. TableFile::mend() puts it right.
class IndexMismatch : public StoreError {
public:
    IndexMismatch(const QString& message, int tag = -1, std::string key = {}, uint32_t recno = 0)
        : StoreError(message), m_tag(tag), m_key(std::move(key)), m_recno(recno) {}
    int tag() const { return m_tag; }
    const std::string& key() const { return m_key; }
    uint32_t recno() const { return m_recno; }

private:
    int m_tag;
    std::string m_key;
    uint32_t m_recno;
};

/// One table file and its production index as this process has them open, shared by every
/// Table object on that file. Writes go through here so that every tag stays in step with the
/// rows: deleted rows leave every tag; a unique tag holds the lowest live record of each key.
///
/// Other processes may change the files at any time. Each write holds the table's header lock
/// (and the index lock while it changes the index), re-reads the header first and bumps the
/// header's change stamp last; each read step starts with validate(), so nothing cached here
/// (record count, index page total, tag roots, blocks) outlives a change made elsewhere.
class TableFile : public QObject {
    Q_OBJECT
public:
    /// Opens the table and, when its header says so, its production index. Throws StoreError.
    /// An index that may disagree with the table (a writer was killed half-way, or the index
    /// is older than the table) is checked and, if it does disagree, rebuilt with a notice.
    explicit TableFile(const QString& dbfPath);
    ~TableFile() override;

    struct Tag {
        MdxTag* index = nullptr;
        std::unique_ptr<Expression> key;
        std::unique_ptr<Expression> condition; // the tag's FOR expression, if any
    };

    DbfFile& dbf() { return m_dbf; }
    const std::vector<DbfField>& fields() const { return m_dbf.fields(); }
    const QString& path() const { return m_dbf.path(); }
    QString displayName() const;

    int tagCount() const { return static_cast<int>(m_tags.size()); }
    /// Index of the tag with this name (any letter case), or -1.
    int findTag(const QString& name) const;
    Tag& tag(int i) { return m_tags[size_t(i)]; }

    /// The key of a record in a tag, in the tag's stored form.
    std::string keyFor(const Tag& tag, const char* record) const;
    /// Whether a record belongs in the tag (its FOR condition).
    bool inTag(const Tag& tag, const char* record) const;
    /// The record an index entry leads to. Throws IndexMismatch when the table has no such
    /// record or the record is live but does not hold the entry's key: a key never leads to
    /// another row. Deleted rows are returned as they are (other writers index them).
    const char* follow(const Tag& tag, const MdxTag::Entry& entry);
    /// Under the write lock, puts right what a read step found: a table cut short ends after its
    /// last complete row, the bytes of an incomplete one kept beside it; an index that leads
    /// keys astray is rebuilt. The user is told. Throws StoreError on a read-only table.
    void mend(const IndexMismatch& found);

    /// Appends under the header lock: header re-read, the new slot locked, keys inserted under
    /// the index lock, the record written, then the count published. Throws StoreError ("table
    /// busy") when another process keeps the table locked past lockTimeout().
    uint32_t append(const char* record);
    /// Rewrites a row; takes its record lock for the write unless this process holds it.
    void update(uint32_t recno, const char* record);
    void remove(uint32_t recno);

    /// How a read step relates to the one before it.
    enum class Step { Fresh, Continuing };
    /// Brings the view up to date before an operation: when the header on disk differs from
    /// the one seen last, drops the cached records, re-reads the index header and tag roots
    /// and drops the cached blocks. Costs one header comparison when nothing changed. Where
    /// that comparison is a read of the file (network folders), a step that continues a walk
    /// (next, prior) re-checks only every few milliseconds, not once per row.
    void validate(Step kind = Step::Fresh);
    /// Runs one read-only step (a move, lookup or count) on an up-to-date view and returns its
    /// result. Readers take no lock while cached blocks serve them; when a block had to come
    /// from the file while a writer elsewhere may have been half-way, the step runs again
    /// under a shared header lock. The step must not change state outside its own locals, and
    /// it may run twice.
    template <class F> auto read(F&& step, Step kind = Step::Fresh) -> decltype(step());

    /// The lock of a row being edited, held until released; nested requests count. Throws
    /// StoreError "record locked by another user" after lockTimeout().
    void lockRecord(uint32_t recno);
    void unlockRecord(uint32_t recno);
    /// The table's write lock, as TableLock holds it. Throws StoreError "table busy".
    void lockTable();
    void unlockTable();

    /// Counts changes so that cursors and caches can tell when the data moved under them.
    uint64_t version() const { return m_version; }
    /// Live records, counted once per version.
    uint32_t liveCount();

    /// Checks every tag against the table: tree structure, order, and exactly the entries the
    /// live rows call for. Throws StoreError naming the first difference.
    void verifyIndexes();
    /// Rebuilds every tag from the rows.
    void rebuildIndexes();
    /// How many times this object found the index disagreeing with the table and rebuilt it.
    int repairs() const { return m_repairs; }

signals:
    void changed();

private:
    class WriteScope;
    class Busy;
    friend class Busy;
    bool readerConsistent();
    void lockShared();
    void unlockShared();
    [[noreturn]] void busy() const;
    bool writeRow(uint32_t recno, const char* record);
    void openIndex(const QString& mdxPath);
    void addKey(Tag& tag, const char* record, uint32_t recno);
    void dropKey(Tag& tag, const std::string& key, uint32_t recno);
    void flushIndex();
    void checkIndexes();
    bool newestRowIndexed();
    void checkOnOpen();
    void repairIndexes();
    void rebuildTags();
    void endShortTable();
    void settleOnOpen();
    bool provideIndex();
    bool entryAstray(const Tag& tag, const std::string& key, uint32_t recno);

    DbfFile m_dbf;
    MdxFile m_mdx;
    std::vector<Tag> m_tags;
    uint64_t m_version = 1;
    uint64_t m_countVersion = 0;
    uint32_t m_liveCount = 0;
    int64_t m_checkedAt = 0; // coarse monotonic ms of the last header check
    FileLocks m_dbfLocks;
    FileLocks m_mdxLocks;
    int m_depth = 0;        // read steps and writes in progress (they nest)
    bool m_suspect = false; // a write failed half-way: the caches may be ahead of the files
    int m_repairs = 0;
};

class TableFile::Busy {
public:
    explicit Busy(TableFile& f) : m_f(f) { ++m_f.m_depth; }
    ~Busy() { --m_f.m_depth; }
    Busy(const Busy&) = delete;
    Busy& operator=(const Busy&) = delete;

private:
    TableFile& m_f;
};

template <class F> auto TableFile::read(F&& step, Step kind) -> decltype(step()) {
    if (m_depth > 0)
        return step();
    Busy busy(*this);
    validate(kind);
    if (!m_mdx.isOpen() || m_dbfLocks.holds(lockpos::header()))
        return step(); // records are read dirty, as dBASE allows; no writer can be busy
    struct FetchLog {
        MdxFile& mdx;
        explicit FetchLog(MdxFile& m) : mdx(m) { mdx.startFetchLog(); }
        ~FetchLog() { mdx.stopFetchLog(); }
    };
    decltype(step()) result{};
    bool fetched = false;
    bool failed = false;
    try {
        FetchLog log(m_mdx);
        result = step();
        fetched = m_mdx.stopFetchLog();
    } catch (const StoreError&) {
        if (!m_mdx.stopFetchLog())
            throw;
        fetched = failed = true; // perhaps a half-written block: try again under the lock
    }
    if (!fetched || (!failed && readerConsistent()))
        return result;
    lockShared();
    try {
        m_mdx.dropFetched();
        validate();
        result = step();
    } catch (...) {
        unlockShared();
        throw;
    }
    unlockShared();
    return result;
}

} // namespace qn
