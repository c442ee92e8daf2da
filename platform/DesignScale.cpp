#include "DesignScale.h"

#include <QFontMetricsF>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <algorithm>
#include <cmath>

namespace {
constexpr double DesignCharWidth = 6.0;
// What a window manager's frame and title bar may take around a window.
constexpr int FrameRoom = 24;
} // namespace

namespace DesignScale {

double Factor(const QFont& font) {
    const QFontMetricsF fm(font);
    // Numbers and dates fill most cells, and digits are often wider than the letters' average.
    const double digits = fm.horizontalAdvance(QStringLiteral("0123456789")) / 10.0;
    const double letters = fm.horizontalAdvance(QStringLiteral(
                               "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ")) /
                           52.0;
    return std::max(1.0, std::max(digits, letters) / DesignCharWidth);
}

double Factor() {
    return Factor(QGuiApplication::font());
}

int Px(int designPixels, const QFont& font) {
    if (designPixels <= 0) return designPixels;
    return int(std::lround(designPixels * Factor(font)));
}

int Px(int designPixels) {
    return Px(designPixels, QGuiApplication::font());
}

void Resize(QWidget* window, int designWidth, int designHeight) {
    QSize size(Px(designWidth), Px(designHeight));
    if (const QScreen* screen =
            window->screen() ? window->screen() : QGuiApplication::primaryScreen()) {
        const QSize room = screen->availableGeometry().size() - QSize(FrameRoom, 2 * FrameRoom);
        size = size.boundedTo(room);
    }
    window->resize(size);
}

int ToDesign(int pixels) {
    if (pixels <= 0) return pixels;
    return int(std::lround(pixels / Factor()));
}

} // namespace DesignScale
