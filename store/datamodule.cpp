#include "datamodule.h"

#include "error.h"
#include "table.h"

namespace qn {
namespace {

Table* makeTable(Engine& engine, QObject* parent, const char* name, const char* file) {
    auto* t = new Table(engine, parent);
    t->setObjectName(QString::fromLatin1(name));
    t->setDatabaseName(QStringLiteral("IP"));
    t->setTableName(QString::fromLatin1(file));
    return t;
}

DataSource* makeSource(Table* table, QObject* parent, const char* name) {
    auto* s = new DataSource(table, parent);
    s->setObjectName(QString::fromLatin1(name));
    return s;
}

} // namespace

DataModule::DataModule(Engine& engine, QObject* parent)
    : QObject(parent),
      SysTable(makeTable(engine, this, "SysTable", "SYSTEMS.DBF")),
      IPTable(makeTable(engine, this, "IPTable", "IP.DBF")),
      HWTable(makeTable(engine, this, "HWTable", "HARDWARE.DBF")),
      SWTable(makeTable(engine, this, "SWTable", "SOFTWARE.DBF")),
      ResourceTable(makeTable(engine, this, "ResourceTable", "Resource.dbf")),
      DummyTable(makeTable(engine, this, "DummyTable", "")),
      SysSource(makeSource(SysTable, this, "SysSource")),
      IPSource(makeSource(IPTable, this, "IPSource")),
      HWSource(makeSource(HWTable, this, "HWSource")),
      SWSource(makeSource(SWTable, this, "SWSource")),
      ResourceSource(makeSource(ResourceTable, this, "ResourceSource")),
      DummySource(makeSource(DummyTable, this, "DummySource")),
      m_engine(engine) {
    setObjectName(QStringLiteral("TDataModule11"));
    // The pool is opened as "Resource.dbf" while its files are named "Resources.*".
    ResourceTable->setAlternateFileName(QStringLiteral("Resources.dbf"));
    for (Table* detail : {IPTable, HWTable, SWTable}) {
        detail->setIndexName(QStringLiteral("SYSID"));
        detail->setMasterSource(SysSource->table());
        detail->setMasterFields(QStringLiteral("SYSID"));
    }
}

DataModule::~DataModule() {
    // Details go first so that closing the master does not make them refresh.
    for (Table* t : {IPTable, HWTable, SWTable, ResourceTable, DummyTable, SysTable})
        t->close();
}

void DataModule::openClose(Table* table, const QString& index, const QString& filter,
                           bool filtered, bool open) {
    if (open) {
        table->setIndexName(index);
        table->setFilter(filter);
        table->setFiltered(filtered);
        table->open();
    } else {
        table->close();
        table->setIndexName(index);
        table->setFilter(filter);
        table->setFiltered(filtered);
    }
}

void DataModule::SysTableOpenClose(const QString& i, const QString& f, bool fd, bool o) {
    openClose(SysTable, i, f, fd, o);
}
void DataModule::IPTableOpenClose(const QString& i, const QString& f, bool fd, bool o) {
    openClose(IPTable, i, f, fd, o);
}
void DataModule::HWTableOpenClose(const QString& i, const QString& f, bool fd, bool o) {
    openClose(HWTable, i, f, fd, o);
}
void DataModule::SWTableOpenClose(const QString& i, const QString& f, bool fd, bool o) {
    openClose(SWTable, i, f, fd, o);
}
void DataModule::ResourceTableOpenClose(const QString& i, const QString& f, bool fd, bool o) {
    openClose(ResourceTable, i, f, fd, o);
}
void DataModule::DummyTableOpenClose(const QString& i, const QString& f, bool fd, bool o) {
    openClose(DummyTable, i, f, fd, o);
}

QString DataModule::quoted(const QString& value) {
    if (!value.contains(u'\''))
        return u'\'' + value + u'\'';
    if (!value.contains(u'"'))
        return u'"' + value + u'"';
    if (!value.contains(u']'))
        return u'[' + value + u']';
    throw Error(QStringLiteral("The value \"%1\" cannot be searched for: it contains ', \" and ] "
                               "together.")
                    .arg(value));
}

QString DataModule::oneSystemFilter(const QString& sysId) {
    return QStringLiteral("SysID = ") + quoted(sysId);
}

QString DataModule::userNameFilter(const QString& first, const QString& last) {
    return QStringLiteral("UserFirst = ") + quoted(first) + QStringLiteral(" and UserLast = ") +
           quoted(last);
}

QString DataModule::kindCategoryFilter(const QString& mainKind, const QString& category) {
    return QStringLiteral("MAIN = ") + quoted(mainKind) + QStringLiteral(" AND Category = ") +
           quoted(category);
}

} // namespace qn
