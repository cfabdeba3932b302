// Threading: GUI thread only; the step timer ticks through the toolkit's
// dispatch, so a tick and a call from the main window never overlap.
#include "widgets/AnimLabel.h"

#include "platform/toolkit/TTimer.h"
#include <QFont>

namespace {
// The gap between the end of the text and its next start.
const QString ScrollGap(10, QLatin1Char(' '));

// The window's tickers ask for "Courier New"; where it is not installed the
// metric-compatible Liberation Mono keeps the same character widths, which
// decide how much of the text fits into the 265-pixel box.
void InstallFontSubstitute()
{
    static const bool installed = [] {
        QFont::insertSubstitution(QStringLiteral("Courier New"), QStringLiteral("Liberation Mono"));
        return true;
    }();
    (void)installed;
}
}

TAnimLabel::TAnimLabel(QWidget* parent) : QLabel(parent)
{
    // The label never sizes itself: it draws from the left edge of its box and
    // clips at the right one. "&" is an ordinary character, never a mnemonic.
    setTextFormat(Qt::PlainText);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setWordWrap(false);
    InstallFontSubstitute();
}

void TAnimLabel::StartScroll()
{
    setText(m_originalCaption + ScrollGap);
    if (!m_stepTimer) {
        m_stepTimer = new platform::TTimer(this);
        m_stepTimer->OnTimer = [this](QObject*) { ScrollStep(); };
    }
    m_stepTimer->SetInterval(m_intervall);
    m_stepTimer->SetEnabled(m_builtinTimer);
}

void TAnimLabel::ScrollStep()
{
    const QString caption = text();
    if (caption.isEmpty())
        return;
    setText(caption.mid(1) + caption.front());
}

void TAnimLabel::StopScroll()
{
    if (m_stepTimer)
        m_stepTimer->SetEnabled(false);
    setText(QString());
}
