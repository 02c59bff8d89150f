#pragma once

#include <QString>
#include <memory>

namespace qn {

class DataModule;
class Table;

/// A table opened for one piece of work and closed again on every way out of it: one of the
/// data module's shared tables, or a detail table looked up on its own.
class TableSession {
public:
    using OpenClose = void (DataModule::*)(const QString& index, const QString& filter,
                                           bool filtered, bool open);
    enum class Mode {
        /// The shared table itself is opened (or re-selected) and closed after.
        Take,
        /// As Take when the table is closed. When another window holds it open, the work goes
        /// through a private table over the same file, so the other window's table keeps its
        /// row, order and filter.
        Borrow,
    };

    /// Opens shared through openClose on index, filtered by filter when it is not empty.
    TableSession(DataModule& dm, Table* shared, OpenClose openClose, const QString& index,
                 Mode mode = Mode::Take, const QString& filter = QString());
    /// A detail table opened on index with its master link and filter cleared; after the work it
    /// is closed, its tag and filter cleared and linked again by relinkFields.
    TableSession(Table& detail, const QString& index, const QString& relinkFields);
    ~TableSession();
    TableSession(const TableSession&) = delete;
    TableSession& operator=(const TableSession&) = delete;

    Table& operator*() const { return *m_table; }
    Table* operator->() const { return m_table; }
    /// Whether the work goes through a private table.
    bool isPrivate() const { return m_own != nullptr; }

private:
    void relink();

    DataModule* m_dm = nullptr; // none for a detail looked up on its own
    OpenClose m_openClose = nullptr;
    std::unique_ptr<Table> m_own;
    Table* m_table;
    QString m_relink;
};

} // namespace qn
