#include "ui/dialer/indicator_circle.h"

#include <QPainter>

IndicatorCircle::IndicatorCircle(QWidget *parent) : QWidget(parent)
{
    // Only the circle is drawn; the window shows through around it.
    setAttribute(Qt::WA_TranslucentBackground);
}

void IndicatorCircle::setFillColor(const QColor &color)
{
    if (color == m_fillColor)
        return;
    m_fillColor = color;
    update();
}

void IndicatorCircle::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(m_fillColor);
    // A circle centred in the widget, as large as its smaller side allows.
    const int side = qMin(width(), height()) - 1;
    const QRectF box((width() - side) / 2.0, (height() - side) / 2.0, side, side);
    painter.drawEllipse(box.adjusted(0.5, 0.5, -0.5, -0.5));
}
