#pragma once

#include <QList>
#include <QMessageBox>
#include <QString>

class QWidget;

namespace qn {

/// Every message box of the program goes through here. In test mode nothing is shown: each box
/// is recorded and answered from a queue (or with its default button when the queue is empty).
class MessageService {
public:
    enum class Kind { Information, Alert, Prompt, Confirm, Error };
    struct Shown {
        Kind kind;
        QString caption;
        QString text;
    };

    /// A plain message with one OK button.
    static void information(QWidget* parent, const QString& text);
    /// What Escape (or closing the box) answers.
    enum class Escape { No, None };
    /// The "Alert!" question with Yes and No; true for Yes. With Escape::None (a question whose
    /// answers both change data) Escape and closing the box do nothing: only Yes or No answers.
    static bool alert(QWidget* parent, const QString& text, Escape escape = Escape::No);
    /// The "ERROR!" prompt with OK and Cancel and no icon; true for OK.
    static bool prompt(QWidget* parent, const QString& text);
    /// A confirmation with OK and Cancel, such as before deleting a row; true for OK.
    static bool confirm(QWidget* parent, const QString& text);
    /// The error box that shows a failed action's text.
    static void error(QWidget* parent, const QString& text);

    static void setTestMode(bool on);
    static bool testMode();
    static void queueAnswer(QMessageBox::StandardButton answer);
    /// The boxes shown since the last call, oldest first.
    static QList<Shown> takeShown();

private:
    static QMessageBox::StandardButton show(QWidget* parent, Kind kind, const QString& caption,
                                            const QString& text, QMessageBox::Icon icon,
                                            QMessageBox::StandardButtons buttons,
                                            QMessageBox::StandardButton defaultButton,
                                            Escape escape = Escape::No);
};

} // namespace qn
