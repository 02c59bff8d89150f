#pragma once

#include <QColor>
#include <QGuiApplication>
#include <QPalette>
#include <QPixmap>
#include <QSize>

class QWidget;

namespace qn::artwork {

/// The picture's colours: a light sky under a light desktop theme, a night sky under a dark
/// one, so that text drawn over it in the theme's own text colour stays readable.
struct Colours {
    QColor skyTop, skyBottom, link, case_, screen;
    QColor accent; // the hub, and the program's name drawn over the picture
};
bool isDark(const QPalette& palette);
Colours colours(const QPalette& palette);

/// The title picture: a small network of computers on a dusk sky, drawn at the given size.
QPixmap titlePicture(QSize size, const QPalette& palette = QGuiApplication::palette());

/// Draws picture over the whole of widget whether or not the widget is enabled.
void paintInColour(QWidget* widget, const QPixmap& picture);

} // namespace qn::artwork
