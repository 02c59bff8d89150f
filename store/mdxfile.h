#pragma once

// The dBASE IV production index (.mdx) as this engine reads and writes it. Integers are
// little-endian; the file is made of 512-byte pages (mdx::kPage), a block (tree node, tag
// header) is mdx::kPagesPerBlock pages, and every pointer in the file is a page number.
//
// File header, page 0:
//   OFFSET  SIZE  MEANING
//   0       1     version, 2
//   1       3     creation date: year - 1900, month, day
//   4       16    name of the table without extension, NUL-padded
//   20      2     pages per block (2)
//   22      2     block size in bytes (1024)
//   24      1     production index flag, 1
//   25      1     tag table slots (48)
//   26      1     length of a tag table entry (32)
//   27      1     reserved
//   28      2     tags in use (47 at most)
//   30      2     reserved
//   32      4     page count = next page to allocate at the end
//   36      4     first free page; 0 (we never recycle blocks, as dBASE does not)
//   40      4     free blocks; 0
//   44      3     date of the last change
//   47      497   reserved
//
// Tag table, 32-byte entries from offset 544 (mdx::kTagTableAt) to 2047:
//   0       4     page of the tag's header block
//   4       11    tag name, NUL-padded
//   15      1     key format, 0x10
//   16      1     left thread: 1-based entry of the tag whose name sorts before
//   17      1     right thread
//   18      1     parent thread (0 for the root of the name tree)
//   19      1     0x02
//   20      1     key type C, N or D
//   21      11    reserved
//
// Tag header block, from page 4 on:
//   0       4     page of the root node
//   4       4     size of the tag in pages
//   8       1     key format: 0x10, + 0x08 descending, + 0x40 unique
//   9       1     key type
//   12      2     key length (C: expression width; N: 12; D: 8)
//   14      2     most keys in a node = (block size - 12) / item length
//   16      2     1 for a date key, else 0
//   18      2     item length = 4 + key length rounded up to a multiple of 4
//   23      1     unique flag
//   24      220   key expression, NUL-terminated
//   245     1     1 when a FOR expression is present
//   248     4     root page again (as other writers keep it)
//   252     4     root page again
//   257     3     date of the tag
//   762     220   FOR expression, NUL-terminated
//
// Node block:
//   0       4     number of keys n
//   4       4     0 (next free page of a freed block in other writers)
//   8       n x item: 4-byte pointer, then the key padded to the item length. In a leaf the
//                 pointer is a record number; in an interior node, the page of the child whose
//                 largest key this is
//   8+n x item 4  0 in a leaf; in an interior node the child for keys above the last one
// Keys: C as stored bytes, blank-padded; N as 12-byte BCD (mdx keyBcd); D as a little-endian
// double holding the Julian day.
//
// The index lock is one byte at 0xEFFFFFFE of this file (filelock.h).
//
// Invariants (asserted where QUILLNET_CHECKED is set, checked in full by MdxTag::check()):
//   - in every node 0 <= n <= most keys, and 8 + n x item + 4 <= block size;
//   - entries ascend by (key, record number) through a leaf and across leaves, so that no
//     (key, record number) pair occurs twice; an interior key is the largest of its subtree;
//   - every leaf is at the same depth; every pointer to a page is >= 4 and below the page
//     count, and the page count x 512 is at most the file size (plus one block being written);
//   - the free list is empty: blocks are only appended;
//   - a leaf entry's record number lies in 1..the table's complete records, and that record is
//     live and has this key (TableFile checks this when it follows an entry).

#include "bufferpool.h"

#include <QString>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace qn {

class MdxFile;

