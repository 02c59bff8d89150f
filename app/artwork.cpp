#include "artwork.h"

#include <QEvent>
#include <QLinearGradient>
#include <QObject>
#include <QPainter>
#include <QPainterPath>
#include <QWidget>
#include <array>

namespace qn::artwork {
namespace {

class ColourPainter : public QObject {
public:
    ColourPainter(QWidget* widget, QPixmap picture)
        : QObject(widget), m_picture(std::move(picture)) {}
    void setPicture(QPixmap picture) { m_picture = std::move(picture); }
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::Paint)
            return false;
        auto* w = static_cast<QWidget*>(watched);
        QPainter p(w);
        p.drawPixmap(w->rect(), m_picture);
        return true;
    }

private:
    QPixmap m_picture;
};

} // namespace

void paintInColour(QWidget* widget, const QPixmap& picture) {
    if (auto* painter = widget->findChild<ColourPainter*>(QString(), Qt::FindDirectChildrenOnly))
        painter->setPicture(picture);
    else
        widget->installEventFilter(new ColourPainter(widget, picture));
    widget->update();
}

bool isDark(const QPalette& palette) {
    return palette.color(QPalette::Window).lightness() < 128;
}

Colours colours(const QPalette& palette) {
    if (isDark(palette))
        return {QColor(24, 34, 56), QColor(58, 48, 44),    QColor(150, 170, 205, 170),
                QColor(30, 40, 64), QColor(120, 160, 205), QColor(230, 90, 90)};
    return {QColor(176, 204, 236), QColor(248, 238, 218), QColor(120, 140, 170, 160),
            QColor(70, 90, 130),   QColor(160, 200, 235), QColor(128, 0, 0)};
}

QPixmap titlePicture(QSize size, const QPalette& palette) {
    const Colours c = colours(palette);
    QPixmap pm(size.isEmpty() ? QSize(401, 187) : size);
    const qreal w = pm.width(), h = pm.height();
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, h);
    sky.setColorAt(0, c.skyTop);
    sky.setColorAt(1, c.skyBottom);
    p.fillRect(pm.rect(), sky);

    // Nodes laid out on a fixed pattern, scaled to the picture, joined to a hub; the bottom
    // middle stays free for the tag line.
    const std::array<QPointF, 7> nodes = {
        QPointF(0.08, 0.78), QPointF(0.22, 0.90), QPointF(0.40, 0.82), QPointF(0.63, 0.80),
        QPointF(0.78, 0.80), QPointF(0.92, 0.90), QPointF(0.86, 0.62)};
    const QPointF hub(0.5 * w, 0.70 * h);
    p.setPen(QPen(c.link, std::max(1.0, h / 120)));
    for (const QPointF& n : nodes)
        p.drawLine(hub, QPointF(n.x() * w, n.y() * h));
    const qreal r = std::max(2.0, h / 40);
    p.setPen(Qt::NoPen);
    for (const QPointF& n : nodes) {
        QRectF box(n.x() * w - 1.6 * r, n.y() * h - r, 3.2 * r, 2 * r);
        p.setBrush(c.case_);
        p.drawRoundedRect(box, r / 3, r / 3);
        p.setBrush(c.screen);
        p.drawRect(box.adjusted(r / 3, r / 3, -r / 3, -r / 3));
    }
    p.setBrush(c.accent);
    p.drawEllipse(hub, 1.4 * r, 1.4 * r);
    return pm;
}

} // namespace qn::artwork
