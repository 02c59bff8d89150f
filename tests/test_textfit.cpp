// Every caption of every window fits the place it is given, at the usual font and at one half
// larger (a 144-dpi desktop font).
#include "dbcontrols.h"
#include "guiutil.h"
#include "program.h"
#include "searchwindow.h"
#include "ui_searchwindow.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>
#include <QStyle>

using namespace qn;

namespace {

// The texts of a window's labels and buttons that do not fit, with the room they need and have.
QStringList overflows(QWidget* window) {
    QStringList out;
    auto check = [&](QWidget* w, const QString& text, QSize need, QSize have) {
        if (need.width() > have.width() || need.height() > have.height())
            QDebug(&out.emplaceBack()) << window->objectName() + '/' + w->objectName() << text
                                       << "needs" << need << "has" << have;
    };
    for (QLabel* l : window->findChildren<QLabel*>()) {
        if (qobject_cast<DBText*>(l) || l->text().isEmpty() || !l->isVisibleTo(window) ||
            Qt::mightBeRichText(l->text()))
            continue;
        const QRect r =
            l->contentsRect().adjusted(l->margin(), l->margin(), -l->margin(), -l->margin());
        const QFontMetrics fm = l->fontMetrics();
        const QSize need =
            l->wordWrap()
                ? fm.boundingRect(r, int(l->alignment()) | Qt::TextWordWrap, l->text()).size()
                : QSize(fm.horizontalAdvance(l->text()), fm.height());
        check(l, l->text(), need, r.size());
    }
    for (QAbstractButton* b : window->findChildren<QAbstractButton*>()) {
        if (b->text().isEmpty() || !b->isVisibleTo(window))
            continue;
        const QString text = QString(b->text()).remove(u'&');
        const QFontMetrics fm = b->fontMetrics();
        QStyle* st = b->style();
        int extra = 0;
        if (qobject_cast<QPushButton*>(b))
            extra = 2 * st->pixelMetric(QStyle::PM_ButtonMargin, nullptr, b);
        else if (qobject_cast<QRadioButton*>(b))
            extra = st->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth, nullptr, b) +
                    st->pixelMetric(QStyle::PM_RadioButtonLabelSpacing, nullptr, b);
        else if (qobject_cast<QCheckBox*>(b))
            extra = st->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, b) +
                    st->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, b);
        check(b, text, QSize(fm.horizontalAdvance(text) + extra, fm.height()), b->size());
    }
    return out;
}

} // namespace

class TestTextFit : public QObject {
    Q_OBJECT
private slots:
    void everyWindow_data() {
        QTest::addColumn<double>("scale");
        QTest::newRow("100 %") << 1.0;
        QTest::newRow("150 %") << 1.5;
    }
    void everyWindow() {
        QFETCH(double, scale);
        const QFont normal = QApplication::font();
        QFont font = normal;
        font.setPointSizeF(normal.pointSizeF() * scale);
        QApplication::setFont(font);
        const auto restore = qScopeGuard([normal] { QApplication::setFont(normal); });

        test::Workspace ws;
        ws.writeSettings(test::settingsFile(ws.path("db"), ""));
        Program p(ws.engine());
        QStringList bad;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (!w->objectName().isEmpty() && !w->inherits("QMenu")) {
                // A window laid out by a layout (the about box) takes its size when shown.
                const bool sized = w->layout() && !w->inherits("QMainWindow");
                if (sized) {
                    w->adjustSize();
                    w->show();
                }
                bad << overflows(w);
                if (sized)
                    w->hide();
            }
        // The search prompt is shown once a criterion is chosen; each in turn.
        SearchWindow& search = p.TForm2();
        search.show();
        for (QRadioButton* item : search.ui().SearchGroup->findChildren<QRadioButton*>()) {
            test::user::click(item);
            const QRect prompt = search.ui().Label1->geometry();
            for (QRadioButton* other : search.ui().SearchGroup->findChildren<QRadioButton*>()) {
                const QRect r(other->mapTo(&search, QPoint()), other->size());
                if (r.intersects(prompt))
                    bad << QStringLiteral("the prompt overlaps \"%1\"").arg(other->text());
            }
            bad << overflows(&search);
        }
        bad.removeDuplicates();
        QVERIFY2(bad.isEmpty(), qPrintable("\n" + bad.join('\n')));
    }
};

QN_GUI_TEST_MAIN(TestTextFit)
#include "test_textfit.moc"
