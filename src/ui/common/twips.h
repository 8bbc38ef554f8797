#pragma once

#include "platform/window_handles.h"

#include <QRect>
#include <QWidget>

// Places a control at a place given in twips (left, top, width, height),
// relative to its container.
inline void placeTwips(QWidget *w, int left, int top, int width, int height)
{
    w->setGeometry(platform::twipsToPixels(left), platform::twipsToPixels(top),
                   platform::twipsToPixels(width), platform::twipsToPixels(height));
}

// The colours the windows use.
inline constexpr QRgb FormGrey = qRgb(192, 192, 192);
