#pragma once

#include "application.h"
#include "engine.h"
#include "messageservice.h"
#include "statusnotes.h"
#include "table.h"
#include "testutil.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QMenuBar>
#include <QRadioButton>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>

namespace qn::test {

// A working folder with Master tables and a private engine configuration, made current.
class Workspace {
public:
    Workspace() : m_old(QDir::currentPath()) {
        QDir().mkpath(m_dir.filePath("Master"));
        const QString master = test::buildDir() + "/Master";
        for (const QString& f : QDir(master).entryList(QDir::Files))
            QFile::copy(master + '/' + f, m_dir.filePath("Master/" + f));
        m_engine = std::make_unique<Engine>(m_dir.filePath("engine.cfg"));
        QDir::setCurrent(m_dir.path());
    }
    ~Workspace() { QDir::setCurrent(m_old); }
    QString path(const QString& name = {}) const {
        return name.isEmpty() ? m_dir.path() : m_dir.filePath(name);
    }
    Engine& engine() { return *m_engine; }
    void writeSettings(const QByteArray& bytes) { writeBytes(path("setup.nfo"), bytes); }
    QByteArray settingsBytes() const {
        return QFile::exists(path("setup.nfo")) ? fileBytes(path("setup.nfo")) : "<none>";
    }
    QString alias() {
        m_engine->initialize();
        QString p = m_engine->hasAlias("IP") ? m_engine->aliasPath("IP") : QString("<none>");
        m_engine->shutdown();
        return p;
    }

private:
    QString m_old;
    QTemporaryDir m_dir;
    std::unique_ptr<Engine> m_engine;
};

// The confirmations the windows post for the status bar while it lives.
class Notes {
public:
    Notes() {
        QObject::connect(&StatusNotes::instance(), &StatusNotes::note, &m_receiver,
                         [this](const QString& text) { m_posted.append(text); });
    }
    QString last() const { return m_posted.value(m_posted.size() - 1); }

private:
    QObject m_receiver;
    QStringList m_posted;
};

/// The ten settings lines for a database folder and a prefix, then the password lines.
inline QByteArray settingsFile(const QString& db, const QByteArray& passwordLines,
                               const QByteArray& prefix = "QN") {
    return db.toLocal8Bit() + "\r\n" + prefix +
           "\r\nAcme\r\n1 Main St\r\nSpringfield\r\nIL\r\n62701\r\n"
           "555-0100\r\n555-0101\r\nit@acme.example\r\n" +
           passwordLines;
}

/// The texts of a list's, or a grid column's, entries, top to bottom.
template <class List> QStringList entries(const List* list, int column = 0) {
    QStringList out;
    for (int r = 0; r < list->model()->rowCount(); ++r)
        out << list->model()->index(r, column).data().toString();
    return out;
}

/// Appends one row to a table of the alias IP, through a table object of its own.
inline void addRow(Engine& engine, const QString& file, const Values& values) {
    appendRow(*Sandbox::openTable(engine, file), values);
}

/// Acts on the windows only as a user can: keys go to the widget that has the focus (or to an
/// open pop-up list), clicks go to visible, enabled controls, pasting goes through the clipboard. A
/// step the user could not take fails the test.
namespace user {

inline QWidget* focus() {
    // An open drop-down or completion list takes the keys, as it grabs the keyboard.
    QWidget* w = QApplication::activePopupWidget();
    if (!w)
        w = QApplication::focusWidget();
    if (!w)
        QTest::qFail("no widget has the focus", __FILE__, __LINE__);
    return w;
}

/// Presses one key (with modifiers) on the focused widget.
inline void key(int k, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    if (QWidget* w = focus())
        QTest::keyClick(w, Qt::Key(k), mods);
    QCoreApplication::processEvents(); // what the key set off, before the next one
}

/// Types text one character at a time; the focus may move between characters.
inline void type(const QString& text) {
    for (QChar c : text)
        if (QWidget* w = focus()) {
            QTest::keyClick(w, c.toLatin1());
            QCoreApplication::processEvents();
        }
}

inline void tab(int times = 1) {
    for (int i = 0; i < times; ++i)
        key(Qt::Key_Tab);
}
inline void enter() {
    key(Qt::Key_Return);
}
inline void escape() {
    key(Qt::Key_Escape);
}

/// Puts text on the clipboard and presses the paste keys.
inline void paste(const QString& text) {
    QGuiApplication::clipboard()->setText(text);
    key(Qt::Key_V, Qt::ControlModifier);
}

/// Puts text on the clipboard and chooses Paste from the focused box's context menu.
inline void pasteFromMenu(const QString& text) {
    QGuiApplication::clipboard()->setText(text);
    QWidget* box = focus();
    QTimer::singleShot(0, [] {
        if (auto* popup = qobject_cast<QMenu*>(QApplication::activePopupWidget()))
            QTest::keyClick(popup, Qt::Key_P); // the menu's "&Paste"
    });
    QContextMenuEvent event(QContextMenuEvent::Keyboard, box->rect().center(),
                            box->mapToGlobal(box->rect().center()));
    QApplication::sendEvent(box, &event);
    // As the window manager does when a menu closes: its window is active again.
    if (!QTest::qWaitForWindowActive(box->window(), 100)) {
        box->window()->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(box->window()));
    }
}

/// Clicks a control the user can see and reach, in its middle (a radio button or check box on
/// its mark), or at pos.
inline void click(QWidget* w, QPoint pos = {}) {
    if (pos.isNull() && (qobject_cast<QRadioButton*>(w) || qobject_cast<QCheckBox*>(w)))
        pos = QPoint(std::min(8, w->width() / 2), w->height() / 2);
    if (!w->isVisible() || !w->isEnabled() || !w->window()->isVisible()) {
        QTest::qFail(qPrintable(QStringLiteral("%1 is not there to click").arg(w->objectName())),
                     __FILE__, __LINE__);
        return;
    }
    // Clicking into another window makes it the active one, as the window manager does.
    if (QApplication::activeWindow() != w->window() && !QApplication::activeModalWidget()) {
        QApplication::setActiveWindow(w->window());
        if (!QTest::qWaitFor([w] { return QApplication::activeWindow() == w->window(); }, 1000))
            QTest::qFail("the window does not become active", __FILE__, __LINE__);
    }
    QTest::mouseClick(w, Qt::LeftButton, Qt::NoModifier, pos);
    QCoreApplication::processEvents();
}

/// Clicks into a box and types over what it holds.
inline void fill(QWidget* box, const QString& text) {
    click(box);
    key(Qt::Key_A, Qt::ControlModifier);
    type(text);
}

/// Clicks a cell of a grid.
inline void clickCell(QAbstractItemView* view, int row, int column = 0) {
    const QModelIndex index = view->model()->index(row, column);
    view->scrollTo(index);
    click(view->viewport(), view->visualRect(index).center());
}

/// Clicks the button captioned text among the visible ones of a window.
inline void clickButton(QWidget* window, const QString& text) {
    for (QAbstractButton* b : window->findChildren<QAbstractButton*>())
        if (b->text().remove(u'&') == text && b->isVisible()) {
            click(b);
            return;
        }
    QTest::qFail(qPrintable(QStringLiteral("no button \"%1\"").arg(text)), __FILE__, __LINE__);
}

/// Picks an entry of a drop-down list with the mouse; a disabled list does not open.
inline bool choose(QComboBox* list, const QString& text) {
    const int target = list->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (target < 0 || !list->isEnabled() || !list->isVisible())
        return false;
    list->showPopup();
    QAbstractItemView* view = list->view();
    if (!QTest::qWaitForWindowExposed(view->window()))
        return false;
    const QRect item = view->visualRect(list->model()->index(target, 0));
    QTest::mouseMove(view->viewport(), item.center());
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, item.center());
    return !view->window()->isVisible() && list->currentIndex() == target;
}

