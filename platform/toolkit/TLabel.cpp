// SPDX-License-Identifier: GPL-3.0-or-later
// GUI thread only. Handlers run through Application::Dispatch.
#include "platform/toolkit/TLabel.h"

#include "platform/toolkit/Application.h"

#include <QEvent>
#include <QMouseEvent>

namespace platform {

TLabel::TLabel(QWidget* parent) : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setAutoFillBackground(false);
}

void TLabel::SetCaption(const QString& caption)
{
    m_caption = caption;
    ShowText(caption);
}

void TLabel::ShowText(const QString& shown)
{
    setText(shown);
    FitText();
}

void TLabel::SetAutoSize(bool autoSize)
{
    m_autoSize = autoSize;
    FitText();
}

void TLabel::FitText()
{
    if (!m_autoSize)
        return;
    // A label never shown yet (a form being built) sizes at once: its
    // layout is read before it appears.
    if (m_shownBefore && !isVisible()) {
        m_fitPending = true;
        return;
    }
    m_fitPending = false;
    adjustSize();
}

void TLabel::changeEvent(QEvent* event)
{
    QLabel::changeEvent(event);
    // A font set after the caption changes the size the text needs.
    if (event->type() == QEvent::FontChange)
        FitText();
}

void TLabel::showEvent(QShowEvent* event)
{
    m_shownBefore = true;
    if (m_fitPending)
        FitText();
    QLabel::showEvent(event);
}

void TLabel::mousePressEvent(QMouseEvent* event)
{
    event->accept();
}

void TLabel::mouseReleaseEvent(QMouseEvent* event)
{
    if (OnClick && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        Application::Instance().Dispatch([this] { OnClick(this); });
}

void TLabel::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (OnDblClick && event->button() == Qt::LeftButton)
        Application::Instance().Dispatch([this] { OnDblClick(this); });
}

} // namespace platform
