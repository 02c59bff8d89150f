#include "formlayout.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QEvent>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLayout>
#include <QLineEdit>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QPointer>
#include <QScreen>
#include <QScrollArea>
#include <QSettings>
#include <QStandardPaths>
#include <QTextEdit>
#include <QTimer>
#include <QVBoxLayout>
#include <cmath>

namespace qn {
namespace {

bool isContainer(const QWidget* w) {
    const QMetaObject* m = w->metaObject();
    return qobject_cast<const QGroupBox*>(w) || m == &QFrame::staticMetaObject ||
           m == &QWidget::staticMetaObject;
}

bool growsItself(const QWidget* w) {
    return qobject_cast<const QAbstractItemView*>(w) || qobject_cast<const QPlainTextEdit*>(w) ||
           qobject_cast<const QTextEdit*>(w);
}

QList<QWidget*> controlsOf(const QWidget* container) {
    QList<QWidget*> out;
    for (QObject* o : container->children())
        if (auto* w = qobject_cast<QWidget*>(o); w && !w->isWindow())
            out << w;
    return out;
}

bool grows(const QWidget* w) {
    if (growsItself(w))
        return true;
    if (!isContainer(w))
        return false;
    const QList<QWidget*> inner = controlsOf(w);
    return std::any_of(inner.begin(), inner.end(), [](const QWidget* c) { return grows(c); });
}

// Boxes one types into may widen with their row.
bool stretches(const QWidget* w) {
    return qobject_cast<const QLineEdit*>(w) || qobject_cast<const QComboBox*>(w);
}

bool overlap(int a0, int a1, int b0, int b1) {
    return a0 < b1 && b0 < a1;
}

// One axis of the placement; the other axis is the same with the rectangles transposed.
struct Axis {
    int (*lo)(const QRect&);
    int (*hi)(const QRect&); // one past the end
    int (*crossLo)(const QRect&);
    int (*crossHi)(const QRect&);
};
const Axis kX{[](const QRect& r) { return r.left(); }, [](const QRect& r) { return r.right() + 1; },
              [](const QRect& r) { return r.top(); },
              [](const QRect& r) { return r.bottom() + 1; }};
const Axis kY{[](const QRect& r) { return r.top(); }, [](const QRect& r) { return r.bottom() + 1; },
              [](const QRect& r) { return r.left(); },
              [](const QRect& r) { return r.right() + 1; }};

bool side(const QList<Placement>& s, qsizetype a, qsizetype b, const Axis& ax) {
    return overlap(ax.crossLo(s[a].design), ax.crossHi(s[a].design), ax.crossLo(s[b].design),
                   ax.crossHi(s[b].design));
}

// The extra room a grower takes: the room divided among the growers beside it on this axis.
double share(const QList<Placement>& s, qsizetype g, const Axis& ax, int extra) {
    int n = 0;
    for (qsizetype i = 0; i < s.size(); ++i)
        n += s[i].grows && side(s, g, i, ax);
    return double(extra) / std::max(1, n);
}

// The room taken by the growers that lie beside grower g and wholly before it on this axis.
double startOf(const QList<Placement>& s, qsizetype g, const Axis& ax, int extra) {
    double sum = 0;
    for (qsizetype i = 0; i < s.size(); ++i)
        if (i != g && s[i].grows && side(s, g, i, ax) && ax.hi(s[i].design) <= ax.lo(s[g].design))
            sum += share(s, i, ax, extra);
    return sum;
}

// How far a control moves: as far as the end of the furthest grower wholly before it moves,
// whether beside it or in another row (a button under the right one of two grids follows it).
double shiftOf(const QList<Placement>& s, qsizetype c, const Axis& ax, int extra) {
    double most = 0;
    for (qsizetype i = 0; i < s.size(); ++i)
        if (i != c && s[i].grows && ax.hi(s[i].design) <= ax.lo(s[c].design))
            most = std::max(most, startOf(s, i, ax, extra) + share(s, i, ax, extra));
    return most;
}

// Plain controls in one row, a small gap apart, move as one: a row of buttons that ends at
// the right edge keeps its spacing there. A row drawn across the whole width (a label and its
// box) stays where it starts; its last box takes the room instead.
enum class Row { Free, AtEnd, Across };

Row rowOf(const QList<Placement>& s, qsizetype c, int edge, int margin, int gap) {
    QList<qsizetype> row{c};
    QList<bool> seen(s.size(), false);
    seen[c] = true;
    bool atEnd = false;
    int start = s[c].design.left();
    for (qsizetype k = 0; k < row.size(); ++k) {
        const QRect a = s[row[k]].design;
        atEnd = atEnd || a.right() + 1 >= edge - margin;
        start = std::min(start, a.left());
        for (qsizetype i = 0; i < s.size(); ++i) {
            const QRect b = s[i].design;
            if (seen[i] || s[i].grows || s[i].container ||
                !overlap(a.top(), a.bottom() + 1, b.top(), b.bottom() + 1))
                continue;
            const int dist = std::max(b.left() - a.right() - 1, a.left() - b.right() - 1);
            if (dist <= gap) {
                seen[i] = true;
                row << i;
            }
        }
    }
    return !atEnd ? Row::Free : start <= margin ? Row::Across : Row::AtEnd;
}

std::pair<int, int> place(const QList<Placement>& s, qsizetype c, int designExtent, int extra,
                          const Axis& ax, bool xAxis) {
    const QRect d = s[c].design;
    const int lo = ax.lo(d), hi = ax.hi(d);
    if (extra <= 0)
        return {lo, hi};
    const int margin = std::max(10, designExtent / 25);
    if (s[c].grows) {
        const double start = startOf(s, c, ax, extra);
        return {lo + int(std::lround(start)),
                hi + int(std::lround(start + share(s, c, ax, extra)))};
    }
    const bool nearStart = lo <= margin, nearEnd = hi >= designExtent - margin;
    if (nearStart && nearEnd && (xAxis || s[c].container))
        return {lo, hi + extra};
    if (!xAxis) {
        if (nearEnd && (!s[c].container || !nearStart))
            return {lo + extra, hi + extra};
    } else if (s[c].container) {
        if (nearEnd)
            return {lo + extra, hi + extra};
    } else {
        const Row row = rowOf(s, c, designExtent, margin, 12);
        if (row == Row::AtEnd)
            return {lo + extra, hi + extra};
        if (row == Row::Across && nearEnd && s[c].stretches)
            return {lo, hi + extra};
    }
    const int shift = int(std::lround(shiftOf(s, c, ax, extra)));
    return {lo + shift, hi + shift};
}

// Keeps the controls of one container where they belong as it changes size.
class Anchors : public QObject {
public:
    Anchors(QWidget* container) : QObject(container), m_designSize(container->size()) {
        for (QObject* o : container->children()) {
            auto* w = qobject_cast<QWidget*>(o);
            if (!w || w->isWindow())
                continue;
            m_controls << w;
            m_placements << Placement{w->geometry(), grows(w), isContainer(w), stretches(w)};
            if (isContainer(w) && !w->layout())
                new Anchors(w);
        }
        container->installEventFilter(this);
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Resize && watched == parent()) {
            const QSize size = static_cast<QWidget*>(watched)->size();
            for (qsizetype i = 0; i < m_controls.size(); ++i)
                if (m_controls[i])
                    m_controls[i]->setGeometry(placeControl(m_placements, i, m_designSize, size));
        }
        return false;
    }

private:
    QSize m_designSize;
    QList<QPointer<QWidget>> m_controls;
    QList<Placement> m_placements;
};

QRect available(const QWidget* window) {
    const QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect(0, 0, 1 << 14, 1 << 14);
}

// Room the window manager's frame takes around the client area, as a guess before the first
// showing (the frame is known only then).
constexpr int kFrameGuess = 40;

void fitOnScreen(QWidget* window) {
    const QRect screen = available(window);
    QSize size = window->size().boundedTo(screen.size() - QSize(0, kFrameGuess));
    if (size != window->size())
        window->resize(size);
    QRect frame = window->frameGeometry();
    if (frame.width() < window->width())
        frame.setSize(window->size() + QSize(0, kFrameGuess));
    QPoint at = frame.topLeft();
    at.setX(
        std::clamp(at.x(), screen.left(), std::max(screen.left(), screen.right() - frame.width())));
    at.setY(
        std::clamp(at.y(), screen.top(), std::max(screen.top(), screen.bottom() - frame.height())));
    if (at != frame.topLeft())
        window->move(at);
}

class Memory : public QObject {
public:
    explicit Memory(QWidget* window) : QObject(window) { window->installEventFilter(this); }

    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* window = static_cast<QWidget*>(watched);
        if (event->type() == QEvent::Show && !m_restored) {
            m_restored = true;
            QSettings file(WindowMemory::filePath(), QSettings::IniFormat);
            const QByteArray saved = file.value(key(window)).toByteArray();
            if (!saved.isEmpty())
                window->restoreGeometry(saved);
            fitOnScreen(window);
            // Once the window manager has framed the window its title bar is known; keep it
            // on the screen too.
            QTimer::singleShot(200, window, [window] { fitOnScreen(window); });
        } else if (event->type() == QEvent::Hide && m_restored && !window->isMinimized()) {
            QSettings file(WindowMemory::filePath(), QSettings::IniFormat);
            file.setValue(key(window), window->saveGeometry());
        }
        return false;
    }

private:
    static QString key(const QWidget* w) { return w->objectName() + QStringLiteral("/geometry"); }
    bool m_restored = false;
};

} // namespace

