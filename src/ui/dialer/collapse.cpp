#include "ui/dialer/collapse.h"

#include "platform/events.h"
#include "platform/window_handles.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace {

using platform::TwipsPerPixelX;
using platform::TwipsPerPixelY;

int twipsPerPixel(Qt::Orientation axis)
{
    return axis == Qt::Vertical ? TwipsPerPixelY : TwipsPerPixelX;
}

int lengthOf(const QRect &r, Qt::Orientation axis)
{
    return axis == Qt::Vertical ? r.height() : r.width();
}

// The window's outer height or width in twips, border and title bar included.
int outerTwips(const QWidget &w, Qt::Orientation axis)
{
    return lengthOf(w.frameGeometry(), axis) * twipsPerPixel(axis);
}

void setOuterTwips(QWidget &w, Qt::Orientation axis, int twips)
{
    const int frame = lengthOf(w.frameGeometry(), axis) - lengthOf(w.rect(), axis);
    const int inner = qMax(0, qRound(static_cast<double>(twips) / twipsPerPixel(axis)) - frame);
    if (axis == Qt::Vertical)
        w.resize(w.width(), inner);
    else
        w.resize(inner, w.height());
}

QRect screenGeometry(const QWidget &w)
{
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        return screen->geometry();
    if (const QScreen *screen = w.screen())
        return screen->geometry();
    return {};
}

// Shrinks the window along `axis` in 100-twip steps, centred on the screen
// along it, down to `floor` twips or less, or until the steps run out.
void shrink(QWidget &w, Qt::Orientation axis, int floor)
{
    const int perPixel = twipsPerPixel(axis);
    const int screenTwips = lengthOf(screenGeometry(w), axis) * perPixel;
    const int steps = outerTwips(w, axis) / 2;
    for (int i = 1; i <= steps; ++i) {
        platform::DoEventsFor(CollapseStepMs);
        setOuterTwips(w, axis, outerTwips(w, axis) - 100);
        const int start = (screenTwips - outerTwips(w, axis)) / 2 / perPixel;
        const QPoint at = w.frameGeometry().topLeft();
        w.move(axis == Qt::Vertical ? QPoint(at.x(), start) : QPoint(start, at.y()));
        if (outerTwips(w, axis) <= floor)
            break;
    }
}

} // namespace

void CollapseForm(QWidget &w)
{
    // The window may have a fixed size; the animation shrinks it all the same.
    w.setMinimumSize(0, 0);
    w.setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);

    shrink(w, Qt::Vertical, 500);
    setOuterTwips(w, Qt::Vertical, 30);
    shrink(w, Qt::Horizontal, 2000);
}
