#include "mdxfile.h"

#include "dbffile.h"
#include "error.h"

#include <QDate>
#include <QFile>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

namespace qn {
namespace {

constexpr int kPage = mdx::kPage;
constexpr int kMaxDepth = 40;

uint16_t get16(const unsigned char* p) {
    return uint16_t(p[0] | (p[1] << 8));
}
uint32_t get32(const unsigned char* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
void put16(unsigned char* p, uint16_t v) {
    p[0] = v & 0xFF;
    p[1] = v >> 8;
}
void put32(unsigned char* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = (v >> (8 * i)) & 0xFF;
}

QString sysError() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

// The change journal in header bytes 48-511 (see MdxFile).
constexpr int kJournalAt = 48;
constexpr unsigned char kJournalMagic[4] = {'Q', 'N', 'J', '1'};
constexpr int kJournalEntriesAt = 76;
constexpr size_t kJournalCapacity = (kPage - kJournalEntriesAt) / 8;
constexpr uint32_t kRowEntry = 0x80000000u;

uint32_t checksum(const unsigned char* p, size_t n) {
    uint32_t h = 2166136261u;
    for (size_t i = 0; i < n; ++i)
        h = (h ^ p[i]) * 16777619u;
    return h;
}

double decodeBcd(const unsigned char* k) {
    int intDigits = int(k[0]) - 52;
    int digits = k[1] >> 2 & 0x1F;
    bool negative = k[1] & 0x80;
    double v = 0;
    for (int i = 0; i < digits && i < 20; ++i) {
        int d = (k[2 + i / 2] >> (i % 2 == 0 ? 4 : 0)) & 0x0F;
        v = v * 10 + d;
    }
    v *= std::pow(10.0, intDigits - digits);
    return negative ? -v : v;
}

double getDouble(const char* p) {
    double d;
    std::memcpy(&d, p, sizeof d); // little-endian on every platform we build for
    return d;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// MdxTag

int MdxTag::compareKeys(const char* a, const char* b) const {
    int c;
    if (m_keyType == 'N') {
        double x = decodeBcd(reinterpret_cast<const unsigned char*>(a));
        double y = decodeBcd(reinterpret_cast<const unsigned char*>(b));
        c = x < y ? -1 : x > y ? 1 : 0;
    } else if (m_keyType == 'D') {
        double x = getDouble(a), y = getDouble(b);
        c = x < y ? -1 : x > y ? 1 : 0;
    } else {
        c = std::memcmp(a, b, size_t(m_keyLength));
    }
    return m_descending ? -c : c;
}

const unsigned char* MdxTag::node(uint32_t page) const {
    const unsigned char* n = m_file->block(page).data.get();
    int c = static_cast<int32_t>(get32(n));
    if (c < 0 || 8 + int64_t(c) * m_itemLength + 4 > m_file->m_blockSize)
        m_file->corrupt(QStringLiteral("tag %1 has a node at page %2 with %3 keys")
                            .arg(QString::fromStdString(m_name))
                            .arg(page)
                            .arg(c));
    return n;
}

unsigned char* MdxTag::writable(uint32_t page) {
    node(page);
    MdxFile::Block& b = m_file->block(page);
    m_file->markDirty(page, b);
    return b.data.get();
}

int MdxTag::count(const unsigned char* n) const {
    return static_cast<int32_t>(get32(n));
}
uint32_t MdxTag::pointer(const unsigned char* n, int i) const {
    return get32(n + 8 + i * m_itemLength);
}
const char* MdxTag::keyAt(const unsigned char* n, int i) const {
    return reinterpret_cast<const char*>(n + 8 + i * m_itemLength + 4);
}
bool MdxTag::isLeaf(const unsigned char* n) const {
    return pointer(n, count(n)) == 0;
}
uint32_t MdxTag::child(const unsigned char* n, int slot) const {
    return pointer(n, slot);
}

int MdxTag::compareEntry(const unsigned char* n, int i, std::string_view key,
                         uint64_t recno) const {
    int c = compareKeys(keyAt(n, i), key.data());
    if (c != 0)
        return c;
    uint64_t r = pointer(n, i);
    return r < recno ? -1 : r > recno ? 1 : 0;
}

bool MdxTag::subtreeMax(uint32_t page, std::string& key, uint32_t& recno) const {
    for (int depth = 0; depth < kMaxDepth; ++depth) {
        const unsigned char* n = node(page);
        int c = count(n);
        if (isLeaf(n)) {
            if (c == 0)
                return false;
            key.assign(keyAt(n, c - 1), size_t(m_keyLength));
            recno = pointer(n, c - 1);
            return true;
        }
        page = child(n, c);
    }
    m_file->corrupt(
        QStringLiteral("tag %1 is deeper than any valid tree").arg(QString::fromStdString(m_name)));
}

int MdxTag::chooseChild(const unsigned char* n, std::string_view key, uint64_t recno) const {
    int c = count(n);
    int lo = 0, hi = c;
    while (lo < hi) { // first separator >= key
        int mid = (lo + hi) / 2;
        if (compareKeys(keyAt(n, mid), key.data()) < 0)
            lo = mid + 1;
        else
            hi = mid;
    }
    if (lo == c || compareKeys(keyAt(n, lo), key.data()) > 0)
        return lo;
    int end = c;
    int a = lo + 1;
    while (a < end) { // first separator > key
        int mid = (a + end) / 2;
        if (compareKeys(keyAt(n, mid), key.data()) <= 0)
            a = mid + 1;
        else
            end = mid;
    }
    // Children lo..end-1 end in this key; find the first whose last entry reaches recno.
    int from = lo, to = end;
    std::string maxKey;
    uint32_t maxRec = 0;
    while (from < to) {
        int mid = (from + to) / 2;
        bool reaches = false;
        if (subtreeMax(child(n, mid), maxKey, maxRec)) {
            int k = compareKeys(maxKey.data(), key.data());
            reaches = k > 0 || (k == 0 && maxRec >= recno);
        }
        if (reaches)
            to = mid;
        else
            from = mid + 1;
    }
    return from;
}

void MdxTag::descend(std::string_view key, uint64_t recno, Path& path) const {
    path.clear();
    uint32_t page = m_root;
    for (int depth = 0; depth < kMaxDepth; ++depth) {
        const unsigned char* n = node(page);
        if (isLeaf(n)) {
            int lo = 0, hi = count(n);
            while (lo < hi) {
                int mid = (lo + hi) / 2;
                if (compareEntry(n, mid, key, recno) < 0)
                    lo = mid + 1;
                else
                    hi = mid;
            }
            path.push_back({page, lo});
            return;
        }
        int slot = chooseChild(n, key, recno);
        path.push_back({page, slot});
        page = child(n, slot);
    }
    m_file->corrupt(
        QStringLiteral("tag %1 is deeper than any valid tree").arg(QString::fromStdString(m_name)));
}

void MdxTag::descendEdge(uint32_t page, bool rightmost, Path& path) const {
    for (size_t guard = path.size(); guard < kMaxDepth; ++guard) {
        const unsigned char* n = node(page);
        int c = count(n);
        if (isLeaf(n)) {
            path.push_back({page, rightmost ? c - 1 : 0});
            return;
        }
        int slot = rightmost ? c : 0;
        path.push_back({page, slot});
        page = child(n, slot);
    }
    m_file->corrupt(
        QStringLiteral("tag %1 is deeper than any valid tree").arg(QString::fromStdString(m_name)));
}

bool MdxTag::normalise(Path& path) const {
    for (;;) {
        if (path.back().slot < count(node(path.back().page)))
            return true;
        size_t level = path.size() - 1;
        for (;;) {
            if (level == 0)
                return false;
            --level;
            const unsigned char* n = node(path[level].page);
            if (path[level].slot < count(n)) {
                ++path[level].slot;
                path.resize(level + 1);
                descendEdge(child(n, path[level].slot), false, path);
                break;
            }
        }
    }
}

bool MdxTag::advance(Path& path) const {
    ++path.back().slot;
    return normalise(path);
}

bool MdxTag::retreat(Path& path) const {
    --path.back().slot;
    while (path.back().slot < 0) {
        size_t level = path.size() - 1;
        for (;;) {
            if (level == 0)
                return false;
            --level;
            if (path[level].slot > 0) {
                --path[level].slot;
                const unsigned char* n = node(path[level].page);
                path.resize(level + 1);
                descendEdge(child(n, path[level].slot), true, path);
                break;
            }
        }
    }
    return true;
}

bool MdxTag::entryAt(const Path& path, Entry& out) const {
    const unsigned char* n = node(path.back().page);
    int i = path.back().slot;
    if (i < 0 || i >= count(n))
        return false;
    out.key.assign(keyAt(n, i), size_t(m_keyLength));
    out.recno = pointer(n, i);
    return true;
}

bool MdxTag::seekPath(std::string_view key, uint64_t recno, Path& path) const {
    descend(key, recno, path);
    return normalise(path);
}

bool MdxTag::first(Entry& out) {
    Path path;
    descendEdge(m_root, false, path);
    return normalise(path) && entryAt(path, out);
}

bool MdxTag::last(Entry& out) {
    Path path;
    descendEdge(m_root, true, path);
    if (path.back().slot < 0 && !retreat(path))
        return false;
    return entryAt(path, out);
}

bool MdxTag::seek(std::string_view key, uint32_t recno, Entry& out) {
    Path path;
    return seekPath(key, recno, path) && entryAt(path, out);
}

bool MdxTag::next(std::string_view key, uint32_t recno, Entry& out) {
    Path path;
    return seekPath(key, uint64_t(recno) + 1, path) && entryAt(path, out);
}

bool MdxTag::prior(std::string_view key, uint32_t recno, Entry& out) {
    Path path;
    descend(key, recno, path);
    return retreat(path) && entryAt(path, out);
}

void MdxTag::insert(std::string_view key, uint32_t recno) {
    Path path;
    descend(key, recno, path);
    const Step leaf = path.back();
    unsigned char* n = writable(leaf.page);
    int c = count(n);
    int pos = leaf.slot;
    // (key, record) pairs ascend through a leaf; a neighbour out of order is damage.
    if ((pos > 0 && compareEntry(n, pos - 1, key, recno) >= 0) ||
        (pos < c && compareEntry(n, pos, key, recno) <= 0))
        m_file->corrupt(QStringLiteral("tag %1 is out of order at page %2")
                            .arg(QString::fromStdString(m_name))
                            .arg(leaf.page));
    if (c < m_maxKeys) {
        unsigned char* at = n + 8 + pos * m_itemLength;
        std::memmove(at + m_itemLength, at, size_t((c - pos) * m_itemLength + 4));
        put32(at, recno);
        std::memset(at + 4, 0, size_t(m_itemLength - 4));
        std::memcpy(at + 4, key.data(), size_t(m_keyLength));
        put32(n, uint32_t(c + 1));
        return;
    }
    // Split: gather c + 1 items, keep the right part in place and move the left part out.
    std::vector<unsigned char> items(size_t((c + 1) * m_itemLength));
    std::memcpy(items.data(), n + 8, size_t(pos * m_itemLength));
    unsigned char* fresh = items.data() + pos * m_itemLength;
    put32(fresh, recno);
    std::memcpy(fresh + 4, key.data(), size_t(m_keyLength));
    std::memcpy(fresh + m_itemLength, n + 8 + pos * m_itemLength, size_t((c - pos) * m_itemLength));
    bool rightEdge = pos == c;
    for (size_t i = 0; i + 1 < path.size() && rightEdge; ++i)
        rightEdge = path[i].slot == count(node(path[i].page));
    int total = c + 1;
    int m = rightEdge ? m_maxKeys : total / 2; // appends in key order keep leaves full
    uint32_t leftPage = m_file->allocate();
    unsigned char* left = writable(leftPage);
    n = writable(leaf.page);
    std::memset(left, 0, size_t(m_file->m_blockSize));
    put32(left, uint32_t(m));
    std::memcpy(left + 8, items.data(), size_t(m * m_itemLength));
    std::memset(n + 8, 0, size_t(m_file->m_blockSize - 8));
    put32(n, uint32_t(total - m));
    std::memcpy(n + 8, items.data() + m * m_itemLength, size_t((total - m) * m_itemLength));
    std::string sep(reinterpret_cast<const char*>(items.data() + (m - 1) * m_itemLength + 4),
                    size_t(m_keyLength));
    insertIntoParent(path, path.size() - 1, sep, leftPage);
}

// Puts (key, leftPage) into the node above path[level], just before the pointer that leads to
// the node that was split.
void MdxTag::insertIntoParent(Path& path, size_t level, const std::string& key, uint32_t leftPage) {
    if (level == 0) {
        uint32_t rootPage = m_file->allocate();
        unsigned char* r = writable(rootPage);
        std::memset(r, 0, size_t(m_file->m_blockSize));
        put32(r, 1);
        put32(r + 8, leftPage);
        std::memcpy(r + 12, key.data(), size_t(m_keyLength));
        put32(r + 8 + m_itemLength, path[0].page);
        setRoot(rootPage);
        return;
    }
    const Step parent = path[level - 1];
    unsigned char* n = writable(parent.page);
    int c = count(n);
    int slot = parent.slot;
    if (c < m_maxKeys) {
        unsigned char* at = n + 8 + slot * m_itemLength;
        std::memmove(at + m_itemLength, at, size_t((c - slot) * m_itemLength + 4));
        put32(at, leftPage);
        std::memset(at + 4, 0, size_t(m_itemLength - 4));
        std::memcpy(at + 4, key.data(), size_t(m_keyLength));
        put32(n, uint32_t(c + 1));
        return;
    }
    int total = c + 1;
    std::vector<unsigned char> items(size_t(total * m_itemLength));
    std::memcpy(items.data(), n + 8, size_t(slot * m_itemLength));
    unsigned char* fresh = items.data() + slot * m_itemLength;
    put32(fresh, leftPage);
    std::memcpy(fresh + 4, key.data(), size_t(m_keyLength));
    std::memcpy(fresh + m_itemLength, n + 8 + slot * m_itemLength,
                size_t((c - slot) * m_itemLength));
    uint32_t trailing = pointer(n, c);
    int m = slot == c ? total - 2 : total / 2;
    // Left: items [0, m) with the child of item m as its last pointer; item m's key goes up.
    uint32_t newPage = m_file->allocate();
    unsigned char* left = writable(newPage);
    n = writable(parent.page);
    std::memset(left, 0, size_t(m_file->m_blockSize));
    put32(left, uint32_t(m));
    std::memcpy(left + 8, items.data(), size_t(m * m_itemLength));
    put32(left + 8 + m * m_itemLength, get32(items.data() + m * m_itemLength));
    int rightCount = total - m - 1;
    std::memset(n + 8, 0, size_t(m_file->m_blockSize - 8));
    put32(n, uint32_t(rightCount));
    std::memcpy(n + 8, items.data() + (m + 1) * m_itemLength, size_t(rightCount * m_itemLength));
    put32(n + 8 + rightCount * m_itemLength, trailing);
    std::string up(reinterpret_cast<const char*>(items.data() + m * m_itemLength + 4),
                   size_t(m_keyLength));
    insertIntoParent(path, level - 1, up, newPage);
}

bool MdxTag::remove(std::string_view key, uint32_t recno) {
    Path path;
    descend(key, recno, path);
    const Step leaf = path.back();
    const unsigned char* r = node(leaf.page);
    if (leaf.slot >= count(r) || compareEntry(r, leaf.slot, key, recno) != 0)
        return false;
    unsigned char* n = writable(leaf.page);
    int c = count(n);
    unsigned char* at = n + 8 + leaf.slot * m_itemLength;
    std::memmove(at, at + m_itemLength, size_t((c - leaf.slot - 1) * m_itemLength + 4));
    std::memset(n + 8 + (c - 1) * m_itemLength + 4, 0, size_t(m_itemLength));
    put32(n, uint32_t(c - 1));
    if (c - 1 == 0 && path.size() > 1)
        removeSlot(path, path.size() - 2);
    return true;
}

// Drops the pointer at path[level] (its child became empty) and folds away a node left with
// only its last pointer.
void MdxTag::removeSlot(Path& path, size_t level) {
    const Step s = path[level];
    unsigned char* n = writable(s.page);
    int c = count(n);
    if (s.slot < c) {
        unsigned char* at = n + 8 + s.slot * m_itemLength;
        std::memmove(at, at + m_itemLength, size_t((c - s.slot - 1) * m_itemLength + 4));
    } else {
        put32(n + 8 + (c - 1) * m_itemLength, pointer(n, c - 1));
    }
    std::memset(n + 8 + (c - 1) * m_itemLength + 4, 0, size_t(m_itemLength));
    put32(n, uint32_t(c - 1));
    if (c - 1 > 0)
        return;
    uint32_t only = pointer(n, 0);
    if (level == 0) {
        setRoot(only);
        return;
    }
    const Step g = path[level - 1];
    unsigned char* gp = writable(g.page);
    put32(gp + 8 + g.slot * m_itemLength, only);
}

void MdxTag::setRoot(uint32_t page) {
    m_root = page;
    MdxFile::Block& b = m_file->block(m_headerPage);
    put32(b.data.get(), page);
    m_file->markDirty(m_headerPage, b);
}

void MdxTag::clear() {
    uint32_t page = m_file->allocate();
    std::memset(writable(page), 0, size_t(m_file->m_blockSize));
    setRoot(page);
}

void MdxTag::checkNode(uint32_t page, int depth, int& leafDepth, std::vector<Entry>& out,
                       const std::string* upper, int guard) {
    auto fault = [&](const QString& why) {
        throw StoreError(QStringLiteral("Index tag %1 of %2 is damaged: %3 (page %4).")
                             .arg(QString::fromStdString(m_name), m_file->path(), why)
                             .arg(page));
    };
    if (guard > kMaxDepth)
        fault(QStringLiteral("the tree is too deep"));
    const unsigned char* n = node(page);
    int c = count(n);
    if (isLeaf(n)) {
        if (leafDepth < 0)
            leafDepth = depth;
        else if (leafDepth != depth)
            fault(QStringLiteral("leaves at different depths"));
        if (c == 0 && depth > 0)
            fault(QStringLiteral("an empty leaf"));
        for (int i = 0; i < c; ++i) {
            Entry e{std::string(keyAt(n, i), size_t(m_keyLength)), pointer(n, i)};
            if (!out.empty()) {
                int k = compareKeys(out.back().key.data(), e.key.data());
                if (k > 0 || (k == 0 && out.back().recno >= e.recno))
                    fault(QStringLiteral("entries out of order"));
            }
            if (upper && compareKeys(e.key.data(), upper->data()) > 0)
                fault(QStringLiteral("a key above its separator"));
            out.push_back(std::move(e));
        }
        return;
    }
    if (c == 0)
        fault(QStringLiteral("an interior node without keys"));
    for (int i = 0; i <= c; ++i) {
        std::string sep;
        if (i < c) {
            sep.assign(keyAt(n, i), size_t(m_keyLength));
            if (upper && compareKeys(sep.data(), upper->data()) > 0)
                fault(QStringLiteral("a separator above its parent's"));
        }
        size_t before = out.size();
        checkNode(child(n, i), depth + 1, leafDepth, out, i < c ? &sep : upper, guard + 1);
        if (i > 0 && before < out.size()) {
            std::string prevSep(keyAt(n, i - 1), size_t(m_keyLength));
            if (compareKeys(out[before].key.data(), prevSep.data()) < 0)
                fault(QStringLiteral("a key below its separator"));
        }
    }
}

std::vector<MdxTag::Entry> MdxTag::check() {
    std::vector<Entry> out;
    int leafDepth = -1;
    checkNode(m_root, 0, leafDepth, out, nullptr, 0);
    if (m_unique)
        for (size_t i = 1; i < out.size(); ++i)
            if (compareKeys(out[i - 1].key.data(), out[i].key.data()) == 0)
                throw StoreError(
                    QStringLiteral("Index tag %1 of %2 is damaged: a unique key appears twice.")
                        .arg(QString::fromStdString(m_name), m_file->path()));
    return out;
}

// ---------------------------------------------------------------------------------------------
// MdxFile

MdxFile::MdxFile() = default;
MdxFile::~MdxFile() {
    close();
}

void MdxFile::corrupt(const QString& why) const {
    throw StoreError(QStringLiteral("The index file %1 is damaged: %2.").arg(m_path, why));
}

void MdxFile::create(const QString& path, const std::string& tableName,
                     const std::vector<TagSpec>& tags) {
    if (tags.empty() || tags.size() > size_t(kMaxTags))
        throw StoreError(QStringLiteral("Cannot create %1: an index holds 1 to %2 tags.")
                             .arg(path)
                             .arg(kMaxTags));
    const size_t ntags = tags.size();
    std::vector<unsigned char> file(size_t(4 * kPage) + ntags * 2 * kBlockSize, 0);
    unsigned char* h = file.data();
    h[0] = mdx::kVersion;
    DbfFile::stampToday(h + 1);
    std::memcpy(h + mdx::kTableNameAt, tableName.data(),
                std::min<size_t>(tableName.size(), mdx::kTableNameSize));
    put16(h + mdx::kPagesPerBlockAt, kBlockSize / kPage);
    put16(h + mdx::kBlockSizeAt, kBlockSize);
    h[mdx::kProductionAt] = 1;
    h[mdx::kTagSlotsAt] = mdx::kTagSlots;
    h[mdx::kTagEntryLengthAt] = mdx::kTagEntrySize;
    put16(h + mdx::kTagsInUseAt, uint16_t(ntags));
    put32(h + mdx::kPageCountAt, uint32_t(mdx::kFirstTagPage + 4 * ntags));
    DbfFile::stampToday(h + mdx::kDateAt);
    for (size_t i = 0; i < ntags; ++i) {
        const TagSpec& t = tags[i];
        if (t.name.empty() || t.name.size() > 10 || t.expression.empty() ||
            t.expression.size() > 219 || t.forExpression.size() > 219 || t.keyLength < 1 ||
            t.keyLength > 100)
            throw StoreError(QStringLiteral("Cannot create %1: tag %2 is not valid.")
                                 .arg(path, QString::fromStdString(t.name)));
        uint32_t headerPage = uint32_t(mdx::kFirstTagPage + 4 * i);
        unsigned char* e = h + mdx::kTagTableAt + mdx::kTagEntrySize * i;
        put32(e, headerPage);
        std::memcpy(e + mdx::kEntryNameAt, t.name.data(), t.name.size());
        e[mdx::kEntryFormatAt] = mdx::kFormatBase;
        e[mdx::kEntryMarkAt] = 0x02;
        e[mdx::kEntryKeyTypeAt] = static_cast<unsigned char>(t.keyType);
        // Tag names form a binary search tree through the three thread bytes.
        if (i > 0) {
            size_t at = 0;
            for (;;) {
                unsigned char* cur = h + mdx::kTagTableAt + mdx::kTagEntrySize * at;
                std::string curName(reinterpret_cast<char*>(cur + mdx::kEntryNameAt));
                int side = t.name < curName ? mdx::kEntryLeftAt : mdx::kEntryRightAt;
                if (cur[side] == 0) {
                    cur[side] = static_cast<unsigned char>(i + 1);
                    e[mdx::kEntryParentAt] = static_cast<unsigned char>(at + 1);
                    break;
                }
                at = cur[side] - 1u;
            }
        }
        int itemLength = 4 + (t.keyLength + 3) / 4 * 4;
        unsigned char* th = h + size_t(headerPage) * kPage;
        uint32_t root = headerPage + mdx::kPagesPerBlock;
        put32(th + mdx::kRootAt, root);
        put32(th + 4, 2);
        th[mdx::kFormatAt] = static_cast<unsigned char>(
            mdx::kFormatBase | (t.descending ? mdx::kFormatDescending : 0) |
            (t.unique ? mdx::kFormatUnique : 0));
        th[mdx::kKeyTypeAt] = static_cast<unsigned char>(t.keyType);
        put16(th + mdx::kKeyLengthAt, uint16_t(t.keyLength));
        put16(th + mdx::kMaxKeysAt, uint16_t((kBlockSize - 12) / itemLength));
        put16(th + mdx::kDateKeyAt, t.keyType == 'D' ? 1 : 0);
        put16(th + mdx::kItemLengthAt, uint16_t(itemLength));
        th[mdx::kUniqueAt] = t.unique ? 1 : 0;
        std::memcpy(th + mdx::kExpressionAt, t.expression.data(), t.expression.size());
        th[mdx::kHasForAt] = t.forExpression.empty() ? 0 : 1;
        put32(th + mdx::kRootCopyAt, root);
        put32(th + mdx::kRootCopy2At, root);
        DbfFile::stampToday(th + mdx::kTagDateAt);
        std::memcpy(th + mdx::kForAt, t.forExpression.data(), t.forExpression.size());
    }
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        out.write(reinterpret_cast<const char*>(file.data()), qint64(file.size())) !=
            qint64(file.size()) ||
        !out.flush())
        throw StoreError(QStringLiteral("Cannot write %1: %2").arg(path, out.errorString()));
}

void MdxFile::open(const QString& path, bool writable) {
    close();
    m_path = path;
    QByteArray native = QFile::encodeName(path);
    m_fd = ::open(native.constData(), (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC);
    if (m_fd < 0 && writable && (errno == EACCES || errno == EROFS)) {
        writable = false;
        m_fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC);
    }
    if (m_fd < 0)
        throw StoreError(QStringLiteral("Cannot open the index %1: %2").arg(path, sysError()));
    m_writable = writable;
    try {
        readHeader();
    } catch (...) {
        close();
        throw;
    }
}

void MdxFile::readHeader() {
    struct stat st {};
    if (::fstat(m_fd, &st) != 0)
        throw StoreError(QStringLiteral("Cannot read %1: %2").arg(m_path, sysError()));
    m_fileSize = st.st_size;
    // Header, tag table and, in a file this engine wrote, every tag header: one read.
    std::vector<unsigned char> head(size_t(std::clamp<int64_t>(m_fileSize, 0, 32 * 1024)));
    if (m_fileSize < mdx::kHeaderBytes ||
        ::pread(m_fd, head.data(), head.size(), 0) != ssize_t(head.size()))
        corrupt(QStringLiteral("the file is too short"));
    const unsigned char* h = head.data();
    m_pagesPerBlock = get16(h + mdx::kPagesPerBlockAt);
    m_blockSize = get16(h + mdx::kBlockSizeAt);
    if (m_pagesPerBlock < 1 || m_pagesPerBlock > 32 || m_blockSize != m_pagesPerBlock * kPage)
        corrupt(QStringLiteral("the block size is not valid"));
    int used = get16(h + mdx::kTagsInUseAt);
    int entryLength = h[mdx::kTagEntryLengthAt];
    if (used > kMaxTags || (used > 0 && entryLength != mdx::kTagEntrySize))
        corrupt(QStringLiteral("the tag table is not valid"));
    m_pageCount = get32(h + mdx::kPageCountAt);
    if (int64_t(m_pageCount) * kPage > m_fileSize + m_blockSize || m_pageCount < mdx::kFirstTagPage)
        corrupt(QStringLiteral("the page count does not fit the file"));
    if (get32(h + mdx::kFreeListAt) >= m_pageCount)
        corrupt(QStringLiteral("the free-page list leads outside the file"));
    m_tags.clear();
    m_blocks.clear();
    m_pool.reset(size_t(m_blockSize));
    std::memcpy(m_head, h + 32, sizeof m_head);
    m_journalValid = readJournal(h, m_seq, m_floor, m_journal);
    m_journalSeen = false; // no table state to hold it against yet
    for (int i = 0; i < used; ++i) {
        const unsigned char* e = h + mdx::kTagTableAt + mdx::kTagEntrySize * i;
        auto tag = std::unique_ptr<MdxTag>(new MdxTag(this));
        tag->m_headerPage = get32(e);
        size_t len = 0;
        while (len < 11 && e[mdx::kEntryNameAt + len] != 0)
            ++len;
        tag->m_name.assign(reinterpret_cast<const char*>(e + mdx::kEntryNameAt), len);
        while (!tag->m_name.empty() && tag->m_name.back() == ' ')
            tag->m_name.pop_back();
        for (char& ch : tag->m_name)
            ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        if (tag->m_headerPage < mdx::kFirstTagPage ||
            int64_t(tag->m_headerPage) * kPage + m_blockSize > m_fileSize)
            corrupt(QStringLiteral("tag %1 has its header outside the file").arg(i + 1));
        const int64_t at = int64_t(tag->m_headerPage) * kPage;
        if (at + m_blockSize <= int64_t(head.size())) {
            Block& b = slot(tag->m_headerPage);
            b.data = m_pool.take();
            std::memcpy(b.data.get(), h + at, size_t(m_blockSize));
        }
        const unsigned char* th = block(tag->m_headerPage).data.get();
        tag->m_root = get32(th + mdx::kRootAt);
        tag->m_keyType = static_cast<char>(th[mdx::kKeyTypeAt]);
        tag->m_keyLength = get16(th + mdx::kKeyLengthAt);
        tag->m_maxKeys = get16(th + mdx::kMaxKeysAt);
        tag->m_itemLength = get16(th + mdx::kItemLengthAt);
        tag->m_unique = (th[mdx::kFormatAt] & mdx::kFormatUnique) != 0 || th[mdx::kUniqueAt] != 0;
        tag->m_descending = (th[mdx::kFormatAt] & mdx::kFormatDescending) != 0;
        auto text = [&](int off, int max) {
            size_t n = 0;
            while (n < size_t(max) && off + int(n) < m_blockSize && th[off + n] != 0)
                ++n;
            return std::string(reinterpret_cast<const char*>(th + off), n);
        };
        tag->m_expression = text(mdx::kExpressionAt, mdx::kExpressionSize);
        if (th[mdx::kHasForAt] != 0 && m_blockSize >= kBlockSize)
            tag->m_forExpression = text(mdx::kForAt, mdx::kExpressionSize);
        QString tagName = QString::fromStdString(tag->m_name);
        if (tag->m_keyType != 'C' && tag->m_keyType != 'N' && tag->m_keyType != 'D')
            corrupt(QStringLiteral("tag %1 has key type %2")
                        .arg(tagName)
                        .arg(int(th[mdx::kKeyTypeAt])));
        int expectLength = tag->m_keyType == 'N'   ? mdx::kNumberKeyLength
                           : tag->m_keyType == 'D' ? mdx::kDateKeyLength
                                                   : tag->m_keyLength;
        if (tag->m_keyLength < 1 || tag->m_keyLength > 240 || tag->m_keyLength != expectLength ||
            tag->m_itemLength != 4 + (tag->m_keyLength + 3) / 4 * 4)
            corrupt(QStringLiteral("tag %1 has an invalid key length").arg(tagName));
        if (tag->m_maxKeys < 2 || 12 + tag->m_maxKeys * tag->m_itemLength > m_blockSize)
            corrupt(QStringLiteral("tag %1 has an invalid node capacity").arg(tagName));
        if (tag->m_root < mdx::kFirstTagPage || tag->m_root >= m_pageCount)
            corrupt(QStringLiteral("tag %1 has its root outside the file").arg(tagName));
        m_tags.push_back(std::move(tag));
    }
}

void MdxFile::close() {
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_tags.clear();
    m_blocks.clear();
    m_pool.reset(m_pool.size());
    m_headerDirty = false;
    m_logFetches = false;
    m_fetched.clear();
}

MdxTag* MdxFile::findTag(std::string_view name) {
    for (auto& t : m_tags) {
        const std::string& n = t->name();
        if (n.size() != name.size())
            continue;
        bool same = true;
        for (size_t i = 0; i < n.size() && same; ++i)
            same = n[i] == std::toupper(static_cast<unsigned char>(name[i]));
        if (same)
            return t.get();
    }
    return nullptr;
}

MdxFile::Block& MdxFile::slot(uint32_t page) {
    size_t chunk = page / kChunkPages;
    if (chunk >= m_blocks.size())
        m_blocks.resize(chunk + 1);
    if (!m_blocks[chunk])
        m_blocks[chunk] = std::make_unique<Block[]>(kChunkPages);
    return m_blocks[chunk][page % kChunkPages];
}

MdxFile::Block& MdxFile::block(uint32_t page) {
    size_t chunk = page / kChunkPages;
    if (chunk < m_blocks.size() && m_blocks[chunk]) {
        Block& b = m_blocks[chunk][page % kChunkPages];
        if (b.data)
            return b;
    }
    if (page < 4 || page >= m_pageCount || int64_t(page) * kPage + m_blockSize > m_fileSize)
        corrupt(QStringLiteral("a pointer leads to page %1, outside the file").arg(page));
    Block& b = slot(page);
    b.data = m_pool.take();
    if (::pread(m_fd, b.data.get(), size_t(m_blockSize), int64_t(page) * kPage) != m_blockSize) {
        b.data.reset();
        corrupt(QStringLiteral("page %1 cannot be read").arg(page));
    }
    if (m_logFetches)
        m_fetched.push_back(page);
    return b;
}

uint32_t MdxFile::allocate() {
    if (!m_writable)
        throw StoreError(QStringLiteral("Cannot write %1: the index is read-only.").arg(m_path));
    uint32_t page = m_pageCount;
    m_pageCount += uint32_t(m_pagesPerBlock);
    QN_CHECK(page >= mdx::kFirstTagPage && m_pageCount > page);
    m_fileSize = std::max<int64_t>(m_fileSize, int64_t(m_pageCount) * kPage);
    m_headerDirty = true;
    Block& b = slot(page);
    b.data = m_pool.take();
    std::memset(b.data.get(), 0, size_t(m_blockSize));
    markDirty(page, b);
    m_headerDirty = true;
    return page;
}

// Reads the journal of a header page; false when there is none or it does not add up.
bool MdxFile::readJournal(const unsigned char* page0, uint32_t& seq, uint32_t& floor,
                          std::vector<std::pair<uint32_t, uint32_t>>& entries) {
    const unsigned char* j = page0 + kJournalAt;
    entries.clear();
    const uint32_t n = get32(page0 + 72);
    if (std::memcmp(j, kJournalMagic, 4) != 0 || n > kJournalCapacity ||
        get32(page0 + 52) != checksum(page0 + 56, size_t(kJournalEntriesAt - 56 + 8 * n)))
        return false;
    seq = get32(page0 + 56);
    m_journalStamp = get32(page0 + 60);
    m_journalCount = get32(page0 + 64);
    floor = get32(page0 + 68);
    for (uint32_t i = 0; i < n; ++i)
        entries.emplace_back(get32(page0 + kJournalEntriesAt + 8 * i),
                             get32(page0 + kJournalEntriesAt + 8 * i + 4));
    return true;
}

void MdxFile::flush(uint32_t tableStamp, uint32_t tableCount, const std::vector<uint32_t>& rows) {
    if (m_fd < 0)
        return;
    if (!m_writable)
        throw StoreError(QStringLiteral("Cannot write %1: the index is read-only.").arg(m_path));
    // Only the blocks changed since the last flush; the cache may hold thousands.
    std::vector<uint32_t> pages;
    for (uint32_t page : m_dirtyPages)
        if (slot(page).dirty)
            pages.push_back(page);
    m_dirtyPages.clear();
    std::sort(pages.begin(), pages.end());

    // The journal first: this write's blocks and rows, then older entries while they fit.
    const uint32_t seq = m_seq + 1;
    std::vector<std::pair<uint32_t, uint32_t>> journal;
    uint32_t floor = m_journalSeen ? m_floor : seq;
    for (uint32_t page : pages)
        journal.emplace_back(page, seq);
    for (uint32_t r : rows)
        journal.emplace_back(r | kRowEntry, seq);
    if (journal.size() > kJournalCapacity) {
        journal.clear();
        floor = seq;
    } else if (m_journalSeen) {
        for (const auto& e : m_journal) {
            if (journal.size() == kJournalCapacity) {
                floor = std::max(floor, e.second);
                continue;
            }
            journal.push_back(e);
        }
    }
    unsigned char h[kPage - 32] = {};
    std::memcpy(h, m_head, sizeof m_head);
    // New blocks are counted only once they are written (below): a write cut short by a full
    // disk never leaves a count past the end of the file.
    const uint32_t counted = get32(m_head);
    DbfFile::stampToday(h + 12);
    unsigned char* j = h + (kJournalAt - 32);
    std::memcpy(j, kJournalMagic, 4);
    put32(j + 8, seq);
    put32(j + 12, tableStamp);
    put32(j + 16, tableCount);
    put32(j + 20, floor);
    put32(j + 24, uint32_t(journal.size()));
    for (size_t i = 0; i < journal.size(); ++i) {
        put32(j + 28 + 8 * i, journal[i].first);
        put32(j + 28 + 8 * i + 4, journal[i].second);
    }
    const size_t used = size_t(kJournalEntriesAt - 32) + 8 * journal.size();
    put32(j + 4, checksum(j + 8, used - (kJournalAt - 32) - 8));
    if (::pwrite(m_fd, h, used, 32) != ssize_t(used))
        throw StoreError(QStringLiteral("Cannot write %1: %2").arg(m_path, sysError()));
    std::memcpy(m_head, h, sizeof m_head);
    m_journal = std::move(journal);
    m_seq = seq;
    m_floor = floor;
    m_journalStamp = tableStamp;
    m_journalCount = tableCount;
    m_journalSeen = m_journalValid = true;

    // Then the blocks, a run of adjacent ones in one call. Blocks past the old end go first and
    // are counted before any existing block (a tag header, a parent) may point at them: a writer
    // killed in between leaves at worst unused pages, never a pointer past the count.
    auto writeBlocks = [&](size_t from, size_t to) {
        for (size_t i = from; i < to;) {
            size_t k = i + 1;
            while (k < to && k - i < 64 && pages[k] == pages[k - 1] + uint32_t(m_pagesPerBlock))
                ++k;
            std::vector<iovec> iov;
            for (size_t m = i; m < k; ++m)
                iov.push_back({slot(pages[m]).data.get(), size_t(m_blockSize)});
            const ssize_t want = ssize_t(k - i) * m_blockSize;
            ssize_t n = ::pwritev(m_fd, iov.data(), int(iov.size()), int64_t(pages[i]) * kPage);
            if (n != want)
                throw StoreError(
                    QStringLiteral("Cannot write %1: %2")
                        .arg(m_path, n < 0 ? sysError() : QStringLiteral("disk full")));
            for (size_t m = i; m < k; ++m)
                slot(pages[m]).dirty = false;
            i = k;
        }
    };
    const size_t firstNew =
        size_t(std::lower_bound(pages.begin(), pages.end(), counted) - pages.begin());
    writeBlocks(firstNew, pages.size());
    if (m_pageCount != counted) {
        unsigned char n[4];
        put32(n, m_pageCount);
        if (::pwrite(m_fd, n, 4, 32) != 4)
            throw StoreError(QStringLiteral("Cannot write %1: %2").arg(m_path, sysError()));
        put32(m_head, m_pageCount);
    }
    writeBlocks(0, firstNew);
    m_headerDirty = false;
    if (m_sync && ::fdatasync(m_fd) != 0)
        throw StoreError(QStringLiteral("Cannot write %1: %2").arg(m_path, sysError()));
}

void MdxFile::markDirty(uint32_t page, Block& b) {
    if (!b.dirty)
        m_dirtyPages.push_back(page);
    b.dirty = true;
}

void MdxFile::dropCache() {
    for (auto& chunk : m_blocks)
        if (chunk)
            for (size_t i = 0; i < kChunkPages; ++i)
                if (!chunk[i].dirty)
                    chunk[i].data.reset();
}

MdxFile::Changes MdxFile::refresh(uint32_t tableStamp, uint32_t tableCount) {
    Changes out;
    if (m_fd < 0)
        return out;
    for (uint32_t page : m_dirtyPages) { // changed here but never written: not the file's
        slot(page).dirty = false;
        slot(page).data.reset();
    }
    m_dirtyPages.clear();
    m_headerDirty = false;
    unsigned char h[kPage];
    if (::pread(m_fd, h, sizeof h, 0) != ssize_t(sizeof h))
        throw StoreError(QStringLiteral("Cannot read %1: %2").arg(m_path, sysError()));
    // Blocks counted in the header were written before it; no size is asked for.
    m_pageCount = get32(h + 32);
    m_fileSize = std::max<int64_t>(m_fileSize, int64_t(m_pageCount) * kPage);
    if (m_pageCount < 4)
        corrupt(QStringLiteral("the page count does not fit the file"));
    if (get16(h + 28) != m_tags.size())
        corrupt(QStringLiteral("its tags were changed while it was open"));
    std::memcpy(m_head, h + 32, sizeof m_head);
    const uint32_t lastSeq = m_seq;
    const bool knew = m_journalSeen;
    uint32_t seq = 0, floor = 0;
    std::vector<std::pair<uint32_t, uint32_t>> entries;
    m_journalValid = readJournal(h, seq, floor, entries);
    // The journal describes the table state just read only when it carries its stamp and
    // count; only then is its sequence a base for the next look.
    const bool consistent =
        m_journalValid && m_journalStamp == tableStamp && m_journalCount == tableCount;
    const bool vouches = knew && consistent && floor <= lastSeq && seq >= lastSeq;
    if (m_journalValid)
        m_seq = seq;
    m_floor = floor;
    m_journal = entries;
    m_journalSeen = consistent;
    if (vouches) {
        out.everything = false;
        for (const auto& [what, when] : entries) {
            if (when <= lastSeq)
                break; // newest first: the rest were seen before
            if (what & kRowEntry) {
                out.rows.push_back(what & ~kRowEntry);
                continue;
            }
            const size_t chunk = what / kChunkPages;
            if (chunk < m_blocks.size() && m_blocks[chunk])
                m_blocks[chunk][what % kChunkPages].data.reset();
        }
    } else {
        m_blocks.clear();
    }
    for (auto& tag : m_tags) {
        tag->m_root = get32(block(tag->m_headerPage).data.get());
        if (tag->m_root < 4 || tag->m_root >= m_pageCount)
            corrupt(QStringLiteral("tag %1 has its root outside the file")
                        .arg(QString::fromStdString(tag->m_name)));
    }
    return out;
}

void MdxFile::checkCopy(int copyFd, const QString& copyName) const {
    unsigned char mine[mdx::kHeaderBytes], theirs[mdx::kHeaderBytes];
    if (::pread(m_fd, mine, sizeof mine, 0) != ssize_t(sizeof mine))
        throw StoreError(QStringLiteral("Cannot read %1: %2").arg(m_path, sysError()));
    if (::pread(copyFd, theirs, sizeof theirs, 0) != ssize_t(sizeof theirs))
        throw StoreError(
            QStringLiteral("%1 is not a usable index: it is too short.").arg(copyName));
    const int used = get16(mine + mdx::kTagsInUseAt);
    const size_t tagTableEnd = size_t(mdx::kTagTableAt + mdx::kTagEntrySize * used);
    if (std::memcmp(mine + mdx::kPagesPerBlockAt, theirs + mdx::kPagesPerBlockAt,
                    mdx::kPageCountAt - mdx::kPagesPerBlockAt) != 0 ||
        std::memcmp(mine + mdx::kTagTableAt, theirs + mdx::kTagTableAt,
                    tagTableEnd - mdx::kTagTableAt) != 0)
        throw StoreError(QStringLiteral("%1 does not have the tags of %2.").arg(copyName, m_path));
}

void MdxFile::replaceWith(int copyFd, const QString& copyName, uint32_t tableStamp,
                          uint32_t tableCount) {
    if (m_fd < 0)
        return;
    if (!m_writable)
        throw StoreError(QStringLiteral("Cannot write %1: the index is read-only.").arg(m_path));
    unsigned char live[kPage], head[kPage];
    if (::pread(m_fd, live, sizeof live, 0) != ssize_t(sizeof live))
        throw StoreError(QStringLiteral("Cannot read %1: %2").arg(m_path, sysError()));
    if (::pread(copyFd, head, sizeof head, 0) != ssize_t(sizeof head))
        throw StoreError(QStringLiteral("Cannot read %1: %2").arg(copyName, sysError()));
    // A reader vouches for a journal only from a sequence it has seen on: past both files',
    // nobody has.
    uint32_t seq = m_seq, found = 0, floor = 0;
    std::vector<std::pair<uint32_t, uint32_t>> entries;
    if (readJournal(live, found, floor, entries))
        seq = std::max(seq, found);
    if (readJournal(head, found, floor, entries))
        seq = std::max(seq, found);
    ++seq;
    m_fileSize = copyFileBytes(copyFd, copyName, m_fd, m_path, kPage);
    unsigned char* j = head + kJournalAt;
    std::memset(j, 0, size_t(kPage - kJournalAt));
    std::memcpy(j, kJournalMagic, 4);
    put32(j + 8, seq);
    put32(j + 12, tableStamp);
    put32(j + 16, tableCount);
    put32(j + 20, seq); // floor: nothing before it is named
    put32(j + 4, checksum(j + 8, size_t(kJournalEntriesAt - kJournalAt - 8)));
    if (::pwrite(m_fd, head, sizeof head, 0) != ssize_t(sizeof head))
        throw StoreError(QStringLiteral("Cannot write %1: %2").arg(m_path, sysError()));
    if (m_sync && ::fdatasync(m_fd) != 0)
        throw StoreError(QStringLiteral("Cannot write %1: %2").arg(m_path, sysError()));
    m_dirtyPages.clear();
    m_blocks.clear();
    m_journalSeen = false;
}

void MdxFile::startFetchLog() {
    m_fetched.clear();
    m_logFetches = true;
}

bool MdxFile::stopFetchLog() {
    m_logFetches = false;
    return !m_fetched.empty();
}

void MdxFile::dropFetched() {
    for (uint32_t page : m_fetched) {
        Block& b = slot(page);
        if (!b.dirty)
            b.data.reset();
    }
    m_fetched.clear();
}

} // namespace qn
