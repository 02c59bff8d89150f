#include "search.h"

#include "datamodule.h"
#include "session.h"
#include "table.h"

#include <algorithm>

namespace qn::search {
namespace {

struct CriterionInfo {
    const char* prompt;
    const char* file;
    const char* listTag;
    const char* findTag;
};

const CriterionInfo kCriteria[] = {
    {"Enter IP Address to search for...", "IP.dbf", "IP", "IP"},
    {"Enter Alias to search for...", "IP.dbf", "Alias", nullptr},
    {"Enter Office Number to search for...", "Systems.dbf", "Office", "Office"},
    {"Enter Computer Name to search for...", "IP.dbf", "Computer", "Computer"},
    {"Enter User Name to search for...", "Systems.dbf", "User", "User"},
    {"Enter System ID to search for...", "Systems.dbf", "SysID", "SysID"},
};

const char* const kAliases[] = {"Alias1", "Alias2", "Alias3", "Alias4"};

// DummyTable opened on a tag of file for one piece of work.
TableSession openDummy(DataModule& dm, const QString& file, const QString& tag) {
    dm.DummyTable->setTableName(file);
    return TableSession(dm, dm.DummyTable, &DataModule::DummyTableOpenClose, tag);
}

// Goes to the row of the key; with four octets, to the row of that key holding them.
bool seek(Table& t, const QStringList& fields, const QStringList& values,
          const QStringList& octets = {}) {
    // A value longer than its field cannot be stored there, so no row holds it.
    for (int i = 0; i < fields.size(); ++i)
        if (values[i].size() > t.fieldWidth(fields[i]))
            return false;
    t.setKey();
    for (int i = 0; i < fields.size(); ++i)
        t.setFieldText(fields[i], values[i]);
    if (!t.gotoKey())
        return false;
    if (octets.size() != 4)
        return true;
    // Addresses sharing a key (1.11.1.1 and 11.1.1.1) are told apart by their octets.
    auto same = [&t, &octets] {
        for (int i = 0; i < 4; ++i)
            if (t.fieldText(QStringLiteral("IP%1").arg(i + 1)) != octets[i])
                return false;
        return true;
    };
    for (; !t.eof() && t.fieldText(fields[0]) == values[0]; t.next())
        if (same())
            return true;
    return false;
}

} // namespace

std::string numericKey(const QString& value) {
    // Letter case ignored; a run of digits as its length without leading zeros, then the
    // digits, so that the bytes compare as the numbers do.
    const QString folded = value.toCaseFolded();
    std::string key;
    for (qsizetype i = 0; i < folded.size();) {
        const char16_t c = folded[i].unicode();
        if (c < u'0' || c > u'9') {
            if (c < 128)
                key += char(c);
            else
                key += QString(folded[i]).toStdString();
            ++i;
            continue;
        }
        while (i < folded.size() && folded[i] == u'0')
            ++i;
        std::string digits;
        for (; i < folded.size() && folded[i] >= u'0' && folded[i] <= u'9'; ++i)
            digits += char(folded[i].unicode());
        key += '0';
        key += char(uint8_t(std::min<size_t>(digits.size(), 255)));
        key += digits;
    }
    return key;
}

QString prompt(Criterion c) {
    return c == None ? QString() : QLatin1String(kCriteria[c].prompt);
}

QStringList values(DataModule& dm, Criterion c) {
    if (c == None)
        return {};
    const CriterionInfo& info = kCriteria[c];
    QStringList values;
    {
        const TableSession dummy =
            openDummy(dm, QLatin1String(info.file), QLatin1String(info.listTag));
        Table& t = *dummy;
        QString previousName = QStringLiteral("ZZZZ");
        for (t.first(); !t.eof(); t.next()) {
            auto field = [&t](const char* name) { return t.fieldText(QLatin1String(name)); };
            switch (c) {
            case IPAddress:
                values << field("IP1") + u'.' + field("IP2") + u'.' + field("IP3") + u'.' +
                              field("IP4");
                break;
            case Alias:
                for (const char* a : kAliases)
                    if (!field(a).isEmpty())
                        values << field(a);
                break;
            case OfficeNumber:
                if (!field("Room").isEmpty())
                    values << field("Room");
                break;
            case ComputerName:
                if (!field("Computer").isEmpty())
                    values << field("Computer");
                break;
            case UserName: {
                const QString name = field("UserFirst") + u' ' + field("UserLast");
                if (name != previousName)
                    values << name;
                previousName = name;
                break;
            }
            case SysID:
                if (!field("SysID").isEmpty())
                    values << field("SysID");
                break;
            case None:
                break;
            }
        }
    }
    if (c == IPAddress || c == SysID) {
        // By their numbers: 10.0.0.2 before 10.0.0.10, QN2 before QN10.
        std::vector<std::pair<std::string, qsizetype>> keys;
        keys.reserve(size_t(values.size()));
        for (qsizetype i = 0; i < values.size(); ++i)
            keys.emplace_back(numericKey(values[i]), i);
        std::stable_sort(keys.begin(), keys.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        QStringList sorted;
        sorted.reserve(values.size());
        for (const auto& k : keys)
            sorted << values[k.second];
        return sorted;
    }
    std::stable_sort(values.begin(), values.end(), [](const QString& a, const QString& b) {
        return a.compare(b, Qt::CaseInsensitive) < 0;
    });
    return values;
}

QString addressKey(const QString& value) {
    QString key = value;
    for (int i = 0; i < 3; ++i) {
        qsizetype dot = key.indexOf(u'.');
        if (dot < 0)
            break;
        key.remove(dot, 1);
    }
    return key;
}

QPair<QString, QString> nameHalves(const QString& value) {
    qsizetype space = value.indexOf(u' ');
    if (space < 0)
        return {QString(), value.left(99)};
    return {value.left(space), value.mid(space + 1, 99)};
}

QString find(DataModule& dm, Criterion c, const QString& value) {
    if (c == None)
        return QString();
    if (c == Alias) {
        for (const char* a : kAliases) {
            const TableSession dummy = openDummy(dm, QStringLiteral("IP.dbf"), QLatin1String(a));
            if (seek(*dummy, {QLatin1String(a)}, {value}))
                return DataModule::oneSystemFilter(dummy->fieldText(QStringLiteral("SysID")));
        }
        return QString();
    }
    QStringList fields, values, octets;
    switch (c) {
    case IPAddress:
        fields = {QStringLiteral("IPString")};
        values = {addressKey(value)};
        octets = value.split(u'.');
        break;
    case OfficeNumber:
        fields = {QStringLiteral("Room")};
        values = {value};
        break;
    case ComputerName:
        fields = {QStringLiteral("Computer")};
        values = {value};
        break;
    case UserName: {
        const auto [first, last] = nameHalves(value);
        fields = {QStringLiteral("UserFirst"), QStringLiteral("UserLast")};
        values = {first, last};
        break;
    }
    default:
        fields = {QStringLiteral("SysID")};
        values = {value};
        break;
    }
    const TableSession dummy =
        openDummy(dm, QLatin1String(kCriteria[c].file), QLatin1String(kCriteria[c].findTag));
    Table& t = *dummy;
    if (!seek(t, fields, values, octets))
        return QString();
    return c == UserName ? DataModule::userNameFilter(t.fieldText(QStringLiteral("UserFirst")),
                                                      t.fieldText(QStringLiteral("UserLast")))
                         : DataModule::oneSystemFilter(t.fieldText(QStringLiteral("SysID")));
}

QString notFoundMessage(Criterion c) {
    return c == Alias ? QStringLiteral("Cannot that Alias!") : QStringLiteral("System Not Found!");
}

void openForSystemInfo(DataModule& dm, const QString& systemsFilter) {
    dm.IPTableOpenClose(QStringLiteral("SysID"), QString(), false, true);
    dm.SysTableOpenClose(QStringLiteral("SysID"), systemsFilter, true, true);
    dm.HWTableOpenClose(QStringLiteral("SysID"), QString(), false, true);
    dm.SWTableOpenClose(QStringLiteral("SysID"), QString(), false, true);
}

} // namespace qn::search
