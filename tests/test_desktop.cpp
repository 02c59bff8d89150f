// Windows that grow, scroll and remember their place.
#include "addsystemwindow.h"
#include "fixtures.h"
#include "formlayout.h"
#include "mainwindow.h"
#include "program.h"
#include "ui_mainwindow.h"

#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStatusBar>
#include <QTableView>
#include <QtTest>

using namespace qn;
using namespace qn::test;

namespace {

// A form as the windows draw theirs: 400 x 300, a grid on top, a label and its box across the
// width, and a row of buttons against the bottom right.
struct Form {
    QDialog window;
    QTableView* grid = new QTableView(&window);
    QLabel* label = new QLabel(QStringLiteral("Name"), &window);
    QLineEdit* edit = new QLineEdit(&window);
    QPushButton* ok = new QPushButton(QStringLiteral("Save"), &window);
    QPushButton* cancel = new QPushButton(QStringLiteral("Cancel"), &window);
    QLabel* hidden = new QLabel(&window);

    Form() {
        window.setObjectName(QStringLiteral("TFormTest"));
        window.resize(400, 300);
        grid->setGeometry(8, 8, 384, 200);
        label->setGeometry(8, 220, 60, 20);
        edit->setGeometry(72, 218, 320, 24);
        ok->setGeometry(232, 266, 76, 26);
        cancel->setGeometry(316, 266, 76, 26);
        hidden->setGeometry(8, 250, 40, 10);
        hidden->hide();
        makeResizable(&window);
    }
    QScrollArea* area() { return window.findChild<QScrollArea*>(); }
};

} // namespace

