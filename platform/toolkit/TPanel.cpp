// SPDX-License-Identifier: GPL-3.0-or-later
// GUI thread only.
#include "platform/toolkit/TPanel.h"

#include <QMouseEvent>

namespace platform {

TPanel::TPanel(QWidget* parent) : QFrame(parent)
{
    setFrameShape(QFrame::NoFrame);
    setAutoFillBackground(true);
}

void TPanel::mousePressEvent(QMouseEvent* event)
{
    event->accept();
}

void TPanel::mouseReleaseEvent(QMouseEvent* event)
{
    event->accept();
}

} // namespace platform
