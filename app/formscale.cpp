#include "formscale.h"

#include <QApplication>
#include <QFontInfo>
#include <QLayout>
#include <QWidget>
#include <cmath>

namespace qn {
namespace {

constexpr double kDesignPixels = 12.0; // 9 points at 96 dpi

int scaled(int v, double f) {
    return int(std::lround(v * f));
}

QSize scaled(QSize s, double f) {
    return {s.width() >= QWIDGETSIZE_MAX ? QWIDGETSIZE_MAX : scaled(s.width(), f),
            s.height() >= QWIDGETSIZE_MAX ? QWIDGETSIZE_MAX : scaled(s.height(), f)};
}

void scaleLimits(QWidget* w, double f) {
    if (w->minimumSize() != QSize(0, 0))
        w->setMinimumSize(scaled(w->minimumSize(), f));
    if (w->maximumSize() != QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX))
        w->setMaximumSize(scaled(w->maximumSize(), f));
}

bool placedByLayout(const QWidget* w) {
    const QWidget* p = w->parentWidget();
    return p && p->layout() && p->layout()->indexOf(w) >= 0;
}

} // namespace

double formScale() {
    const double px = QFontInfo(QApplication::font()).pixelSize();
    return std::max(1.0, px / kDesignPixels);
}

void scaleForm(QWidget* window, double factor) {
    if (std::abs(factor - 1.0) < 0.01)
        return;
    for (QWidget* w : window->findChildren<QWidget*>()) {
        if (w->isWindow())
            continue;
        scaleLimits(w, factor);
        if (!placedByLayout(w)) {
            const QRect g = w->geometry();
            w->setGeometry(scaled(g.x(), factor), scaled(g.y(), factor), scaled(g.width(), factor),
                           scaled(g.height(), factor));
        }
    }
    const QSize size = scaled(window->size(), factor);
    scaleLimits(window, factor);
    window->resize(size);
}

} // namespace qn
