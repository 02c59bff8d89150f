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

    /// Writes every changed block and the header.
    void flush();
    /// Drops cached blocks that are not waiting to be written.
    void dropCache();
    /// Forgets every cached block (pending writes too) and re-reads the page count and each
    /// tag's root: what another process changed since. Throws StoreError if the tags changed.
    void refresh();
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
    [[noreturn]] void corrupt(const QString& why) const;

    QString m_path;
    int m_fd = -1;
    bool m_writable = false;
    int m_blockSize = kBlockSize;
    int m_pagesPerBlock = 2;
    uint32_t m_pageCount = 0;
    int64_t m_fileSize = 0;
    bool m_headerDirty = false;
    std::vector<std::unique_ptr<MdxTag>> m_tags;
    // Cached blocks by page number, in chunks so that opening a large file allocates little.
    static constexpr size_t kChunkPages = 256;
    std::vector<std::unique_ptr<Block[]>> m_blocks;
    unsigned char m_writtenHeader[7] = {}; // page count and date as this file last wrote them
    std::vector<uint32_t> m_dirtyPages;    // in the order they were first changed
    bool m_logFetches = false;
    std::vector<uint32_t> m_fetched;
};

} // namespace qn
