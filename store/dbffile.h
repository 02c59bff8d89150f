#pragma once

// The .dbf table file as this engine reads and writes it (dBASE III/IV, no memo fields).
// Integers are little-endian.
//
// File header, 32 bytes at offset 0:
//   OFFSET  SIZE  MEANING
//   0       1     version byte; 0x03 (dbf::kVersion): dBASE III/IV table without memo fields
//   1       3     date of the last change: year - 1900, month, day
//   4       4     record count (deleted records included)
//   8       2     header length = offset of record 1 (32 + 32 x fields + 1 when we write it)
//   10      2     record length, the deletion flag byte included
//   12      2     reserved, 0
//   14      1     dBASE IV incomplete-transaction flag. Ours: 1 while a write changes a row and
//                 the index together; found set under the table's write lock, it means a writer
//                 died half-way and the index is checked and rebuilt if it disagrees
//   15      1     encryption flag; an encrypted table is refused
//   16      4     reserved for multi-user dBASE. Ours: the change stamp, bumped by every write of
//                 this engine (in the same write as date and count), so that a reader sees a row
//                 rewritten in place; other programs leave it alone
//   20      8     reserved, 0
//   28      1     1 when a production index <table>.mdx belongs to the table
//   29      1     language driver; we write 0x57 (code page 1252)
//   30      2     reserved, 0
//
// Field descriptors, 32 bytes each from offset 32, ended by 0x0D (dbf::kTerminator):
//   0       11    name, ASCII, NUL-padded (10 characters at most)
//   11      1     type: C, D, N or L
//   12      4     reserved (FoxPro keeps the field offset here; never trusted)
//   16      1     length in bytes
//   17      1     decimal places (N)
//   18      13    reserved, 0
//   31      1     1 when the production index has a tag on this field
//
// Records from offset (header length), each (record length) bytes: a flag byte, ' ' live or
// '*' deleted, then the fields in declaration order, each as fixed-width text. One 0x1A
// (dbf::kEndOfFile) follows the last record.
//
// Locks are single bytes far past the data (filelock.h): the header at 0xEFFFFFFE, record n at
// 0xEFFFFFFE - n; they never cover bytes of the file.
//
// Invariants (asserted where QUILLNET_CHECKED is set, as in the sanitizer build):
//   - field offsets start at 1 and follow each other; their sum is at most the record length;
//   - complete records = min(header count, (file size - header length) / record length); after
//     one of our writes the file holds exactly header length + count x record length + 1 bytes;
//   - the field list read at open never changes while the table is open: a different one on
//     disk makes the table refuse every further step (restructured()).

#include "bufferpool.h"

#include <QString>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace qn {

/// Copies the bytes of one file from offset on into another at the same offset and ends the
/// other there. Returns the size. Throws StoreError naming the file that failed.
int64_t copyFileBytes(int from, const QString& fromName, int to, const QString& toName,
                      int64_t offset = 0);

/// Byte positions and values of the layout above.
namespace dbf {
constexpr unsigned char kVersion = 0x03;
constexpr unsigned char kLanguageDriver1252 = 0x57;
constexpr int kHeaderSize = 32;
constexpr int kDescriptorSize = 32;
constexpr int kDateAt = 1;
constexpr int kCountAt = 4;
constexpr int kHeaderLengthAt = 8;
constexpr int kRecordLengthAt = 10;
constexpr int kIncompleteAt = 14;
constexpr int kEncryptedAt = 15;
constexpr int kStampAt = 16;
constexpr int kProductionIndexAt = 28;
constexpr int kLanguageDriverAt = 29;
constexpr int kFieldTypeAt = 11;
constexpr int kFieldLengthAt = 16;
constexpr int kFieldDecimalsAt = 17;
constexpr int kFieldTaggedAt = 31;
constexpr int kFieldNameSize = 11;
constexpr char kTerminator = 0x0D;
constexpr char kEndOfFile = 0x1A;
constexpr char kLive = ' ';
constexpr char kDeleted = '*';
} // namespace dbf

/// A field as declared when a table is created.
struct FieldDef {
    std::string name; // upper case, at most 10 characters
    char type = 'C';  // C, D, N or L
    int length = 1;
    int decimals = 0;
};

/// A field of an open table: its declaration and where it sits in a record.
struct DbfField : FieldDef {
    int offset = 0; // byte offset inside the record (the deletion flag is byte 0)
    bool hasIndexTag = false;
};

/// One dBASE III/IV table file. Reads and writes records by number (1-based) through a cache of
/// aligned 4 KB pages (a random read fetches the row's page, a sequential walk reads ahead);
/// every write goes straight to the file. Not thread-safe; one object per open table.
class DbfFile {
public:
    static constexpr unsigned char kVersion = dbf::kVersion;
    static constexpr unsigned char kLanguageDriver1252 = dbf::kLanguageDriver1252;

