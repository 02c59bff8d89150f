#pragma once

#include <QHash>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <vector>

namespace qn {
class DataModule;
}

/// Comparing the inventory with what an Auto-Find run saw on the network.
namespace qn::reconcile {

/// One address row of IP.DBF.
struct RecordedRow {
    uint32_t recNo = 0;
    QString sysId, computer;
    /// The four octet texts as stored, joined by dots; empty when all four are.
    QString address;
};

/// A recorded row the run disagrees with: its name resolved to another address (changed), or
/// the listing does not name it (silent; found is empty then).
struct Finding {
    RecordedRow row;
    QString found;
};

/// Names compared as Auto-Find compares them: whole, ignoring case (code page 1252's letter
/// pairs) and trailing blanks. Empty for a blank name and for one the code page cannot hold:
/// such a name matches no recorded one.
QByteArray nameKey(const QString& name);

/// Whether a recorded address and a found one are the same four numbers.
bool sameAddress(const QString& recorded, const QString& found);

/// The recorded rows of one run's listed names, and the rows it no longer names.
///
/// A name counts as changed only when none of its rows holds an address found for it, so a
/// computer recorded on several rows is changed on each of them or on none. A listed name whose
/// address is not known (the listing batch gives none) waits for found() or notFound(); one that
/// does not resolve is neither changed nor silent, it is counted in unresolved(). Rows without
/// a name name no computer and are in neither list.
class Reconciliation {
public:
    Reconciliation() = default;
    /// listed and addresses as the run gives them: entry k of addresses is the address the
    /// source gave for listed name k, empty when it gave none.
    Reconciliation(const QStringList& listed, const QStringList& addresses);

    /// Reads IP.DBF once, in physical order, and takes its rows in place of those read before;
    /// what is known of the names' addresses stays.
    void read(DataModule& dm);

    /// The recorded, listed names whose address is not known yet, each once, in listing order.
    QStringList toResolve() const;
    /// An address found for a listed name (a name not listed is ignored).
    void found(const QString& name, const QString& address);
    /// The listed name did not resolve.
    void notFound(const QString& name);
    /// The recorded, listed names that did not resolve, in listing order.
    QStringList unresolved() const;

    /// In listing order, each name's rows in record order.
    const std::vector<Finding>& changed() const;
    /// The silent rows, in record order. They can be nearly every recorded system, so they are
    /// kept packed and given out one at a time.
    qsizetype silentCount() const { return qsizetype(m_silent.size()); }
    RecordedRow silentRow(qsizetype i) const;

    /// The row's address is now address (after an update).
    void addressUpdated(uint32_t recNo, const QString& address);

private:
    enum class State { Pending, Found, Unresolved };
    struct Name {
        QString shown;     // as first listed
        QStringList found; // addresses found for it
        State state = State::Pending;
        std::vector<size_t> rows; // into m_rows
    };

    std::vector<Name> m_names; // listing order, one per key
    QHash<QByteArray, size_t> m_index;
    std::vector<RecordedRow> m_rows; // the rows of listed names
    struct Packed {
        uint32_t recNo;
        uint8_t sysIdSize, computerSize;
        QString texts; // System ID, name and address, one after the other
    };

    void take(RecordedRow&& row);

    std::vector<Packed> m_silent;
    mutable std::vector<Finding> m_changed;
    mutable bool m_dirty = true;
};

enum class UpdateOutcome {
    Updated,
    /// Another row holds the found address: System Info's refusal.
    Taken,
    /// The row is gone or no longer holds the name and address it was read with.
    Moved,
};

/// Moves a changed row to its found address, after the duplicate check of System Info's Update,
/// and sets the address key as Update does. Throws qn::Error for an address that is no
/// address, or when another user is editing the row.
UpdateOutcome updateAddress(DataModule& dm, const Finding& changed);

} // namespace qn::reconcile
