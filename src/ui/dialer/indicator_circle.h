#pragma once

#include <QColor>
#include <QWidget>

// One round indicator of the dialer window's row of circles: a filled ellipse
// with a thin black border, its fill colour settable while the dial animates.
class IndicatorCircle final : public QWidget
{
    Q_OBJECT

public:
    explicit IndicatorCircle(QWidget *parent = nullptr);

    QColor fillColor() const { return m_fillColor; }
    void setFillColor(const QColor &color);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor m_fillColor{255, 0, 0};
};
