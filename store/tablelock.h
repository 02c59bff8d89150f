#pragma once

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

} // namespace qn