/// Byte positions and values of the layout above.
namespace mdx {
constexpr int kPage = 512;
constexpr int kPagesPerBlock = 2;
constexpr int kVersion = 2;
constexpr int kTableNameAt = 4;
constexpr int kTableNameSize = 16;
constexpr int kPagesPerBlockAt = 20;
constexpr int kBlockSizeAt = 22;
constexpr int kProductionAt = 24;
constexpr int kTagSlotsAt = 25;
constexpr int kTagSlots = 48;
constexpr int kTagEntryLengthAt = 26;
constexpr int kTagsInUseAt = 28;
constexpr int kPageCountAt = 32;
constexpr int kFreeListAt = 36;
constexpr int kDateAt = 44;
constexpr int kTagTableAt = 544;
constexpr int kTagEntrySize = 32;
constexpr int kHeaderBytes = 2048; // header and tag table: pages 0 to 3
constexpr uint32_t kFirstTagPage = 4;
// Tag table entry
constexpr int kEntryNameAt = 4;
constexpr int kEntryFormatAt = 15;
constexpr int kEntryLeftAt = 16;
constexpr int kEntryRightAt = 17;
constexpr int kEntryParentAt = 18;
constexpr int kEntryMarkAt = 19;
constexpr int kEntryKeyTypeAt = 20;
// Tag header block
constexpr int kRootAt = 0;
constexpr int kFormatAt = 8;
constexpr int kKeyTypeAt = 9;
constexpr int kKeyLengthAt = 12;
constexpr int kMaxKeysAt = 14;
constexpr int kDateKeyAt = 16;
constexpr int kItemLengthAt = 18;
constexpr int kUniqueAt = 23;
constexpr int kExpressionAt = 24;
constexpr int kExpressionSize = 220;
constexpr int kHasForAt = 245;
constexpr int kRootCopyAt = 248;
constexpr int kRootCopy2At = 252;
constexpr int kTagDateAt = 257;
constexpr int kForAt = 762;
constexpr unsigned char kFormatBase = 0x10;
constexpr unsigned char kFormatDescending = 0x08;
constexpr unsigned char kFormatUnique = 0x40;
// Node block
constexpr int kNodeItemsAt = 8;
constexpr int kNumberKeyLength = 12;
constexpr int kDateKeyLength = 8;
} // namespace mdx

/// How a tag is declared when an index file is created.
struct TagSpec {
    std::string name;       // at most 10 characters
    std::string expression; // key expression as stored in the file
    std::string forExpression;
    char keyType = 'C'; // C, N or D
    int keyLength = 0;  // C: width of the expression; N: 12; D: 8
    bool unique = false;
    bool descending = false;
};

/// One tag of a production index: a B-tree of (key, record number) entries in the dBASE IV
/// layout. Entries with equal keys are kept in record-number order and every search compares
/// (key, record number), so inserting into a long run of one key stays logarithmic.
class MdxTag {
public:
    struct Entry {
        std::string key;
        uint32_t recno = 0;
    };

    const std::string& name() const { return m_name; }
    const std::string& expression() const { return m_expression; }
    const std::string& forExpression() const { return m_forExpression; }
    char keyType() const { return m_keyType; }
    int keyLength() const { return m_keyLength; }
    bool unique() const { return m_unique; }
    bool descending() const { return m_descending; }

    /// Orders two keys of this tag (descending tags reversed).
    int compareKeys(const char* a, const char* b) const;

    bool first(Entry& out);
    bool last(Entry& out);
    /// The first entry at or after (key, recno).
    bool seek(std::string_view key, uint32_t recno, Entry& out);
    /// The entry after / before the entry at (key, recno).
    bool next(std::string_view key, uint32_t recno, Entry& out);
    bool prior(std::string_view key, uint32_t recno, Entry& out);

    void insert(std::string_view key, uint32_t recno);
    /// Removes the entry; false when it is not there.
    bool remove(std::string_view key, uint32_t recno);
    /// Empties the tag (a new root leaf).
    void clear();

    /// Walks the whole tree, checks its structure and order, and returns every entry in order.
    /// Throws StoreError describing the first fault found.
    std::vector<Entry> check();

private:
    friend class MdxFile;
    struct Step {
        uint32_t page;
        int slot;
    };
    using Path = std::vector<Step>;

