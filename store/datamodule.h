#pragma once

#include <QObject>
#include <QString>

namespace qn {

class Engine;
class Table;

/// Binds controls to a table (grids, data-bound boxes, navigators and report bands use it).
class DataSource : public QObject {
    Q_OBJECT
public:
    DataSource(Table* table, QObject* parent) : QObject(parent), m_table(table) {}
    Table* table() const { return m_table; }

private:
    Table* m_table;
};

/// The shared data module: the six table objects every window works on, their data sources,
/// and the operations that open, re-index, filter and close them. Created once at start.
class DataModule : public QObject {
    Q_OBJECT
public:
    explicit DataModule(Engine& engine, QObject* parent = nullptr);
    ~DataModule() override;

    Engine& engine() const { return m_engine; }

    Table* const SysTable;
    Table* const IPTable;
    Table* const HWTable;
    Table* const SWTable;
    Table* const ResourceTable;
    Table* const DummyTable;
    DataSource* const SysSource;
    DataSource* const IPSource;
    DataSource* const HWSource;
    DataSource* const SWSource;
    DataSource* const ResourceSource;
    DataSource* const DummySource;

    /// Open: select the tag, the filter and the flag, then open (an open table re-selects in
    /// place and moves to its first row). Close: close, then store the three for next time.
    void SysTableOpenClose(const QString& index, const QString& filter, bool filtered, bool open);
    void IPTableOpenClose(const QString& index, const QString& filter, bool filtered, bool open);
    void HWTableOpenClose(const QString& index, const QString& filter, bool filtered, bool open);
    void SWTableOpenClose(const QString& index, const QString& filter, bool filtered, bool open);
    void ResourceTableOpenClose(const QString& index, const QString& filter, bool filtered, bool open);
    void DummyTableOpenClose(const QString& index, const QString& filter, bool filtered, bool open);

    /// The filter texts the windows build. Each value is quoted with a delimiter it does not
    /// contain; a value that contains all three delimiters (' " ]) raises an Error.
    static QString quoted(const QString& value);
    static QString oneSystemFilter(const QString& sysId);
    static QString userNameFilter(const QString& first, const QString& last);
    static QString kindCategoryFilter(const QString& mainKind, const QString& category);

private:
    static void openClose(Table* table, const QString& index, const QString& filter, bool filtered,
                          bool open);
    Engine& m_engine;
};

} // namespace qn
