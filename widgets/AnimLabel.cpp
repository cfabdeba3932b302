// Threading: GUI thread only; the step timer ticks through the toolkit's
// dispatch, so a tick and a call from the main window never overlap.
#include "widgets/AnimLabel.h"

#include "platform/toolkit/TTimer.h"

#include <QEvent>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QGlyphRun>
#include <QPainter>
#include <QRegion>
#include <QStyle>
#include <QTextLayout>

#include <algorithm>
#include <cmath>

namespace {
// The gap between the end of the text and its next start.
const QString ScrollGap(10, QLatin1Char(' '));

// Characters whose look does not depend on their neighbours or on the
// direction of the text around them: with these, a turned caption is the
// same glyphs at the same advances as the caption cut in two.
bool StandsAlone(QChar ch)
{
    if (ch.isSurrogate() || ch.isMark() || ch.category() == QChar::Other_Control
        || ch.category() == QChar::Other_Format)
        return false;
    switch (ch.direction()) {
    case QChar::DirL:
    case QChar::DirEN:
    case QChar::DirES:
    case QChar::DirET:
    case QChar::DirCS:
    case QChar::DirWS:
    case QChar::DirON: return true;
    default: return false;
    }
}

// Where a line of that height starts in a box of that height, as
// QPainter::drawText places it.
qreal LineTop(Qt::Alignment alignment, int boxHeight, qreal lineHeight)
{
    if (alignment & Qt::AlignBottom)
        return boxHeight - lineHeight;
    if (alignment & Qt::AlignVCenter)
        return (boxHeight - lineHeight) / 2;
    return 0;
}
} // namespace

TAnimLabel::TAnimLabel(QWidget* parent) : TLabel(parent) {}

void TAnimLabel::StartScroll()
{
    SetCaption(m_originalCaption + ScrollGap);
    m_ring = MakeRing(Caption());
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
    const bool measured = !AutoSize() && isVisible() && FixedPitch();
    std::optional<qsizetype> turn;
    if (measured && m_ring && ShowsRing(caption))
        turn = m_ring->turn;
    Turn(1);
    if (!measured) {
        SetCaption(next);
        return;
    }
    // A step moves every character one place, but where the old and the new
    // text have the same character (the gap's spaces, mostly) nothing changes
    // on screen; only the rest is repainted, ten times a second.
    const QRegion changed = ChangedArea(caption, next, turn);
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
    if (event->type() == QEvent::FontChange) {
        m_fixedPitch.reset();
        if (m_ring) {
            const qsizetype turn = m_ring->turn;
            m_ring = MakeRing(m_ring->text);
            Turn(turn);
        }
    }
    TLabel::changeEvent(event);
}

QRegion TAnimLabel::ChangedArea(const QString& before, const QString& after, std::optional<qsizetype> turn) const
{
    const QRect box = contentsRect();
    // A ring knows every advance; without one each character is measured.
    std::optional<QFontMetricsF> metrics;
    if (!turn)
        metrics.emplace(font());
    const auto advance = [&](const QString& text, qsizetype i, qsizetype shift) {
        if (!turn)
            return metrics->horizontalAdvance(text[i]);
        const std::vector<qreal>& starts = m_ring->starts;
        const std::size_t at = std::size_t((*turn + shift + i) % m_ring->text.size());
        return starts[at + 1] - starts[at];
    };
    // Glyphs may reach past their advance (bold, italic): widen each span.
    const qreal reach = turn ? m_ring->reach : metrics->maxWidth();
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
            xBefore += advance(before, i, 0);
        if (i < after.size())
            xAfter += advance(after, i, 1);
    }
    return changed;
}

void TAnimLabel::ScrollSteps(qint64 steps)
{
    const QString caption = Caption();
    if (caption.isEmpty() || steps <= 0)
        return;
    const qsizetype shift = qsizetype(steps % caption.size());
    Turn(shift);
    SetCaption(caption.mid(shift) + caption.left(shift));
}

void TAnimLabel::StopScroll()
{
    if (m_stepTimer)
        m_stepTimer->SetEnabled(false);
    m_ring.reset();
    SetCaption(QString());
    if (OnScrollChange)
        OnScrollChange(this);
}

void TAnimLabel::Turn(qsizetype characters)
{
    if (m_ring)
        m_ring->turn = (m_ring->turn + characters) % m_ring->text.size();
}

std::optional<TAnimLabel::Ring> TAnimLabel::MakeRing(const QString& caption) const
{
    if (caption.isEmpty() || !std::all_of(caption.begin(), caption.end(), StandsAlone))
        return std::nullopt;
    // The options QPainter::drawText lays out a single unwrapped line with.
    QTextOption option;
    option.setWrapMode(QTextOption::NoWrap);
    option.setFlags(QTextOption::IncludeTrailingSpaces);
    option.setTextDirection(Qt::LeftToRight);
    Ring ring;
    ring.text = caption;
    ring.layout = std::make_unique<QTextLayout>(caption, font(), this); // at the label's resolution
    QTextLayout& layout = *ring.layout;
    layout.setTextOption(option);
    layout.setCacheEnabled(true); // keeps the shaped glyphs for every paint
    layout.beginLayout();
    QTextLine line = layout.createLine();
    line.setLineWidth(0x01000000);
    layout.endLayout();
    ring.height = line.ascent() + line.descent();
    ring.reach = QFontMetricsF(font(), this).maxWidth();
    ring.starts.reserve(std::size_t(caption.size()) + 1);
    for (qsizetype i = 0; i <= caption.size(); ++i)
        ring.starts.push_back(line.cursorToX(int(i)));
    KeepGlyphs(ring, line);
    return ring;
}

