// Damage between operations. Starts each run from a valid table with a production index and
// reads the input as a program: operations through a table object (open, append, lookup, edit
// and post, delete, a walk) mixed with damage to the files (byte changes, truncation, another
// program's layout change). Every operation must work or raise StoreError, and a key that is
// found must lead to a row holding that key.
#include "dbffile.h"
#include "engine.h"
#include "error.h"
#include "filelock.h"
#include "fuzzutil.h"
#include "mdxfile.h"
#include "schema.h"
#include "table.h"
#include "tablefile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

using fuzz::readAll;
using fuzz::writeAll;

struct Setup {
    QTemporaryDir dir;
    std::unique_ptr<qn::Engine> engine;
    QString dbf, mdx;
    QByteArray dbfBytes, mdxBytes;

    Setup() {
        qn::setLockTimeout(std::chrono::milliseconds(0));
        engine = std::make_unique<qn::Engine>(dir.filePath("engine.cfg"));
        engine->initialize();
        engine->addAlias("FZ", "PATH:" + dir.path());
        dbf = dir.filePath("T.dbf");
        mdx = dir.filePath("T.mdx");
        qn::schema::createTableFiles(dbf,
                                     {{"NAME", 'C', 4, 0}, {"QTY", 'N', 6, 1}, {"NOTE", 'C', 5, 0}},
                                     {{"NAME", "NAME", "", 'C', 0, false, false},
                                      {"QTY", "QTY", "", 'N', 0, false, false},
                                      {"FIRST", "NAME", "", 'C', 0, true, false}});
        qn::Table t(*engine);
        t.setDatabaseName("FZ");
        t.setTableName("T.dbf");
        t.open();
        for (int i = 0; i < 40; ++i) {
            t.append();
            t.setFieldText("NAME", QString(QChar('a' + i % 7)) + QChar('a' + i % 3));
            t.setFieldInteger("QTY", i * 37 % 101);
            t.setFieldText("NOTE", QString::number(i));
            t.post();
        }
        t.close();
        dbfBytes = readAll(dbf);
        mdxBytes = readAll(mdx);
    }
};

Setup& setup() {
    static Setup s;
    return s;
}

// Another program's copy of the table with one field more or less, written over the file.
void relayout(const Setup& s, bool add) {
    const QString tmp = s.dbf + ".x";
    {
        qn::DbfFile old;
        old.open(s.dbf, false);
        std::vector<qn::FieldDef> fields(old.fields().begin(), old.fields().end());
        if (add)
            fields.push_back({"EXTRA", 'C', 3, 0});
        else if (fields.size() > 1)
            fields.pop_back();
        qn::DbfFile::create(tmp, fields, old.productionIndexFlag());
        qn::DbfFile fresh;
        fresh.open(tmp, true);
        const size_t n = size_t(std::min(fresh.recordLength(), old.recordLength()));
        for (uint32_t r = 1; r <= old.recordCount(); ++r) {
            std::string rec = fresh.blankRecord();
            rec.replace(0, n, old.record(r), n);
            fresh.appendRecord(rec.data());
        }
    }
    writeAll(s.dbf, readAll(tmp));
    QFile::remove(tmp);
}

class Input {
public:
    Input(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    bool more() const { return m_pos < m_size; }
    unsigned byte() { return m_pos < m_size ? m_data[m_pos++] : 0; }
    unsigned word() { return byte() | (byte() << 8); }
    QString name() {
        const unsigned b = byte();
        return QString(QChar('a' + b % 7)) + QChar('a' + (b >> 3) % 3);
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
};

void damage(const QString& path, unsigned at, unsigned value) {
    QFile f(path);
    if (!f.open(QIODevice::ReadWrite) || f.size() == 0)
        return;
    f.seek(qint64(at % unsigned(f.size())));
    const char c = char(value);
    f.write(&c, 1);
}

void cut(const QString& path, unsigned fraction) {
    QFile f(path);
    if (f.open(QIODevice::ReadWrite))
        f.resize(f.size() * qint64(fraction) / 256);
}

void run(Setup& s, qn::Table& t, Input& in) {
    static const char* const tags[] = {"", "NAME", "QTY", "FIRST"};
    switch (in.byte() % 11) {
    case 0:
        t.close();
        t.setIndexName(tags[in.byte() % 4]);
        t.open();
        break;
    case 1:
        t.append();
        t.setFieldText("NAME", in.name());
        t.setFieldInteger("QTY", in.byte());
        t.post();
        break;
    case 2: {
        if (t.indexName() != "NAME")
            t.setIndexName("NAME");
        const QString key = in.name();
        t.setKey();
        t.setFieldText("NAME", key);
        if (t.gotoKey() && t.fieldText("NAME") != key) {
            std::fprintf(stderr, "key %s led to a row of %s\n", qPrintable(key),
                         qPrintable(t.fieldText("NAME")));
            std::abort();
        }
        break;
    }
    case 3:
        if (t.isEmpty())
            break;
        t.edit();
        t.setFieldText("NAME", in.name());
        t.post();
        break;
    case 4:
        if (!t.isEmpty())
            t.remove();
        break;
    case 5: {
        int n = 0;
        for (t.first(); !t.eof() && n < 64; t.next())
            n += t.fieldText("QTY").size();
        t.recordCount();
        break;
    }
    case 6:
    case 7:
        damage(s.dbf, in.word(), in.byte());
        break;
    case 8:
        damage(s.mdx, in.word() | (in.byte() << 16), in.byte());
        break;
    case 9:
        cut(in.byte() & 1 ? s.mdx : s.dbf, in.byte());
        break;
    default:
        relayout(s, in.byte() & 1);
        break;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Setup& s = setup();
    writeAll(s.dbf, s.dbfBytes);
    writeAll(s.mdx, s.mdxBytes);
    Input in(data, size);
    qn::Table t(*s.engine);
    t.setDatabaseName("FZ");
    t.setTableName("T.dbf");
    for (int steps = 0; in.more() && steps < 64; ++steps) {
        try {
            if (!t.isActive() && steps % 4 == 0)
                t.open();
            run(s, t, in);
        } catch (const qn::StoreError&) {
            try {
                if (t.state() == qn::Table::State::Edit || t.state() == qn::Table::State::Insert)
                    t.cancel();
            } catch (const qn::StoreError&) {
            }
        }
    }
    qn::StoreNotices::instance().take();
    return 0;
}
