#include "WindowFit.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <algorithm>

namespace WindowFit {
namespace {

// How long after a show the window manager's first moves (framing the window, placing it)
// are still answered with a fit; later moves are the user's, who may put a window where he
// likes.
constexpr int SettleMs = 2000;

bool framed(const QWidget* w) {
    return w->frameGeometry() != w->geometry();
}

QMargins marginsOf(const QWidget* w) {
    const QRect f = w->frameGeometry();
    const QRect g = w->geometry();
    return {g.left() - f.left(), g.top() - f.top(), f.right() - g.right(), f.bottom() - g.bottom()};
}

bool fitsState(const QWidget* w) {
    return !(w->windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen | Qt::WindowMinimized));
}

QScreen* screenFor(const QWidget* w, Placement placement) {
    QScreen* s = nullptr;
    if (placement == Placement::CentreOnParent && w->parentWidget())
        s = w->parentWidget()->window()->screen();
    if (!s) s = w->screen();
    return s ? s : QGuiApplication::primaryScreen();
}

class Keeper : public QObject {
public:
    Keeper(QWidget* window, Placement placement)
        : QObject(window), window_(window), placement_(placement) {
        setObjectName(QStringLiteral("WindowFitKeeper"));
        window->installEventFilter(this);
    }
    void SetPlacement(Placement p) { placement_ = p; }

protected:
    bool eventFilter(QObject* watched, QEvent* e) override {
        if (watched != window_) return false;
        switch (e->type()) {
        case QEvent::Show:
            if (e->spontaneous()) break;
            // Before the dialog's own placement, which then leaves the window where it is.
            Fit(window_, placement_);
            shown_.start();
            // Contents that settle in the show's own handlers (a message box sizes itself
            // there).
            QTimer::singleShot(0, this, [this] { settle(); });
            break;
        case QEvent::Move:
        case QEvent::Resize:
            // The window manager frames and places a new window after it is shown.
            if (e->spontaneous() && shown_.isValid() && shown_.elapsed() < SettleMs) settle();
            break;
        default:
            break;
        }
        return false;
    }

private:
    void settle() {
        // Until the window manager has framed it, the window stands where the show put it
        // with the frame it was expected to get.
        if (!window_ || !window_->isVisible() || !framed(window_) || busy_) return;
        busy_ = true;
        Fit(window_, Placement::Keep);
        busy_ = false;
    }

    QPointer<QWidget> window_;
    Placement placement_;
    QElapsedTimer shown_;
    bool busy_ = false;
};

} // namespace

QRect FittedFrame(const QRect& frame, const QRect& area) {
    QRect r(frame.topLeft(), frame.size().boundedTo(area.size()));
    if (r.right() > area.right()) r.moveRight(area.right());
    if (r.bottom() > area.bottom()) r.moveBottom(area.bottom());
    if (r.left() < area.left()) r.moveLeft(area.left());
    if (r.top() < area.top()) r.moveTop(area.top());
    return r;
}

QRect CentredFrame(const QSize& frameSize, const QPoint& centre) {
    return {QPoint(centre.x() - frameSize.width() / 2, centre.y() - frameSize.height() / 2),
            frameSize};
}

QMargins FrameMargins(const QWidget* window) {
    if (framed(window)) return marginsOf(window);
    // Before its first show a window has no frame yet; the program's other windows have the
    // one the window manager gives.
    const auto windows = QApplication::topLevelWidgets();
    for (const QWidget* other : windows) {
        if (other != window && other->isVisible() && framed(other)) return marginsOf(other);
    }
    const int title = QFontMetrics(QApplication::font()).height() + 12;
    return {4, std::max(24, title), 4, 4};
}

void Fit(QWidget* window, Placement placement) {
    if (!window || !window->isWindow() || !fitsState(window)) return;
    const QScreen* screen = screenFor(window, placement);
    if (!screen) return;
    const QRect area = screen->availableGeometry();
    const QMargins m = FrameMargins(window);

    // The client may take the area less the frame; a minimum larger than that gives way, or
    // a part of the window would stay out of reach.
    const QSize room = area.size().shrunkBy(m).expandedTo(QSize(1, 1));
    const QSize minimum = window->minimumSize();
    if (minimum.width() > room.width() || minimum.height() > room.height())
        window->setMinimumSize(minimum.boundedTo(room));
    const QSize client = window->size().boundedTo(room);
    const QSize frameSize = client.grownBy(m);

    QRect frame;
    switch (placement) {
    case Placement::Keep:
        // A window's position is that of its frame.
        frame = QRect(window->pos(), frameSize);
        break;
    case Placement::CentreOnParent: {
        const QWidget* parent = window->parentWidget() ? window->parentWidget()->window() : nullptr;
        // A parent hidden in the tray has no place to centre on.
        const QPoint centre = parent && parent->isVisible() && !parent->isMinimized()
                                  ? parent->frameGeometry().center()
                                  : area.center();
        frame = CentredFrame(frameSize, centre);
        break;
    }
    case Placement::CentreOnScreen:
        frame = CentredFrame(frameSize, area.center());
        break;
    }
    frame = FittedFrame(frame, area);
    const QRect target(frame.topLeft() + QPoint(m.left(), m.top()), client);
    // A window kept where it is and already inside is left alone: its own placement (the frame
    // where it was stored) stays exact.
    if (placement == Placement::Keep && frame.topLeft() == window->pos() &&
        client == window->size())
        return;
    if (target != window->geometry()) window->setGeometry(target);
}

void Keep(QWidget* window, Placement placement) {
    if (!window) return;
    // Keeper has no meta object of its own; its name finds it.
    if (QObject* k = window->findChild<QObject*>(QStringLiteral("WindowFitKeeper"),
                                                 Qt::FindDirectChildrenOnly)) {
        static_cast<Keeper*>(k)->SetPlacement(placement);
        return;
    }
    new Keeper(window, placement);
}

} // namespace WindowFit
