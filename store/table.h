#pragma once

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace qn {

class Engine;
class Expression;
class TableFile;
struct DbfField;

/// A dataset over one dBASE table: the table object every window works with. It is opened under
/// an alias and a file name, ordered by an index tag or physically, optionally restricted by a
/// filter text and by a master table, and has one current row. Moves post pending edits first.
/// Signals tell data-aware controls when the current row, the data or the state changes.
class Table : public QObject {
    Q_OBJECT
public:
    enum class State { Inactive, Browse, Edit, Insert, SetKey };
    Q_ENUM(State)

    explicit Table(Engine& engine, QObject* parent = nullptr);
    ~Table() override;

    void setDatabaseName(const QString& name);
    QString databaseName() const { return m_databaseName; }
    void setTableName(const QString& name);
    QString tableName() const { return m_tableName; }
    /// A second file name tried when tableName() is not in the folder.
    void setAlternateFileName(const QString& name) { m_alternateName = name; }

    /// Selects an index tag by name (any letter case); empty for physical order. On an open
    /// table the change takes effect at once and the table moves to its first row.
    void setIndexName(const QString& tag);
    QString indexName() const { return m_indexName; }
    void setFilter(const QString& text);
    QString filter() const { return m_filterText; }
    void setFiltered(bool on);
    bool filtered() const { return m_filtered; }

    /// Master/detail: while the master is open this table shows only rows whose master fields
    /// equal the master's current row, and follows it.
    void setMasterSource(Table* master);
    Table* masterSource() const { return m_master; }
    void setMasterFields(const QString& fields);
    QString masterFields() const { return m_masterFields; }

    void open();
    void close();
    void setActive(bool on) { on ? open() : close(); }
    bool isActive() const { return m_state != State::Inactive; }
    State state() const { return m_state; }
    /// The full path of the open file.
    QString filePath() const;

    void first();
    void last();
    void next();
    void prior();
    bool eof() const { return m_eof; }
    bool bof() const { return m_bof; }
    bool isEmpty() const;
    /// Rows visible through the filter and the master link.
    int recordCount();
    /// Physical record number of the current row; 0 when there is none (or a new row).
    uint32_t recNo() const { return m_recno; }

    QStringList fieldNames() const;
    bool hasField(const QString& name) const;
    int fieldWidth(const QString& name) const;
    char fieldType(const QString& name) const;

    /// The field as text (trailing blanks dropped; a date in the locale's short format).
    QString fieldText(const QString& name) const;
    /// Writes text. Throws StoreError if the text is longer than the field or has a character
    /// code page 1252 cannot hold; the row is then unchanged.
    void setFieldText(const QString& name, const QString& value);
    void setFieldDateTime(const QString& name, const QDateTime& value);
    void setFieldInteger(const QString& name, qint64 value);
    void clearField(const QString& name);

    void append();
    /// Puts the current row into editing. The row is locked against other processes until it
    /// is posted or cancelled (or the table closes), and it is read again from the file first,
    /// so an edit starts from what another user may have just stored. Throws StoreError
    /// "record locked by another user" when another process is editing the row.
    void edit();
    void post();
    /// Runs fn at the start of every post, as part of it: bound editors write their text there,
    /// and an exception from fn stops the post with the row still being edited.
    int addPostHook(std::function<void()> fn);
    void removePostHook(int id);
    void cancel();
    /// Deletes the current row; the following row (or, at the end, the prior one) becomes current.
    void remove();

    /// Key buffer: setKey(), then write the key fields, then gotoKey() on the current tag.
    void setKey();
    bool gotoKey();
    /// Moves to the first row (in the current order) whose field equals value, ignoring case
    /// and trailing blanks.
    bool locate(const QString& field, const QString& value);

    /// The shared file behind an open table (tests and tools).
    TableFile* file() const { return m_file.get(); }
    std::shared_ptr<TableFile> sharedFile() const { return m_file; }

    /// Holds a table's observers (bound controls, grids, detail tables) while a handler walks
    /// or probes it: no signal goes out until the last hold ends, then one notification of
    /// each kind that happened (state, then data or else row).
    class HoldObservers {
    public:
        explicit HoldObservers(Table& table);
        ~HoldObservers() noexcept(false);
        HoldObservers(const HoldObservers&) = delete;
        HoldObservers& operator=(const HoldObservers&) = delete;

    private:
        QPointer<Table> m_table;
        int m_unwinding;
    };
    bool observersHeld() const { return m_holds > 0; }

    /// A row's place in the current order; lets a grid come back to a row without a walk.
    struct Bookmark {
        uint32_t recno = 0;
        std::string key;
    };
    Bookmark bookmark() const { return {m_recno, m_key}; }
    /// Moves to the bookmarked row; false (and no move) when it is no longer visible.
    bool gotoBookmark(const Bookmark& at);
    /// Up to count visible rows after the bookmarked one (from the first row when after is
    /// null), in the current order, without moving the current row.
    std::vector<Bookmark> rowsAfter(const Bookmark* after, int count);
    /// Position of a field by name; throws StoreError when there is none.
    int fieldIndex(const QString& name) const { return fieldIndexOrThrow(name); }
    /// fieldText() by position, for walks that read many rows.
    QString fieldTextAt(int field) const;
    /// Fields of a stored row as text (as fieldText shows them), without moving to it.
    QStringList storedTexts(uint32_t recno, const std::vector<int>& fields);

    /// After setKey(): moves to the first row whose key is at or after the key buffer's, in
    /// the current tag; false (and no move) when there is none.
    bool gotoNearest();

    /// Whether another process holds the current row locked for editing. Asks the lock
    /// manager only; waits for nothing.
    bool rowLockedElsewhere();

    /// Work counters of every table in this process, for benchmarks and counting tests.
    struct Counters {
        uint64_t rowsRead = 0;   // rows examined: moves, lookups, grid fetches
        uint64_t keyLookups = 0; // gotoKey and gotoNearest
    };
    static Counters& counters();

signals:
    /// The current row changed: moved, or its values were reloaded.
    void rowChanged();
    /// The rows changed (opened, refiltered, posted, deleted).
    void dataChanged();
    void stateChanged(qn::Table::State state);
    /// Emitted just before a post, so that bound editors can write their pending text.
    void aboutToPost();

private:
    struct Position {
        uint32_t recno = 0;
        std::string key;
    };
    enum class Dir { Forward, Backward };

    QString resolvePath() const;
    void applySelection();
    void setState(State s);
    void checkActive(const char* what) const;
    void postIfEditing();
    int fieldIndexOrThrow(const QString& name) const;
    const char* currentRecord() const;
    char* editableRecord(const char* what);
    bool visible(const char* rec) const;
    /// Runs a read step of the file; when the step finds the index or the table damaged, has
    /// the file mend it (the user is told) and runs the step again.
    template <class F> auto readChecked(F&& step, bool continuing = false);
    bool masterActive() const;
    void updateMasterKey();
    bool scanFrom(Position from, Dir dir, bool inclusive, Position& found);
    int countRows();
    bool positionAt(uint32_t recno, const char* rec);
    Position positionOf(uint32_t recno, const char* rec) const;
    void moveTo(const Position& p);
    void masterMoved();
    void writeField(char* rec, int field, const QString& value);
    void releaseRowLock();
    void notifyRow();
    void notifyData();
    void notifyState();
    void releaseHold();
    bool seekNearest(bool exact);
    void selectFilterRange();
    static QString textOf(const DbfField& f, const char* rec);

    Engine& m_engine;
    QString m_databaseName;
    QString m_tableName;
    QString m_alternateName;
    QString m_indexName;
    QString m_filterText;
    bool m_filtered = false;
    QPointer<Table> m_master;
    QString m_masterFields;
    QMetaObject::Connection m_masterConnections[3];

    std::shared_ptr<TableFile> m_file;
    int m_tag = -1;
    std::unique_ptr<Expression> m_filter;
    int m_masterField = -1;    // field of this table linked to the master
    std::string m_masterValue; // the master's value, as stored bytes (no trailing blanks)
    bool m_masterLinked = false;
    std::vector<std::pair<int, std::function<void()>>> m_postHooks;
    int m_nextHookId = 1;      // whether the master was open when m_masterValue was taken
    bool m_rangeOnTag = false; // walks are limited to m_rangeKey on the current tag
    std::string m_rangeKey;
    bool m_masterOnTag = false; // the current tag is keyed on the master field alone

    State m_state = State::Inactive;
    uint32_t m_recno = 0;
    std::string m_key;
    bool m_eof = true;
    bool m_bof = true;
    std::string m_buffer;       // the row being edited or inserted, or the key buffer
    uint32_t m_lockedRecno = 0; // the row this table holds locked for editing
    uint32_t m_savedRecno = 0;
    std::string m_savedKey;
    QMetaObject::Connection m_fileConnection;
    bool m_filterRange = false; // the filter pins the current tag's key to m_filterKey
    std::string m_filterKey;
    int m_holds = 0;
    State m_heldState = State::Inactive;
    bool m_pendingRow = false;
    bool m_pendingData = false;
};

} // namespace qn
