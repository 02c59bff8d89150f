#pragma once

#include <QString>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace qn {

class MdxFile;

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

    static constexpr int kBlockSize = 1024;
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
    void setSyncWrites(bool on) { m_sync = on; }
    /// Takes the journal read at open as the base for the next refresh() when it describes
    /// the table state the caller read (its stamp and count).
    void baseline(uint32_t tableStamp, uint32_t tableCount) {
        m_journalSeen = m_journalValid && !unfinished(tableStamp, tableCount);
    }
    int fd() const { return m_fd; }

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
        std::unique_ptr<unsigned char[]> data;
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
    // Cached blocks by page number, in chunks so that opening a large file allocates little.
    static constexpr size_t kChunkPages = 256;
    std::vector<std::unique_ptr<Block[]>> m_blocks;
    std::vector<uint32_t> m_dirtyPages; // in the order they were first changed
    bool m_logFetches = false;
    std::vector<uint32_t> m_fetched;
};

} // namespace qn
