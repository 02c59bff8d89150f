#pragma once

#include <QPixmap>
#include <QSize>

class QWidget;

namespace qn::artwork {

/// The title picture: a small network of computers on a dusk sky, drawn at the given size.
QPixmap titlePicture(QSize size);

/// Draws picture over the whole of widget whether or not the widget is enabled.
void paintInColour(QWidget* widget, const QPixmap& picture);

} // namespace qn::artwork
