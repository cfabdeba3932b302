// SPDX-License-Identifier: GPL-3.0-or-later
// GUI thread only. A click is a left-button release inside the control after
// a press on it; it is reported before OnMouseUp, so a click handler sees the
// state of the press, not of the release.
#include "platform/toolkit/TImage.h"

#include "platform/toolkit/Application.h"

#include <QMouseEvent>
#include <QPainter>

namespace platform {

TImage::TImage(QWidget* parent) : QWidget(parent)
{
}

void TImage::SetPicture(const TPicture& picture)
{
    m_picture = picture;
    update();
}

void TImage::paintEvent(QPaintEvent*)
{
    if (m_picture.isNull())
        return;
    QPainter painter(this);
    painter.drawPixmap(0, 0, m_picture.ForRatio(devicePixelRatioF()));
}

void TImage::mousePressEvent(QMouseEvent* event)
{
    m_clickPending = event->button() == Qt::LeftButton;
    ReportMouseDown(event);
}

void TImage::ReportMouseDown(QMouseEvent* event)
{
    const QPoint at = event->position().toPoint();
    if (OnMouseDown)
        Application::Instance().Dispatch(
            [&] { OnMouseDown(this, event->button(), event->modifiers(), at.x(), at.y()); });
}

void TImage::mouseReleaseEvent(QMouseEvent* event)
{
    const QPoint at = event->position().toPoint();
    const bool click = m_clickPending && event->button() == Qt::LeftButton && rect().contains(at);
    if (event->button() == Qt::LeftButton)
        m_clickPending = false;
    if (click && OnClick)
        Application::Instance().Dispatch([this] { OnClick(this); });
    if (OnMouseUp)
        Application::Instance().Dispatch(
            [&] { OnMouseUp(this, event->button(), event->modifiers(), at.x(), at.y()); });
}

void TImage::mouseDoubleClickEvent(QMouseEvent* event)
{
    // Qt has already delivered this second press as a press; it only
    // must not complete a click.
    m_clickPending = false;
    if (OnDblClick && event->button() == Qt::LeftButton)
        Application::Instance().Dispatch([this] { OnDblClick(this); });
}

} // namespace platform
