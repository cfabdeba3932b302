// Threading: GUI thread only; the step timer ticks through the toolkit's
// dispatch, so a tick and a call from the main window never overlap.
#include "widgets/AnimLabel.h"

#include "platform/toolkit/TTimer.h"

namespace {
// The gap between the end of the text and its next start.
const QString ScrollGap(10, QLatin1Char(' '));
}

TAnimLabel::TAnimLabel(QWidget* parent) : TLabel(parent) {}

void TAnimLabel::StartScroll()
{
    SetCaption(m_originalCaption + ScrollGap);
    if (!m_stepTimer) {
        m_stepTimer = new platform::TTimer(this);
        m_stepTimer->OnTimer = [this](QObject*) { ScrollStep(); };
    }
    m_stepTimer->SetInterval(m_intervall);
    m_stepTimer->SetEnabled(m_builtinTimer);
}

void TAnimLabel::ScrollStep()
{
    const QString caption = Caption();
    if (caption.isEmpty())
        return;
    SetCaption(caption.mid(1) + caption.front());
}

void TAnimLabel::StopScroll()
{
    if (m_stepTimer)
        m_stepTimer->SetEnabled(false);
    SetCaption(QString());
}