void TAnimLabel::KeepGlyphs(Ring& ring, const QTextLine& line)
{
    const QList<QGlyphRun> runs = line.glyphRuns();
    if (runs.size() != 1 || runs.front().flags() != QGlyphRun::GlyphRunFlags())
        return;
    const QGlyphRun& run = runs.front();
    const QList<quint32> glyphs = run.glyphIndexes();
    const QList<QPointF> positions = run.positions();
    if (glyphs.size() != ring.text.size() || positions.size() != glyphs.size())
        return;
    // A glyph shaped away from its character's place (a mark, a kern)
    // belongs to more than that character: keep nothing then.
    for (qsizetype i = 0; i < positions.size(); ++i)
        if (std::abs(positions[i].x() - ring.starts[std::size_t(i)]) > 1e-3)
            return;
    ring.font = run.rawFont();
    ring.glyphs.assign(glyphs.begin(), glyphs.end());
    ring.positions.assign(positions.begin(), positions.end());
}

bool TAnimLabel::PaintsFromRing()
{
    if (!m_ring || !isEnabled() || !FixedPitch())
        return false;
    // Kerning would move a character by its neighbour, and the cut gives
    // the first and last characters other neighbours: fixed pitch only.
    // The pen is the one Fusion draws label text with.
    const QFont& f = font();
    if (f.underline() || f.strikeOut() || f.overline()
        || style()->name().compare(QLatin1String("fusion"), Qt::CaseInsensitive) != 0)
        return false;
    const Qt::Alignment horizontal =
        QStyle::visualAlignment(Qt::LeftToRight, alignment()) & Qt::AlignHorizontal_Mask & ~Qt::AlignAbsolute;
    if (textFormat() != Qt::PlainText || wordWrap() || horizontal != Qt::AlignLeft || buddy()
        || (textInteractionFlags() & ~Qt::LinksAccessibleByMouse) || indent() > 0 || (indent() < 0 && frameWidth() > 0))
        return false;
    return ShowsRing(text());
}

bool TAnimLabel::ShowsRing(QStringView shown) const
{
    const QStringView ring(m_ring->text);
    const qsizetype turn = m_ring->turn;
    return shown.size() == ring.size() && shown.first(ring.size() - turn) == ring.sliced(turn)
           && shown.sliced(ring.size() - turn) == ring.first(turn);
}

void TAnimLabel::paintEvent(QPaintEvent* event)
{
    if (!PaintsFromRing()) {
        TLabel::paintEvent(event);
        return;
    }
    const Ring& ring = *m_ring;
    QPainter painter(this);
    drawFrame(&painter);
    const QRect box = contentsRect().adjusted(margin(), margin(), -margin(), -margin());
    const qreal top = box.y() + LineTop(alignment(), box.height(), ring.height);
    const qreal width = ring.starts.back();
    // Text that does not fit is clipped to the box, as QPainter::drawText does.
    if (!QRectF(box).contains(QRectF(box.x(), top, width, ring.height)))
        painter.setClipRect(box, Qt::IntersectClip);
    painter.setPen(QPen(palette().brush(foregroundRole()), painter.pen().widthF()));
    // The caption from the turn on, then its beginning after it; of a long
    // caption only the characters that reach into the box.
    const qsizetype turn = ring.turn;
    const qreal left = box.x() - ring.starts[std::size_t(turn)];
    const qreal right = box.right() + 1 + ring.reach;
    DrawCharacters(painter, QPointF(left, top), turn, ring.text.size(), right);
    if (turn > 0)
        DrawCharacters(painter, QPointF(left + width, top), 0, turn, right);
}

void TAnimLabel::DrawCharacters(QPainter& painter, QPointF origin, qsizetype from, qsizetype to, qreal right) const
{
    const Ring& ring = *m_ring;
    // The first character that begins past the right edge, and those after
    // it, cannot show.
    const auto begin = ring.starts.begin();
    const auto beyond = std::upper_bound(begin + from, begin + to, right - origin.x());
    const qsizetype end = std::max(from, qsizetype(beyond - begin));
    if (end <= from)
        return;
    if (ring.glyphs.empty()) {
        for (const QGlyphRun& run : ring.layout->glyphRuns(int(from), int(end - from)))
            painter.drawGlyphRun(origin, run);
        return;
    }
    QGlyphRun run;
    run.setRawFont(ring.font);
    run.setRawData(ring.glyphs.data() + from, ring.positions.data() + from, int(end - from));
    painter.drawGlyphRun(origin, run);
}
