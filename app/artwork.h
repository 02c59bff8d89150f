#pragma once

#include <QPixmap>
#include <QSize>

namespace qn::artwork {

/// The title picture: a small network of computers on a dusk sky, drawn at the given size.
QPixmap titlePicture(QSize size);

} // namespace qn::artwork
