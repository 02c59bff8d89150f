// Writes the empty template tables (the "Master" folder) that a new database folder is filled
// from.
#include "error.h"
#include "schema.h"

#include <QCoreApplication>
#include <QDir>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: make_master FOLDER\n");
        return 2;
    }
    try {
        qn::schema::createAll(QDir(args[1]).absolutePath());
    } catch (const qn::Error& e) {
        std::fprintf(stderr, "make_master: %s\n", e.what());
        return 1;
    }
    return 0;
}
