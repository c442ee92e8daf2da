#pragma once
// Keeps a window, title bar and frame included, inside the available area of its screen (the
// screen less the task bar and panels): at every show it is placed as asked, shrunk where it
// is larger than the area and moved inside it. A window shown for the first time has no frame
// yet on most desktops; it is placed with the frame it is expected to get and placed again
// once the window manager has put the real one around it.
//
// One mechanism for the windows of both programs: a window asks once, after it is built, with
// WindowFit::Keep(window, placement).
#include <QMargins>
#include <QRect>
#include <QSize>

class QWidget;

namespace WindowFit {

enum class Placement {
    Keep,           // where it is (a main window at its stored position), only kept inside
    CentreOnParent, // centred on the window it belongs to (its parent's window), at every show
    CentreOnScreen, // centred on the available area of the screen, at every show
};

// From now on the window is placed and fitted at every show. Calling it again changes the
// placement.
void Keep(QWidget* window, Placement placement = Placement::Keep);
// Places and fits the window now (a hidden one as it will be shown).
void Fit(QWidget* window, Placement placement = Placement::Keep);

// ---- the geometry, without windows ----
// The frame rectangle of at most the area's size, moved into the area by as little as it
// takes (a frame larger than the area is put at its top left corner).
QRect FittedFrame(const QRect& frame, const QRect& area);
// A frame of the given size centred on a point.
QRect CentredFrame(const QSize& frameSize, const QPoint& centre);
// The frame a window has, or, before it was ever framed, the frame it is expected to get: that
// of another framed window of the program, else a title bar and border of the usual size for
// the application's font.
QMargins FrameMargins(const QWidget* window);

} // namespace WindowFit
