// Threading: GUI thread only; the step timer ticks through the toolkit's
// dispatch, so a tick and a call from the main window never overlap.
#include "widgets/AnimLabel.h"

#include "platform/toolkit/TTimer.h"

#include <QEvent>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QRegion>

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
    if (OnScrollChange)
        OnScrollChange(this);
}

void TAnimLabel::ScrollStep()
{
    const QString caption = Caption();
    if (caption.isEmpty())
        return;
    const QString next = caption.mid(1) + caption.front();
    // Summed advances match the drawn text only in a fixed-pitch font.
    if (AutoSize() || !isVisible() || !FixedPitch()) {
        SetCaption(next);
        return;
    }
    // A step moves every character one place, but where the old and the new
    // text have the same character (the gap's spaces, mostly) nothing changes
    // on screen; only the rest is repainted, ten times a second.
    const QRegion changed = ChangedArea(caption, next);
    setAttribute(Qt::WA_UpdatesDisabled, true);
    SetCaption(next);
    setAttribute(Qt::WA_UpdatesDisabled, false);
    update(changed);
}

bool TAnimLabel::FixedPitch()
{
    if (!m_fixedPitch)
        m_fixedPitch = QFontInfo(font()).fixedPitch();
    return *m_fixedPitch;
}

void TAnimLabel::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::FontChange)
        m_fixedPitch.reset();
    TLabel::changeEvent(event);
}

QRegion TAnimLabel::ChangedArea(const QString& before, const QString& after) const
{
    const QRect box = contentsRect();
    const QFontMetricsF metrics(font());
    // Glyphs may reach past their advance (bold, italic): widen each span.
    const qreal reach = metrics.maxWidth();
    QRegion changed;
    bool inRun = false;
    qreal xBefore = box.left(), xAfter = box.left();
    qreal runBefore = 0, runAfter = 0;
    const qsizetype length = std::max(before.size(), after.size());
    for (qsizetype i = 0; i <= length; ++i) {
        const bool differs = i < length && (i >= before.size() || i >= after.size() || before[i] != after[i]);
        if (differs && !inRun) {
            inRun = true;
            runBefore = xBefore;
            runAfter = xAfter;
        }
        if (!differs && inRun) {
            const qreal left = std::min(runBefore, runAfter) - reach;
            const qreal right = std::max(xBefore, xAfter) + reach;
            changed += QRectF(left, box.top(), right - left, box.height()).toAlignedRect() & box;
            inRun = false;
        }
        if (i < before.size())
            xBefore += metrics.horizontalAdvance(before[i]);
        if (i < after.size())
            xAfter += metrics.horizontalAdvance(after[i]);
    }
    return changed;
}

void TAnimLabel::ScrollSteps(qint64 steps)
{
    const QString caption = Caption();
    if (caption.isEmpty() || steps <= 0)
        return;
    const qsizetype shift = qsizetype(steps % caption.size());
    SetCaption(caption.mid(shift) + caption.left(shift));
}

void TAnimLabel::StopScroll()
{
    if (m_stepTimer)
        m_stepTimer->SetEnabled(false);
    SetCaption(QString());
    if (OnScrollChange)
        OnScrollChange(this);
}
