#pragma once

#include <QString>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace qn {

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
    static constexpr unsigned char kVersion = 0x03;
    static constexpr unsigned char kLanguageDriver1252 = 0x57;

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
    static bool isLive(const char* rec) { return rec[0] == ' '; }

    /// Rewrites a record; with publishNow the header's stamp is bumped at once, otherwise by
    /// the next publish().
    void writeRecord(uint32_t recno, const char* data, bool publishNow = true);
    /// Writes the record after the last one, then the end marker, then (with publishNow) the
    /// new count.
    uint32_t appendRecord(const char* data, bool publishNow = true);
    /// One header write: count, date, change stamp plus one, and the unfinished-change mark
    /// cleared. On a network file system the rows written before reach the server first.
    void publish();

    /// A record of blanks (live flag, every field spaces).
    std::string blankRecord() const;

    /// Whether the header on disk differs from the one last read or written here. Every writer
    /// of this engine bumps a change stamp in the header, so this also sees rows edited in
    /// place. Cheap: on a local disk it reads a shared mapping of the header, elsewhere one pread.
    bool headerChanged();
    /// Re-reads the header (always when forced, else only if headerChanged()) and drops the
    /// cached records when it changed. Returns whether it changed. Forced means the caller
    /// holds the table's write lock: see refreshLocked().
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
    /// Bumps the change stamp (and date) without other changes: for writes to the index alone.
    void touch() { writeHeaderStamp(m_count); }
    /// Forgets the cached records.
    void dropCache();
    /// Reads one record again from the file, bypassing the cache.
    void reloadRecord(uint32_t recno);
    /// Counts this engine's writes to the table, in header bytes 16-19 (reserved there for
    /// multi-user use); other programs leave it alone.
    uint32_t changeStamp() const;
    /// Header byte 14 (dBASE IV's incomplete-transaction flag): set while this engine changes
    /// a row together with the index, so that a writer killed half-way leaves a mark.
    bool incomplete() const { return m_header[14] != 0; }
    void setIncomplete(bool on);
    /// True when the header is compared through a mapping rather than read per check.
    bool headerMapped() const { return m_map != nullptr; }
    int fd() const { return m_fd; }

private:
    void readHeader();
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
    const unsigned char* m_map = nullptr;
    bool m_mapAllowed = false;
    int m_checks = 0;

    bool m_network = false;
    uint32_t m_unpublished = 0;
    bool m_cutTail = false;           // bytes past the last slot to cut at the next append
    unsigned char m_written[32] = {}; // the header as this object last wrote it, under the lock
    bool m_writtenValid = false;
    uint64_t m_dev = 0, m_ino = 0;

    struct Page {
        std::unique_ptr<char[]> data;
        int valid = 0; // bytes read into it
    };
    std::vector<Page> m_pages; // by file offset / kPageBytes
    size_t m_cachedPages = 0;
    int64_t m_lastMiss = -2; // page of the last read from the file, to spot a sequential walk
    std::string m_scratch;   // a row that straddles two pages
};

} // namespace qn
