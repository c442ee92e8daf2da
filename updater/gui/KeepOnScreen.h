#pragma once
// Keeps a window within the screen's available area, so that a large desktop font or a small
// screen cannot push its title bar or buttons out of reach.
#include <QRect>

class QWidget;

// Shrinks the window where it does not fit and moves it so that its frame, title bar
// included, lies inside available. Before the window manager has framed the window, a usual
// frame is assumed.
void keepOnScreen(QWidget* window, const QRect& available);
// The same within the available area of the window's own screen.
void keepOnScreen(QWidget* window);
