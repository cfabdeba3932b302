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
    setText(caption);
    if (m_autoSize)
        adjustSize();
}

void TLabel::SetAutoSize(bool autoSize)
{
    m_autoSize = autoSize;
    if (m_autoSize)
        adjustSize();
}

void TLabel::changeEvent(QEvent* event)
{
    QLabel::changeEvent(event);
    // A font set after the caption changes the size the text needs.
    if (event->type() == QEvent::FontChange && m_autoSize)
        adjustSize();
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