    DbfFile();
    ~DbfFile();
    DbfFile(const DbfFile&) = delete;
    DbfFile& operator=(const DbfFile&) = delete;

    /// Writes an empty table. Throws StoreError if the file cannot be written or a field is
    /// not acceptable.
    static void create(const QString& path, const std::vector<FieldDef>& fields,
                       bool productionIndex, const std::vector<std::string>& indexedFields = {});

    /// Opens and validates the header. Throws StoreError naming the file and the reason.
    void open(const QString& path, bool writable);
    void close();
    bool isOpen() const { return m_fd >= 0; }
    bool isWritable() const { return m_writable; }
    const QString& path() const { return m_path; }

    const std::vector<DbfField>& fields() const { return m_fields; }
    /// Index of the field with this name (any letter case), or -1.
    int fieldIndex(std::string_view name) const;
    int recordLength() const { return m_recordLength; }
    int headerLength() const { return m_headerLength; }
    bool productionIndexFlag() const { return m_productionIndex; }
    unsigned char languageDriver() const { return m_languageDriver; }

    /// Complete records: the smaller of the header's count and what the file holds.
    uint32_t recordCount() const { return m_count; }
    /// The record count the header states (may differ from recordCount() on a damaged file).
    uint32_t headerCount() const { return m_headerCount; }

    /// The bytes of a record, flag byte first; valid until the next call on this object.
    const char* record(uint32_t recno);
    /// True for a live record, false for a deleted slot or one that holds no committed record.
    static bool isLive(const char* rec) { return rec[0] == dbf::kLive; }

    /// Rewrites a record; with publishNow the header's stamp is bumped at once, otherwise by
    /// the next publish().
    void writeRecord(uint32_t recno, const char* data, bool publishNow = true);
    /// Writes the record after the last one, then the end marker, then (with publishNow) the
    /// new count.
    uint32_t appendRecord(const char* data, bool publishNow = true);
    /// One header write: count, date, change stamp plus one, and the unfinished-change mark
    /// cleared. Rows held back (deferred) are written first; on a network file system the rows
    /// reach the server before the header.
    void publish();

    /// While on, appended and rewritten rows are kept in memory (and read from there) instead
    /// of being written: writePending() writes them, dropPending() forgets them. For the holder
    /// of the write lock, who publishes or drops them before letting go of it.
    void setDeferred(bool on);
    bool deferred() const { return m_deferred; }
    bool hasPending() const {
        return m_deferred && (m_count > m_deferFrom || !m_pendingEdits.empty());
    }
    /// Writes the rows held back: the appended ones and the end marker in one call, then each
    /// rewritten row.
    void writePending();
    /// Forgets the rows held back; the count goes back to what it was before them.
    void dropPending();
    /// Rows past the header's count found by refreshLocked() that nobody vouches for (a group
    /// of appends that never reached its journal): the file is cut after the count at the next
    /// append, and they are never adopted.
    void disownUnpublished();
    /// Whether the last refreshLocked() found rows past the count that were not seen before
    /// (the moment to decide on them: later writes change what the journal says).
    bool unpublishedJustFound() const { return m_unpublishedNew; }
    /// Header byte 14 as found: 0 none, 1 a single write, 2 a group of writes.
    unsigned char incompleteMark() const { return m_header[14]; }

    /// Writes today's date as dBASE headers keep it: years since 1900, month, day.
    static void stampToday(unsigned char* ymd);

    /// A record of blanks (live flag, every field spaces).
    std::string blankRecord() const;