QRect placeControl(const QList<Placement>& siblings, qsizetype self, QSize designSize, QSize size) {
    const auto [x0, x1] =
        place(siblings, self, designSize.width(), size.width() - designSize.width(), kX, true);
    const auto [y0, y1] =
        place(siblings, self, designSize.height(), size.height() - designSize.height(), kY, false);
    return {x0, y0, x1 - x0, y1 - y0};
}

void makeResizable(QWidget* window) {
    const QRect screen = available(window);
    const QSize design = window->size();
    window->setMinimumSize(design.boundedTo(screen.size() - QSize(0, kFrameGuess)));
    window->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    if (auto* main = qobject_cast<QMainWindow*>(window)) {
        if (QWidget* central = main->centralWidget(); central && !central->layout()) {
            central->resize(main->size());
            new Anchors(central);
        }
        return;
    }
    if (window->layout())
        return;
    // The form's controls move onto a page inside a scroll area that fills the window.
    auto* area = new QScrollArea(window);
    area->setObjectName(QStringLiteral("FormScroll"));
    area->setFrameShape(QFrame::NoFrame);
    area->setWidgetResizable(true);
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("FormPage"));
    page->resize(design);
    area->setWidget(page);
    for (QObject* o : window->children()) {
        auto* w = qobject_cast<QWidget*>(o);
        if (!w || w == area || w->isWindow())
            continue;
        const bool hidden = w->isHidden();
        w->setParent(page);
        w->setVisible(!hidden);
    }
    page->setMinimumSize(design);
    new Anchors(page);
    auto* box = new QVBoxLayout(window);
    box->setContentsMargins(0, 0, 0, 0);
    box->addWidget(area);
    window->resize(design);
}

QString WindowMemory::filePath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Quillnet/windows.ini");
}

void WindowMemory::attach(QWidget* window) {
    new Memory(window);
}

} // namespace qn