    explicit MdxTag(MdxFile* file) : m_file(file) {}
    int compareEntry(const unsigned char* node, int i, std::string_view key, uint64_t recno) const;
    const unsigned char* node(uint32_t page) const;
    unsigned char* writable(uint32_t page);
    int count(const unsigned char* n) const;
    bool isLeaf(const unsigned char* n) const;
    uint32_t pointer(const unsigned char* n, int i) const;
    const char* keyAt(const unsigned char* n, int i) const;
    uint32_t child(const unsigned char* n, int slot) const;
    bool subtreeMax(uint32_t page, std::string& key, uint32_t& recno) const;
    int chooseChild(const unsigned char* n, std::string_view key, uint64_t recno) const;
    void descend(std::string_view key, uint64_t recno, Path& path) const;
    void descendEdge(uint32_t page, bool rightmost, Path& path) const;
    bool normalise(Path& path) const;
    bool advance(Path& path) const;
    bool retreat(Path& path) const;
    bool entryAt(const Path& path, Entry& out) const;
    bool seekPath(std::string_view key, uint64_t recno, Path& path) const;
    void insertIntoParent(Path& path, size_t level, const std::string& key, uint32_t leftPage);
    void removeSlot(Path& path, size_t level);
    void setRoot(uint32_t page);
    void checkNode(uint32_t page, int depth, int& leafDepth, std::vector<Entry>& out,
                   const std::string* upper, int guard);

    MdxFile* m_file;
    std::string m_name;
    std::string m_expression;
    std::string m_forExpression;
    uint32_t m_headerPage = 0;
    uint32_t m_root = 0;
    char m_keyType = 'C';
    int m_keyLength = 0;
    int m_itemLength = 0;
    int m_maxKeys = 0;
    bool m_unique = false;
    bool m_descending = false;
};

/// A dBASE IV production index file: header, tag table, tag headers and B-tree blocks. Blocks
/// are cached; changes are written by flush(). Emptied blocks are not reused (as dBASE does),
/// so a rebuild compacts the file.
///
/// Change journal: header bytes 48-511 (unused by dBASE) hold this engine's list of the blocks
/// (and table rows) the last few writes changed, with a sequence number, the table's change
/// stamp and count that the write publishes, and a checksum. Another process that sees the
/// table's stamp move re-reads that one page and drops only the blocks listed since its last
/// look; anything it cannot vouch for (no journal, a gap, a stamp that is not the table's)
/// drops every block. The journal is written before the blocks, so a write stopped half-way
/// leaves a journal ahead of the table's stamp: the unfinished-change mark.
class MdxFile {
public:
    MdxFile();
    ~MdxFile();
    MdxFile(const MdxFile&) = delete;
    MdxFile& operator=(const MdxFile&) = delete;

    static constexpr int kBlockSize = mdx::kPage * mdx::kPagesPerBlock;
    static constexpr int kMaxTags = 47;

    /// Writes an index file with empty tags. Throws StoreError.
    static void create(const QString& path, const std::string& tableName,
                       const std::vector<TagSpec>& tags);

    void open(const QString& path, bool writable);
    void close();
    bool isOpen() const { return m_fd >= 0; }
    const QString& path() const { return m_path; }

    int tagCount() const { return static_cast<int>(m_tags.size()); }
    MdxTag& tag(int i) { return *m_tags[size_t(i)]; }
    /// The tag with this name in any letter case, or nullptr.
    MdxTag* findTag(std::string_view name);