    /// Whether the header on disk differs from the one last read or written here. Every writer
    /// of this engine bumps a change stamp in the header, so this also sees rows edited in
    /// place. Cheap: on a local disk it reads a shared mapping of the header, elsewhere one pread.
    bool headerChanged();
    /// Re-reads the header (always when forced, else only if headerChanged()) and drops the
    /// cached records when it changed. Returns whether it changed. Forced means the caller
    /// holds the table's write lock: see refreshLocked(). Throws StoreError, now and from then
    /// on, when another program changed the field list (restructured()).
    bool refresh(bool force = false);
    /// For the holder of the write lock: the folder is still there, the count is the one in
    /// the header read now (nothing read before the lock counts), and unless that header is
    /// the one this object wrote last, the last promised row is read to confirm it and rows
    /// a writer left unpublished after it are found. Returns whether anything changed.
    bool refreshLocked();
    /// Complete rows the file holds past the header's count (a writer stopped between its row
    /// and its count), as found by the last refreshLocked().
    uint32_t unpublishedRows() const { return m_unpublished; }
    /// Makes those rows part of the table (published by the next publish()); an append never
    /// writes over them.
    void adoptUnpublished();
    /// Drops the cached copies of these rows (changed elsewhere).
    void dropRecords(const std::vector<uint32_t>& recnos);
    /// Whether writes are forced to the server before the count that publishes them
    /// (fdatasync on network file systems, FUSE counted as one).
    bool syncWrites() const { return m_network; }
    void setSyncWrites(bool on) { m_network = on; }
    /// Whether the header promises more records than the file holds complete (known after a
    /// refreshLocked()).
    bool cutShort() const { return m_headerCount > m_count; }
    /// The bytes after the last complete record, a lone end marker left out.
    std::string tail();
    /// Ends the file after its last complete record (the end marker follows) and sets the
    /// header's count to match. Call under the header lock, after refreshLocked().
    void endAfterCompleteRecords();
    /// Sets header byte 28: a production index now belongs to the table.
    void setProductionIndexFlag();
    /// Bumps the change stamp (and date) without other changes: for writes to the index alone.
    void touch() { writeHeaderStamp(m_count); }
    /// Forgets the cached records.
    void dropCache();
    /// Reads one record again from the file, bypassing the cache.
    void reloadRecord(uint32_t recno);
    /// For the holder of the write lock: puts the bytes of a copy of this table (same field
    /// list, checked by the caller) in place of its own, rows first and the copy's header last
    /// with this change stamp, so that every process with the file open (this one too) drops
    /// what it cached at its next look. The file stays the same file (others keep it open).
    void replaceWith(int copyFd, const QString& copyName, uint32_t stamp);
    /// Counts this engine's writes to the table, in header bytes 16-19 (reserved there for
    /// multi-user use); other programs leave it alone.
    uint32_t changeStamp() const;
    /// Header byte 14 (dBASE IV's incomplete-transaction flag): set while this engine changes
    /// a row together with the index, so that a writer killed half-way leaves a mark.
    bool incomplete() const { return m_header[14] != 0; }
    void setIncomplete(bool on, unsigned char mark = 1);
    /// Whether the field list on disk was found changed; fields() still holds the one read at
    /// open, and the table must be opened again.
    bool isRestructured() const { return m_restructured; }
    /// True when the header is compared through a mapping rather than read per check.
    bool headerMapped() const { return m_map != nullptr; }
    int fd() const { return m_fd; }

private:
    void readHeader();
    [[noreturn]] void restructured();
    const unsigned char* readHeaderAndLayout();
    void checkLayout(const unsigned char* header);
    void mapHeader();
    void checkStillThere() const;
    void writeHeaderStamp(uint32_t count);
    void pwriteAll(const void* data, size_t size, int64_t offset);
    const char* bytesAt(int64_t offset, int length, uint32_t recno);
    void storeCached(int64_t offset, const char* data, int length);
    void confirmCount();

    QString m_path;
    int m_fd = -1;
    bool m_writable = false;
    std::vector<DbfField> m_fields;
    int m_headerLength = 0;
    int m_recordLength = 0;
    bool m_productionIndex = false;
    unsigned char m_languageDriver = 0;
    uint32_t m_count = 0;
    uint32_t m_headerCount = 0;
    int64_t m_fileSize = 0;
    unsigned char m_header[32] = {}; // the header as last read or written here
    std::string m_layout;            // field descriptors as read at open (header bytes 32..)
    std::string m_headerBuf;         // header and field list as refresh() reads them
    bool m_restructured = false;
    const unsigned char* m_map = nullptr;
    bool m_mapAllowed = false;
    int m_checks = 0;

    bool m_network = false;
    bool m_deferred = false;
    uint32_t m_deferFrom = 0;  // the count before the first row held back
    std::string m_pendingRows; // appended rows held back, from slot m_deferFrom + 1
    std::map<uint32_t, std::string> m_pendingEdits; // rewritten rows held back
    uint32_t m_unpublished = 0;
    bool m_unpublishedNew = false;
    bool m_cutTail = false;           // bytes past the last slot to cut at the next append
    unsigned char m_written[32] = {}; // the header as this object last wrote it, under the lock
    bool m_writtenValid = false;
    uint64_t m_dev = 0, m_ino = 0;

    BufferPool<char> m_pool; // before m_pages: outlives them
    struct Page {
        BufferPool<char>::Ptr data;
        int valid = 0; // bytes read into it
    };
    std::vector<Page> m_pages; // by file offset / kPageBytes
    size_t m_cachedPages = 0;
    int64_t m_lastMiss = -2; // page of the last read from the file, to spot a sequential walk
    std::string m_scratch;   // a row that straddles two pages
};

} // namespace qn
