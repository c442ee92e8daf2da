#include "KeepOnScreen.h"

#include <QApplication>
#include <QMargins>
#include <QScreen>
#include <QStyle>
#include <QWidget>
#include <algorithm>

namespace {

// The frame around the window: the window manager's, once it is known, else a usual one.
QMargins frameOf(const QWidget* window) {
    const QRect frame = window->frameGeometry();
    const QRect inner = window->geometry();
    if (frame != inner)
        return {inner.left() - frame.left(), inner.top() - frame.top(),
                frame.right() - inner.right(), frame.bottom() - inner.bottom()};
    if (window->windowFlags() & Qt::FramelessWindowHint) return {};
    const int border = 4;
    const int title = std::max(24, window->style()->pixelMetric(QStyle::PM_TitleBarHeight) +
                                       window->fontMetrics().height() / 2);
    return {border, title, border, border};
}

} // namespace

void keepOnScreen(QWidget* window, const QRect& available) {
    if (!window || available.isEmpty()) return;
    const QMargins frame = frameOf(window);
    const QSize room = available.size().shrunkBy(frame).expandedTo(QSize(1, 1));
    const QSize size = window->size();
    if (size.width() > room.width() || size.height() > room.height()) {
        // A layout may ask for more than the screen has; the window's parts then get less.
        window->setMinimumSize(window->minimumSize().boundedTo(room));
        if (window->maximumSize().width() < QWIDGETSIZE_MAX ||
            window->maximumSize().height() < QWIDGETSIZE_MAX)
            window->setMaximumSize(window->maximumSize().boundedTo(room));
        window->resize(size.boundedTo(room));
    }
    // QWidget::pos() of a window is its frame's top left corner.
    const QSize outer = window->size().grownBy(frame);
    const int x =
        std::max(available.left(), std::min(window->x(), available.right() + 1 - outer.width()));
    const int y =
        std::max(available.top(), std::min(window->y(), available.bottom() + 1 - outer.height()));
    if (QPoint(x, y) != window->pos()) window->move(x, y);
}

void keepOnScreen(QWidget* window) {
    if (!window) return;
    const QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (screen) keepOnScreen(window, screen->availableGeometry());
}
