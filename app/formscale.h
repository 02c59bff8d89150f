#pragma once

class QWidget;

namespace qn {

/// The forms place their controls at fixed pixel positions, laid out for 9-point type. With a
/// larger application font (a 144-dpi desktop without device scaling, a bigger system font)
/// every position and size grows by the ratio of the font to that, so texts keep fitting.
double formScale();

/// Scales a window and its fixed-position controls by factor (1 leaves it untouched).
void scaleForm(QWidget* window, double factor);

} // namespace qn
