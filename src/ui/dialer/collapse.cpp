#include "ui/dialer/collapse.h"

#include "platform/events.h"
#include "platform/window_handles.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace {

using platform::TwipsPerPixelX;
using platform::TwipsPerPixelY;

// The window's outer size in twips, border and title bar included.
int outerHeightTwips(const QWidget &w)
{
    return w.frameGeometry().height() * TwipsPerPixelY;
}

int outerWidthTwips(const QWidget &w)
{
    return w.frameGeometry().width() * TwipsPerPixelX;
}

void setOuterHeightTwips(QWidget &w, int twips)
{
    const int frame = w.frameGeometry().height() - w.height();
    w.resize(w.width(), qMax(0, qRound(static_cast<double>(twips) / TwipsPerPixelY) - frame));
}

void setOuterWidthTwips(QWidget &w, int twips)
{
    const int frame = w.frameGeometry().width() - w.width();
    w.resize(qMax(0, qRound(static_cast<double>(twips) / TwipsPerPixelX) - frame), w.height());
}

QRect screenGeometry(const QWidget &w)
{
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        return screen->geometry();
    if (const QScreen *screen = w.screen())
        return screen->geometry();
    return {};
}

} // namespace

void CollapseForm(QWidget &w)
{
    // The window may have a fixed size; the animation shrinks it all the same.
    w.setMinimumSize(0, 0);
    w.setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);

    const int screenHeight = screenGeometry(w).height() * TwipsPerPixelY;
    const int heightSteps = outerHeightTwips(w) / 2;
    for (int i = 1; i <= heightSteps; ++i) {
        platform::DoEventsFor(CollapseStepMs);
        setOuterHeightTwips(w, outerHeightTwips(w) - 100);
        const int top = (screenHeight - outerHeightTwips(w)) / 2;
        w.move(w.frameGeometry().x(), top / TwipsPerPixelY);
        if (outerHeightTwips(w) <= 500)
            break;
    }
    setOuterHeightTwips(w, 30);

    const int screenWidth = screenGeometry(w).width() * TwipsPerPixelX;
    const int widthSteps = outerWidthTwips(w) / 2;
    for (int i = 1; i <= widthSteps; ++i) {
        platform::DoEventsFor(CollapseStepMs);
        setOuterWidthTwips(w, outerWidthTwips(w) - 100);
        const int left = (screenWidth - outerWidthTwips(w)) / 2;
        w.move(left / TwipsPerPixelX, w.frameGeometry().y());
        if (outerWidthTwips(w) <= 2000)
            break;
    }
}
