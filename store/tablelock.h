#pragma once

#include <memory>

namespace qn {

class Table;
class TableFile;

/// Holds a table's write lock (its header lock) across a short sequence of this process's own
/// operations, so that no other process changes the table in between. The use it exists for:
/// find the highest ID, check that it is still free, and append the row that takes it, as one
/// step across processes.
///
/// While it is held, other processes' appends, posts and deletes on the table wait, up to
/// lockTimeout(), and then fail with "table busy"; their reads go on. This process's Tables on
/// the file work as usual (they share the lock). Taking it re-reads the header and index, so
/// what is read under the lock is current. Keep it short: no dialog while it is held, and do
/// not edit an existing row under it (that row's editor elsewhere may be waiting for this lock
/// to post). Throws StoreError "table busy" when another process holds the table for longer
/// than lockTimeout().
class TableLock {
public:
    explicit TableLock(TableFile& file);
    /// The file of an open table; throws StoreError if the table is not open.
    explicit TableLock(Table& table);
    ~TableLock();
    TableLock(TableLock&& other) noexcept;
    TableLock& operator=(TableLock&&) = delete;
    TableLock(const TableLock&) = delete;
    TableLock& operator=(const TableLock&) = delete;

    /// Gives the lock back before the end of the scope.
    void release();

private:
    TableFile* m_file;
};

/// Holds a table's write lock over a group of this process's appends and posts, and writes
/// them together on commit(): the rows in one call, each changed index block once, the count
/// once. Other users see the whole group or none of it; a group that ends without commit() (an
/// exception, a killed process) leaves the table as it was before it. Inside, the table reads
/// as if each write had been made, so that look-ups see the rows added before them.
///
/// While it is held, other processes' writes wait as for TableLock; keep it as short. Groups
/// nest: the outermost one writes. Edit no row that another user may be editing under it.
class TableGroup {
public:
    /// Takes the write lock of the table's file and keeps the file open until the group ends,
    /// even if the table is closed meanwhile. Throws StoreError as TableLock does.
    explicit TableGroup(Table& table);
    /// Without commit(), nothing of the group is written.
    ~TableGroup();
    TableGroup(const TableGroup&) = delete;
    TableGroup& operator=(const TableGroup&) = delete;

    /// Writes and publishes the group and gives the lock back. Throws StoreError when the
    /// files cannot be written or a write inside the group failed; nothing is published then.
    void commit();

private:
    std::shared_ptr<TableFile> m_file;
};

} // namespace qn
