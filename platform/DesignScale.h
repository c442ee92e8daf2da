#pragma once
// The windows' pixel sizes were laid out for an 8-point font whose characters are about 6
// pixels wide at 96 dpi. A wider desktop font needs the sizes grown by the same ratio, or texts
// that fitted the layout are cut. Only the font matters here: Qt's pixels are already
// independent of the screen's density.
#include <QFont>

class QWidget;

namespace DesignScale {
// How much wider than the designed one the font's characters are; never below 1.
double Factor(const QFont& font);
// The same for the application's font.
double Factor();
// A designed size in pixels for the application's font. Negative sizes (a hidden column) and
// 0 are returned as they are.
int Px(int designPixels);
int Px(int designPixels, const QFont& font);
// Gives a window its designed size, scaled, but never more than the screen has room for
// (title bar and task bar left over), so no part of it lies out of reach.
void Resize(QWidget* window, int designWidth, int designHeight);
// Back from pixels to design units, so stored sizes carry over to another desktop.
int ToDesign(int pixels);
} // namespace DesignScale