/// Chooses a menu path, clicking the menu bar and then each item of the drop-downs.
inline void menu(QMenuBar* bar, const QStringList& path) {
    QWidget* from = bar;
    for (const QString& caption : path) {
        QAction* a = nullptr;
        for (QAction* c : from->actions())
            if (c->text().remove(u'&') == caption)
                a = c;
        if (!a || !a->isEnabled() || !a->isVisible()) {
            QTest::qFail(qPrintable(QStringLiteral("menu item \"%1\" is not there").arg(caption)),
                         __FILE__, __LINE__);
            return;
        }
        auto* drop = qobject_cast<QMenu*>(from);
        const QRect r = drop ? drop->actionGeometry(a) : bar->actionGeometry(a);
        if (drop)
            QTest::mouseMove(from, r.center());
        QTest::mouseClick(from, Qt::LeftButton, Qt::NoModifier, r.center());
        if (!a->menu())
            return;
        if (!QTest::qWaitFor([&] { return a->menu()->isVisible(); }, 1000))
            return; // the menu did not drop down (something else took over)
        from = a->menu();
    }
}

/// Runs action with real message boxes; each box that opens is handed to the next of answers,
/// which answers it with keys and clicks. Boxes beyond the answers fail the test.
inline void withBoxes(const std::function<void()>& action,
                      QList<std::function<void(QMessageBox*)>> answers) {
    MessageService::setTestMode(false);
    QSet<QMessageBox*> seen;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || seen.contains(box))
            return;
        seen.insert(box);
        if (answers.isEmpty()) {
            QTest::qFail(qPrintable("unexpected box: " + box->text()), __FILE__, __LINE__);
            box->done(0);
            return;
        }
        answers.takeFirst()(box);
    });
    poll.start(5);
    action();
    MessageService::setTestMode(true);
    if (!answers.isEmpty())
        QTest::qFail("fewer boxes than answers", __FILE__, __LINE__);
}

} // namespace user

} // namespace qn::test

/// main() for window tests: the program's application object, message boxes answered by the test.
#define QN_GUI_TEST_MAIN(TestClass)                                                                \
    int main(int argc, char** argv) {                                                              \
        qn::Application app(argc, argv);                                                           \
        qn::MessageService::setTestMode(true);                                                     \
        TestClass t;                                                                               \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return QTest::qExec(&t, argc, argv);                                                       \
    }
