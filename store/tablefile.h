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

// The multi-process protocol. Several processes, on several computers when the folder is on a
// network drive, share a table; file calls may take milliseconds and a size or attribute may
// be seconds old. So nothing read outside the write lock (count, size, header, cached rows or
// blocks) is trusted inside it, and no size (fstat) is ever trusted for the count.
//
// Locks (dBASE convention, single bytes beyond any data so that SMB's mandatory locks never
// cover data): the table's write lock is the .dbf byte 0xEFFFFFFE; a row being edited holds
// 0xEFFFFFFE - recno from edit to post. Every change to the .mdx is made under the .dbf write
// lock, so the .mdx byte is not taken as well (two calls saved per write).
//
// Open (no lock): read the header and field list in one read, then the size: a row appended
// between the two only makes the file longer than the count read. The count is the smaller of
// the header's count and the rows the size covers. Read the .mdx header, tag table and tag
// headers in one read; its journal becomes the base for the next refresh when it carries the
// table's stamp and count. The mount of a network folder is checked once (mounts.h).
//
// Append, under the write lock:
//   1. stat the path: the folder is still the one opened (else nothing is written);
//   2. read the .dbf header: its count is the count. Unless it is byte for byte the header
//      this process wrote last (every writer marks the header first, so an untouched header
//      proves nobody wrote since), read the last promised row and what follows it in one
//      read: the row confirms the count; whole rows after it were written by a writer that
//      stopped before publishing them, and they are kept and indexed, never overwritten;
//   3. if the header changed, read the .mdx header page: its journal names the blocks (and
//      rows rewritten in place) changed since this process last looked; drop those, or every
//      cached block and row when the journal cannot vouch for the header just read;
//   4. if a change was left unfinished (the mark in header byte 14, or a journal ahead of the
//      table), check the index against the rows and rebuild it if they differ;
//   5. set the unfinished-change mark (header byte 14), insert the keys in memory, write the
//      .mdx journal (the stamp and count about to be published, the changed blocks), then
//      each changed block, adjacent ones in one call; on a network file system fdatasync;
//   6. write the row and the end marker into slot count + 1;
//   7. on a network file system fdatasync the .dbf: the row and its keys reach the server
//      before the count that publishes them;
//   8. write the header (count, date, change stamp + 1, mark cleared) in one call; unlock.
// Post (rewrite of a row; deletion sets its flag to '*'): the row lock is held from edit; then
// steps 1-5 with the row named in the journal, the row rewritten in place, then 7 and 8.
// Readers never see a row before the count or stamp that publishes it moves.
//
// Group (TableGroup: several appends and posts under one hold of the write lock, so that bulk
// work costs a few calls per row instead of some fifteen): steps 1-4 once when the lock is
// taken, as for a single write, the lock then held throughout, so that what was read stays
// true. Each write of the group changes keys in the cached blocks and keeps its row in memory;
// the table reads as if it were written (rows past the file come from memory, and the cache
// never drops a changed block). Nothing reaches the files until the group ends; then:
//   g1. set the unfinished-change mark, as a group (header byte 14 = 2);
//   g2. write the group's rows: the appended ones and the end marker in one call, then each row
//       rewritten in place;
//   g3. write the .mdx journal (the stamp and count about to be published, every block the
//       group changed, the rows rewritten in place), then each changed block once, sorted,
//       adjacent ones in one call; on a network file system fdatasync both files;
//   g4. write the header (count, stamp + 1, mark cleared) in one call; unlock.
// Rows before the journal, unlike a single append: a writer killed after g2 leaves rows past
// the count behind a journal that still describes the published table, and the next writer
// (step 2) cuts them instead of adopting them, so nobody ever sees part of a group. Killed
// after g3, the journal vouches for the count the rows reach; they are adopted whole, and the
// mark makes step 4 check the index. A group that ends without being committed (an exception)
// writes nothing: its rows and blocks are dropped from memory. A write that fails inside a
// group spoils it: later writes of the group and its commit refuse. Rows rewritten in place
// have no earlier copy to go back to: a writer killed during g2 leaves those it wrote, the
// index rebuilt to match them at the next write.
//
// Read (no lock): each step compares the header with the one last seen (through a shared
// mapping on a local disk, one read elsewhere); when it moved, steps 2-3 as above without the
// confirmation. A step that had to fetch blocks from the file checks afterwards that no writer
// held the lock or moved the stamp meanwhile, else runs again under a shared lock.

/// One table file and its production index as this process has them open, shared by every
/// Table object on that file. Writes go through here so that every tag stays in step with the
/// rows: deleted rows leave every tag; a unique tag holds the lowest live record of each key.
/// Other processes may change the files at any time; see the protocol above.
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

    /// Appends under the write lock as the protocol above says. Throws StoreError ("table
    /// busy") when another process keeps the table locked past lockTimeout(), and the mount's
    /// refusal on an unsafe network mount.
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
    /// Whether another process holds the row's lock (is editing it). Waits for nothing.
    bool recordLockedElsewhere(uint32_t recno) const {
        return m_dbfLocks.heldElsewhere(lockpos::record(recno));
    }
    /// The table's write lock, as TableLock holds it. Throws StoreError "table busy".
    void lockTable();
    void unlockTable();
    /// A group of writes, as TableGroup holds it: takes the write lock; until the group ends,
    /// appends and posts keep their rows, index blocks and count in memory. commitGroup()
    /// writes them at once and publishes them; abandonGroup() forgets them. Groups nest; the
    /// outermost one writes. commitGroup() throws StoreError when a write of the group failed
    /// (nothing of it is then written) or the files cannot be written.
    void beginGroup();
    void commitGroup();
    void abandonGroup() noexcept;

    /// Under lockTable(): copies the table and its production index, byte for byte as they
    /// stand, to new files at these paths (mdxCopy unused when the table has no index). The
    /// copies are not forced to disk. Throws StoreError when one cannot be written.
    void copyFiles(const QString& dbfCopy, const QString& mdxCopy);
    /// Under lockTable(), outside a group: puts copies that copyFiles() made back in place of
    /// the files, which stay the same files. Every process with the table open, this one
    /// included, drops what it cached and reads the copies' rows and blocks at its next step:
    /// the header gets a change stamp past this table's and the copy's, the index a journal
    /// that vouches for nothing before it. The unfinished-change mark is set first, so that a
    /// restore cut short makes the next writer check the index against the rows. Throws
    /// StoreError, before anything is written, when the copies' fields or tags differ.
    void restoreFiles(const QString& dbfCopy, const QString& mdxCopy);

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
    void flushIndex(const std::vector<uint32_t>& rows = {});
    void addKeyOnce(Tag& tag, const char* record, uint32_t recno);
    void checkWritable() const;
    void syncCaches();
    bool indexUnfinished() const;
    void refreshUnderLock();
    void checkIndexes();
    bool newestRowIndexed();
    void checkOnOpen();
    void settleUnpublished();
    void checkGroup() const;
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
    QString m_unsafeMount;      // why this folder's mount is not safe to write, or empty
    int m_depth = 0;            // read steps and writes in progress (they nest)
    bool m_suspect = false;     // a write failed half-way: the caches may be ahead of the files
    int m_group = 0;            // nested groups of writes open
    int m_groupWrites = 0;      // writes held back by the open group
    bool m_groupBroken = false; // a write of the group failed: it must not be published
    std::vector<uint32_t> m_groupRows; // rows the group rewrote in place, for the journal
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
