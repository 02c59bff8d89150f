#include "messageservice.h"

#include "error.h"
#include "guard.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QQueue>

namespace qn {
namespace {

struct TestState {
    bool on = false;
    QQueue<QMessageBox::StandardButton> answers;
    QList<MessageService::Shown> shown;
};

TestState& testState() {
    static TestState s;
    return s;
}

QString appCaption() {
    QString name = QApplication::applicationDisplayName();
    return name.isEmpty() ? QStringLiteral("Quillnet") : name;
}

// A box that only its buttons answer.
class ButtonsOnlyBox : public QMessageBox {
public:
    using QMessageBox::QMessageBox;

protected:
    void keyPressEvent(QKeyEvent* e) override {
        if (e->matches(QKeySequence::Cancel))
            return;
        QMessageBox::keyPressEvent(e);
    }
    void closeEvent(QCloseEvent* e) override { e->ignore(); }
};

} // namespace

void MessageService::information(QWidget* parent, const QString& text) {
    show(parent, Kind::Information, appCaption(), text, QMessageBox::NoIcon, QMessageBox::Ok,
         QMessageBox::Ok);
}

bool MessageService::alert(QWidget* parent, const QString& text, Escape escape) {
    return show(parent, Kind::Alert, QStringLiteral("Alert!"), text, QMessageBox::Warning,
                QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes, escape) == QMessageBox::Yes;
}

bool MessageService::prompt(QWidget* parent, const QString& text) {
    return show(parent, Kind::Prompt, QStringLiteral("ERROR!"), text, QMessageBox::NoIcon,
                QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Ok) == QMessageBox::Ok;
}

bool MessageService::confirm(QWidget* parent, const QString& text) {
    return show(parent, Kind::Confirm, QStringLiteral("Confirm"), text, QMessageBox::Question,
                QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Cancel) == QMessageBox::Ok;
}

void MessageService::error(QWidget* parent, const QString& text) {
    show(parent, Kind::Error, appCaption(), text, QMessageBox::Critical, QMessageBox::Ok,
         QMessageBox::Ok);
}

void showFailure(const std::exception& e) {
    if (auto* err = dynamic_cast<const Error*>(&e))
        MessageService::error(QApplication::activeWindow(), err->message());
    else
        MessageService::error(QApplication::activeWindow(), QString::fromLocal8Bit(e.what()));
}

void MessageService::setTestMode(bool on) {
    TestState& s = testState();
    s.on = on;
    s.answers.clear();
    s.shown.clear();
}

bool MessageService::testMode() {
    return testState().on;
}

void MessageService::queueAnswer(QMessageBox::StandardButton answer) {
    testState().answers.enqueue(answer);
}

QList<MessageService::Shown> MessageService::takeShown() {
    return std::exchange(testState().shown, {});
}

QMessageBox::StandardButton MessageService::show(QWidget* parent, Kind kind, const QString& caption,
                                                 const QString& text, QMessageBox::Icon icon,
                                                 QMessageBox::StandardButtons buttons,
                                                 QMessageBox::StandardButton defaultButton,
                                                 Escape escape) {
    TestState& s = testState();
    if (s.on) {
        s.shown.append({kind, caption, text});
        if (s.answers.isEmpty())
            return defaultButton;
        QMessageBox::StandardButton a = s.answers.dequeue();
        return buttons.testFlag(a) ? a : defaultButton;
    }
    if (escape == Escape::None) {
        ButtonsOnlyBox box(icon, caption, text, buttons, parent);
        box.setDefaultButton(defaultButton);
        box.setWindowFlags((box.windowFlags() | Qt::CustomizeWindowHint) &
                           ~Qt::WindowCloseButtonHint);
        return QMessageBox::StandardButton(box.exec());
    }
    QMessageBox box(icon, caption, text, buttons, parent);
    box.setDefaultButton(defaultButton);
    return QMessageBox::StandardButton(box.exec());
}

} // namespace qn
