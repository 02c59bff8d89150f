#pragma once

#include "dbffile.h"
#include "expression.h"
#include "mdxfile.h"

#include <QObject>
#include <QString>

#include <memory>
#include <string>
#include <vector>

namespace qn {

/// One table file and its production index as this process has them open, shared by every
/// Table object on that file. Writes go through here so that every tag stays in step with the
/// rows: deleted rows leave every tag; a unique tag holds the lowest live record of each key.
class TableFile : public QObject {
    Q_OBJECT
public:
    /// Opens the table and, when its header says so, its production index. Throws StoreError.
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

    uint32_t append(const char* record);
    void update(uint32_t recno, const char* record);
    void remove(uint32_t recno);

    /// Counts changes so that cursors and caches can tell when the data moved under them.
    uint64_t version() const { return m_version; }
    /// Live records, counted once per version.
    uint32_t liveCount();

    /// Checks every tag against the table: tree structure, order, and exactly the entries the
    /// live rows call for. Throws StoreError naming the first difference.
    void verifyIndexes();
    /// Rebuilds every tag from the rows.
    void rebuildIndexes();

signals:
    void changed();

private:
    void openIndex(const QString& mdxPath);
    void addKey(Tag& tag, const char* record, uint32_t recno);
    void dropKey(Tag& tag, const std::string& key, uint32_t recno);
    void flushIndex();

    DbfFile m_dbf;
    MdxFile m_mdx;
    std::vector<Tag> m_tags;
    uint64_t m_version = 1;
    uint64_t m_countVersion = 0;
    uint32_t m_liveCount = 0;
};

} // namespace qn