    /// Writes the journal (naming the changed blocks and these changed table rows, and the
    /// table stamp and count the caller publishes next), then every changed block, adjacent
    /// ones in one call; on a network file system they reach the server before it returns.
    void flush(uint32_t tableStamp, uint32_t tableCount, const std::vector<uint32_t>& rows = {});
    void flush() { flush(0, 0); }
    /// Drops cached blocks that are not waiting to be written.
    void dropCache();
    /// What another process changed since this file last looked.
    struct Changes {
        bool everything = true;     // no journal to go by: every cached row is suspect too
        std::vector<uint32_t> rows; // else the table rows rewritten in place
    };
    /// Re-reads the header page and drops what changed since the last look: the blocks the
    /// journal lists when it vouches for the table state (stamp, count) just read, else every
    /// block; pending writes are forgotten. Throws StoreError if the tags changed.
    Changes refresh(uint32_t tableStamp, uint32_t tableCount);
    void refresh() { refresh(0, 0); }
    /// Whether the journal shows a write that did not reach the table (its stamp and count
    /// are not the table's).
    bool unfinished(uint32_t tableStamp, uint32_t tableCount) const {
        return m_journalValid && (m_journalStamp != tableStamp || m_journalCount != tableCount);
    }
    bool hasJournal() const { return m_journalValid; }
    /// Whether the journal was written for exactly this table state: the last write that got
    /// as far as its journal was published.
    bool journalAt(uint32_t tableStamp, uint32_t tableCount) const {
        return m_journalValid && m_journalStamp == tableStamp && m_journalCount == tableCount;
    }
    void setSyncWrites(bool on) { m_sync = on; }
    /// Takes the journal read at open as the base for the next refresh() when it describes
    /// the table state the caller read (its stamp and count).
    void baseline(uint32_t tableStamp, uint32_t tableCount) {
        m_journalSeen = m_journalValid && !unfinished(tableStamp, tableCount);
    }
    int fd() const { return m_fd; }

    /// Throws StoreError unless the index file open on copyFd has this file's block size and
    /// tags (names, header blocks, order): only then can it take this file's place while other
    /// processes keep their tags open.
    void checkCopy(int copyFd, const QString& copyName) const;
    /// For the holder of the table's write lock: puts the bytes of a copy of this index (see
    /// checkCopy()) in place of its own, the header page last with a journal that names no
    /// block and starts past every sequence either file had, for the table stamp and count the
    /// caller publishes next. So every process with the file open, this one included, drops
    /// every cached block at its next refresh().
    void replaceWith(int copyFd, const QString& copyName, uint32_t tableStamp, uint32_t tableCount);

    /// Records which blocks are read from the file from now on, so that a reader that did not
    /// hold a lock can tell whether it saw only blocks it had before.
    void startFetchLog();
    /// Stops recording; true when some block came from the file since the start.
    bool stopFetchLog();
    /// Drops the blocks read while recording (they may be from a half-written change).
    void dropFetched();

private:
    friend class MdxTag;
    struct Block {
        BufferPool<unsigned char>::Ptr data;
        bool dirty = false;
    };
    Block& block(uint32_t page);
    Block& slot(uint32_t page);
    void markDirty(uint32_t page, Block& b);
    uint32_t allocate();
    void readHeader();
    bool readJournal(const unsigned char* page0, uint32_t& seq, uint32_t& floor,
                     std::vector<std::pair<uint32_t, uint32_t>>& entries);
    [[noreturn]] void corrupt(const QString& why) const;

    QString m_path;
    int m_fd = -1;
    bool m_writable = false;
    int m_blockSize = kBlockSize;
    int m_pagesPerBlock = 2;
    uint32_t m_pageCount = 0;
    int64_t m_fileSize = 0;
    bool m_headerDirty = false;
    bool m_sync = false;
    unsigned char m_head[16] = {}; // header bytes 32-47 as last read or written
    bool m_journalValid = false;   // the file has a journal; m_seq is its sequence
    bool m_journalSeen = false;    // and it described the table state this file last saw
    uint32_t m_seq = 0;
    uint32_t m_floor = 0;
    uint32_t m_journalStamp = 0;
    uint32_t m_journalCount = 0;
    std::vector<std::pair<uint32_t, uint32_t>> m_journal; // (block page or row | top bit, seq)
    std::vector<std::unique_ptr<MdxTag>> m_tags;
    BufferPool<unsigned char> m_pool; // before m_blocks: outlives them
    // Cached blocks by page number, in small chunks: opening a large file allocates little, and
    // lookups scattered over it (each in a chunk of its own) zero little.
    static constexpr size_t kChunkPages = 32;
    std::vector<std::unique_ptr<Block[]>> m_blocks;
    std::vector<uint32_t> m_dirtyPages; // in the order they were first changed
    bool m_logFetches = false;
    std::vector<uint32_t> m_fetched;
};

} // namespace qn