class DesktopTest : public QObject {
    Q_OBJECT
private slots:
    // Grown, the grid takes the room, the box the width, the buttons keep to the corner; made
    // smaller than drawn (as on a small screen), the form scrolls instead.
    void formGrowsAroundItsGridOrScrolls() {
        Form f;
        QCOMPARE(f.window.minimumSize(), QSize(400, 300));
        f.window.resize(600, 500);
        f.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f.window));
        QCOMPARE(f.grid->geometry(), QRect(8, 8, 584, 400));
        QCOMPARE(f.label->geometry(), QRect(8, 420, 60, 20));
        QCOMPARE(f.edit->geometry(), QRect(72, 418, 520, 24));
        QCOMPARE(f.ok->geometry(), QRect(432, 466, 76, 26));
        QCOMPARE(f.cancel->geometry(), QRect(516, 466, 76, 26));
        QVERIFY(f.hidden->isHidden() && f.edit->isVisible());
        f.edit->setFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), f.ok);

        f.window.setMinimumSize(0, 0);
        f.window.resize(300, 200);
        QTRY_VERIFY(f.area()->verticalScrollBar()->isVisible());
        QCOMPARE(f.cancel->geometry(), QRect(316, 266, 76, 26));
        QVERIFY(f.area()->horizontalScrollBar()->isVisible());
        f.area()->ensureWidgetVisible(f.cancel);
        QVERIFY(f.area()->viewport()->rect().contains(
            f.cancel->mapTo(f.area()->viewport(), QPoint(0, 0))));
    }

    // Two grids beside each other split the width; a button under the right one follows it.
    void growersSideBySideShareTheRoom() {
        const QList<Placement> s{{QRect(0, 0, 100, 100), true},
                                 {QRect(110, 0, 100, 100), true},
                                 {QRect(110, 110, 40, 20), false}};
        const QSize design(220, 140), size(320, 240);
        QCOMPARE(placeControl(s, 0, design, size), QRect(0, 0, 150, 200));
        QCOMPARE(placeControl(s, 1, design, size), QRect(160, 0, 150, 200));
        QCOMPARE(placeControl(s, 2, design, size), QRect(160, 210, 40, 20));
    }

    // The main window's keys, its help page and its status bar, as a user meets them.
    void mainWindowKeysAndStatus() {
        Inventory inv;
        Program& p = *inv.program;
        MainWindow& main = p.TForm6();
        QVERIFY(QTest::qWaitForWindowActive(&main));
        auto status = [&](const char* name) { return main.findChild<QLabel*>(name); };
        QCOMPARE(status("StatusFolder")->toolTip(), inv.ws.path("db"));
        QCOMPARE(status("StatusCount")->text(), QStringLiteral("0 systems"));
        QCOMPARE(main.ui().Create2->text(), QStringLiteral("Create")); // caption unchanged

        user::key(Qt::Key_F1);
        const QList<MessageService::Shown> shown = MessageService::takeShown();
        QCOMPARE(shown.size(), 1);
        for (const char* line : {"Ctrl+N\tCreate", "Ctrl+F\tFind", "Ctrl+H\tCreate", "Ctrl+I\tView",
                                 "Ctrl+Q\tQuit", "F1\tKeyboard Shortcuts"})
            QVERIFY2(shown[0].text.contains(QLatin1String(line)), line);

        user::key(Qt::Key_N, Qt::ControlModifier);
        QTRY_VERIFY(p.TForm18().isVisible());
        QVERIFY(!main.isVisible());
        user::type("Ann");
        user::tab(8);
        user::type("10.1.1.9");
        user::enter();
        QTRY_COMPARE(main.statusBar()->currentMessage(), QStringLiteral("System QN0001 saved"));
        user::escape();
        QTRY_VERIFY(main.isActiveWindow());
        QCOMPARE(status("StatusCount")->text(), QStringLiteral("1 system"));
    }

    // The small print over the title picture stays readable in a light and in a dark theme.
    void titleReadableInEveryTheme_data() {
        QTest::addColumn<bool>("dark");
        QTest::newRow("light") << false;
        QTest::newRow("dark") << true;
    }
    void titleReadableInEveryTheme() {
        QFETCH(bool, dark);
        const QPalette before = QApplication::palette();
        QPalette theme = before;
        if (dark)
            for (auto [role, colour] : {std::pair{QPalette::Window, QColor(40, 40, 40)},
                                        std::pair{QPalette::WindowText, QColor(235, 235, 235)},
                                        std::pair{QPalette::Base, QColor(25, 25, 25)},
                                        std::pair{QPalette::Text, QColor(235, 235, 235)}})
                theme.setColor(role, colour);
        Inventory inv("QN", false);
        QApplication::setPalette(theme);
        QCoreApplication::processEvents();
        MainWindow& main = inv.program->TForm6();
        auto* print = main.findChild<QLabel*>("Label3");
        const QImage shot = main.centralWidget()->grab().toImage();
        print->hide();
        const QImage bare = main.centralWidget()->grab().toImage();
        QApplication::setPalette(before);
        // Where the text is drawn, how far its pixels stand from the picture beneath them.
        double sum = 0;
        int n = 0;
        const QRect area = print->geometry() & shot.rect();
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                if (shot.pixel(x, y) != bare.pixel(x, y)) {
                    sum += std::abs(QColor(shot.pixel(x, y)).lightnessF() -
                                    QColor(bare.pixel(x, y)).lightnessF());
                    ++n;
                }
        QVERIFY(n > 50);
        QVERIFY2(sum / n > 0.3, qPrintable(QString::number(sum / n)));
    }

    void windowKeepsItsPlaceBetweenRuns() {
        QFile::remove(WindowMemory::filePath());
        QRect placed;
        {
            Form f;
            WindowMemory::attach(&f.window);
            f.window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&f.window));
            f.window.setGeometry(40, 50, 640, 480);
            placed = f.window.geometry();
            f.window.hide();
        }
        Form again;
        WindowMemory::attach(&again.window);
        again.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&again.window));
        QCOMPARE(again.window.geometry(), placed);
    }
};

QN_GUI_TEST_MAIN(DesktopTest)
#include "test_desktop.moc"
