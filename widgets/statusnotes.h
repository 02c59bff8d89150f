#pragma once

#include <QObject>
#include <QString>

namespace qn {

/// Short confirmations that need no box ("System QN0042 saved"): any window posts one, the main
/// window's status bar shows it for a while.
class StatusNotes : public QObject {
    Q_OBJECT
public:
    static StatusNotes& instance() {
        static StatusNotes notes;
        return notes;
    }
    static void post(const QString& text) { emit instance().note(text); }

signals:
    void note(const QString& text);
};

} // namespace qn
