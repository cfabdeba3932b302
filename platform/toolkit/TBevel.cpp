// SPDX-License-Identifier: GPL-3.0-or-later
// GUI thread only. A lowered edge is a shadow line with a highlight line just
// below or right of it; a raised one swaps the two.
#include "platform/toolkit/TBevel.h"

#include <QMouseEvent>
#include <QPainter>

namespace platform {

TBevel::TBevel(QWidget* parent) : QWidget(parent)
{
}

void TBevel::mousePressEvent(QMouseEvent* event)
{
    event->accept(); // an enabled control keeps its clicks
}

void TBevel::SetShape(TBevelShape shape)
{
    m_shape = shape;
    update();
}

void TBevel::SetStyle(TBevelStyle style)
{
    m_style = style;
    update();
}

void TBevel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QColor shadow = palette().color(QPalette::Dark);
    const QColor light = palette().color(QPalette::Light);
    const QColor first = m_style == bsLowered ? shadow : light;
    const QColor second = m_style == bsLowered ? light : shadow;
    const int w = width(), h = height();
    auto line = [&](int x1, int y1, int x2, int y2, const QColor& c) {
        painter.setPen(c);
        painter.drawLine(x1, y1, x2, y2);
    };
    switch (m_shape) {
    case bsTopLine: line(0, 0, w - 1, 0, first); line(0, 1, w - 1, 1, second); break;
    case bsBottomLine: line(0, h - 2, w - 1, h - 2, first); line(0, h - 1, w - 1, h - 1, second); break;
    case bsLeftLine: line(0, 0, 0, h - 1, first); line(1, 0, 1, h - 1, second); break;
    case bsRightLine: line(w - 2, 0, w - 2, h - 1, first); line(w - 1, 0, w - 1, h - 1, second); break;
    case bsBox:
    case bsFrame:
        painter.setPen(first);
        painter.drawRect(0, 0, w - 2, h - 2);
        painter.setPen(second);
        painter.drawRect(1, 1, w - 2, h - 2);
        break;
    }
}

} // namespace platform
