// SPDX-License-Identifier: GPL-3.0-or-later
// Threading: GUI thread only; the step timer ticks through the toolkit's
// dispatch, so a tick and a call from the main window never overlap.
#include "widgets/AnimLabel.h"

#include "platform/toolkit/TTimer.h"

#include <QEvent>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QGlyphRun>
#include <QPainter>
#include <QResizeEvent>
#include <QRegion>
#include <QStyle>
#include <QTextLayout>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {
// The gap between the end of the text and its next start.
const QString ScrollGap(10, QLatin1Char(' '));

// Characters laid out together: a slice costs about as much as a short
// caption, and a window of the label's width spans one or two of them.
constexpr qsizetype kSliceLength = 256;
// Slices kept at once; a paint or a step's repaint area asks for fewer.
constexpr std::size_t kKeptSlices = 8;
// Characters handed to QLabel past those that reach the right edge, so the
// last visible ones are shaped with their neighbours, and the most in all.
constexpr qsizetype kWindowContext = 16;
constexpr qsizetype kMaxWindow = 1024;

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
    m_ring.emplace();
    m_ring->text = m_originalCaption + ScrollGap;
    m_ring->slices.reserve(kKeptSlices);
    MeasureRing();
    m_caption.clear();
    ShowText(CurrentWindow());
    if (!m_stepTimer) {
        m_stepTimer = new platform::TTimer(this);
        m_stepTimer->OnTimer = [this](QObject*) { ScrollStep(); };
    }
    m_stepTimer->SetInterval(m_intervall);
    m_stepTimer->SetEnabled(m_builtinTimer);
    if (OnScrollChange)
        OnScrollChange(this);
}

QString TAnimLabel::Caption() const
{
    if (!m_ring)
        return m_caption;
    const Ring& ring = *m_ring;
    return ring.turn == 0 ? ring.text : ring.text.sliced(ring.turn) + ring.text.first(ring.turn);
}

void TAnimLabel::SetCaption(const QString& caption)
{
    m_ring.reset();
    m_caption = caption;
    ShowText(CurrentWindow());
}

void TAnimLabel::ScrollStep()
{
    if (!m_ring && m_caption.isEmpty())
        return;
    // Summed advances match the drawn text only in a fixed-pitch font.
    const bool measured = !AutoSize() && isVisible() && FixedPitch();
    const std::optional<qsizetype> turn = m_ring ? std::optional<qsizetype>(m_ring->turn) : std::nullopt;
    const QString before = text();
    if (m_ring)
        Turn(1);
    else
        m_caption = m_caption.mid(1) + m_caption.front();
    const QString after = CurrentWindow();
    if (!measured) {
        ShowText(after);
        return;
    }
    // A step moves every character one place, but where the old and the new
    // text have the same character (the gap's spaces, mostly) nothing changes
    // on screen; only the rest is repainted, ten times a second.
    const QRegion changed = ChangedArea(before, after, turn);
    setAttribute(Qt::WA_UpdatesDisabled, true);
    ShowText(after);
    setAttribute(Qt::WA_UpdatesDisabled, false);
    update(changed);
}

bool TAnimLabel::FixedPitch()
{
    if (!m_fixedPitch)
        m_fixedPitch = QFontInfo(font()).fixedPitch();
    return *m_fixedPitch;
}

const QFontMetricsF& TAnimLabel::Metrics()
{
    if (!m_metrics)
        m_metrics.emplace(font(), this); // at the label's resolution
    return *m_metrics;
}

void TAnimLabel::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::FontChange) {
        m_fixedPitch.reset();
        m_metrics.reset();
        if (m_ring) {
            m_ring->slices.clear();
            MeasureRing();
        }
        ShowText(CurrentWindow()); // the new advances change how much of it reaches across
    }
    TLabel::changeEvent(event);
}

void TAnimLabel::resizeEvent(QResizeEvent* event)
{
    TLabel::resizeEvent(event);
    const QString shown = CurrentWindow();
    if (shown != text())
        ShowText(shown);
}

QString TAnimLabel::CurrentWindow()
{
    if (!m_ring)
        return Window(m_caption, {});
    const Ring& ring = *m_ring;
    return Window(QStringView(ring.text).sliced(ring.turn), QStringView(ring.text).first(ring.turn));
}

QString TAnimLabel::Window(QStringView head, QStringView tail)
{
    const qsizetype size = head.size() + tail.size();
    qsizetype length = size;
    // A label that sizes itself to its text shows all of it.
    if (!AutoSize() && size > kWindowContext) {
        const QFontMetricsF& metrics = Metrics();
        // Past the right edge by the reach of the widest glyph on either side.
        const qreal limit = width() + 2 * metrics.maxWidth();
        const qsizetype most = std::min(size, kMaxWindow);
        qreal x = 0;
        length = 0;
        while (length < most && x <= limit) {
            x += metrics.horizontalAdvance(length < head.size() ? head[length] : tail[length - head.size()]);
            ++length;
        }
        length = std::min(most, length + kWindowContext);
    }
    const qsizetype fromHead = std::min(length, head.size());
    QString window;
    window.reserve(length);
    window.append(head.first(fromHead)).append(tail.first(length - fromHead));
    return window;
}

QRegion TAnimLabel::ChangedArea(const QString& before, const QString& after, std::optional<qsizetype> turn)
{
    const QRect box = contentsRect();
    // Simple slices know every advance; otherwise each character is measured.
    const qsizetype from = turn.value_or(0);
    const bool ring = turn && SimpleSpan(from, std::max(before.size(), after.size() + 1));
    const QFontMetricsF& metrics = Metrics();
    const auto advance = [&](const QString& text, qsizetype i, qsizetype shift) {
        if (!ring)
            return metrics.horizontalAdvance(text[i]);
        return RingAdvance((from + shift + i) % m_ring->text.size());
    };
    // Glyphs may reach past their advance (bold, italic): widen each span.
    const qreal reach = ring ? m_ring->reach : metrics.maxWidth();
    const qreal end = box.right() + 1 + reach;
    QRegion changed;
    bool inRun = false;
    qreal xBefore = box.left(), xAfter = box.left();
    qreal runBefore = 0, runAfter = 0;
    const qsizetype length = std::max(before.size(), after.size());
    for (qsizetype i = 0; i <= length; ++i) {
        // Nothing from here on reaches into the box.
        const bool past = xBefore > end && xAfter > end;
        const bool differs =
            !past && i < length && (i >= before.size() || i >= after.size() || before[i] != after[i]);
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
        if (past)
            break;
        if (i < before.size())
            xBefore += advance(before, i, 0);
        if (i < after.size())
            xAfter += advance(after, i, 1);
    }
    return changed;
}

void TAnimLabel::ScrollSteps(qint64 steps)
{
    if ((!m_ring && m_caption.isEmpty()) || steps <= 0)
        return;
    if (m_ring)
        Turn(qsizetype(steps % m_ring->text.size()));
    else {
        const qsizetype shift = qsizetype(steps % m_caption.size());
        m_caption = m_caption.mid(shift) + m_caption.left(shift);
    }
    ShowText(CurrentWindow());
}

void TAnimLabel::StopScroll()
{
    if (m_stepTimer)
        m_stepTimer->SetEnabled(false);
    m_ring.reset();
    m_caption.clear();
    ShowText(QString());
    if (OnScrollChange)
        OnScrollChange(this);
}

void TAnimLabel::Turn(qsizetype characters)
{
    if (m_ring)
        m_ring->turn = (m_ring->turn + characters) % m_ring->text.size();
}

TAnimLabel::Slice& TAnimLabel::SliceAt(qsizetype at)
{
    Ring& ring = *m_ring;
    const qsizetype from = at - at % kSliceLength;
    auto slice = std::find_if(ring.slices.begin(), ring.slices.end(), [&](const Slice& s) { return s.from == from; });
    if (slice == ring.slices.end()) {
        if (ring.slices.size() < kKeptSlices) {
            slice = ring.slices.insert(ring.slices.end(), MakeSlice(from));
        } else {
            // The one asked for least lately: those of this paint are newer.
            slice = std::min_element(ring.slices.begin(), ring.slices.end(),
                                     [](const Slice& a, const Slice& b) { return a.used < b.used; });
            *slice = MakeSlice(from);
        }
    }
    slice->used = ++ring.uses;
    return *slice;
}

bool TAnimLabel::SimpleSpan(qsizetype from, qsizetype count)
{
    const QString& text = m_ring->text;
    count = std::min(count, text.size());
    for (qsizetype i = 0; i < count; ++i)
        if (!StandsAlone(text[(from + i) % text.size()]))
            return false;
    return true;
}

qreal TAnimLabel::RingAdvance(qsizetype at)
{
    const Slice& slice = SliceAt(at);
    const std::size_t i = std::size_t(at - slice.from);
    return slice.starts[i + 1] - slice.starts[i];
}

void TAnimLabel::MeasureRing()
{
    Ring& ring = *m_ring;
    ring.reach = Metrics().maxWidth();
    // The line's ascent and descent are those of the fonts its characters
    // come from: each character the label's font lacks once, laid out with
    // one it has, measure the whole caption's line.
    const QRawFont primary = QRawFont::fromFont(font());
    std::vector<bool> seen(0x10000);
    QString distinct(1, QLatin1Char('x'));
    for (const QChar ch : ring.text) {
        if (seen[ch.unicode()] || distinct.size() >= kMaxWindow)
            continue;
        seen[ch.unicode()] = true;
        if (ch.isSurrogate() || !primary.supportsCharacter(ch))
            distinct += ch;
    }
    QTextLayout layout(distinct, font(), this);
    const QTextLine line = LayOut(layout);
    ring.ascent = line.ascent();
    ring.descent = line.descent();
}

QTextLine TAnimLabel::LayOut(QTextLayout& layout) const
{
    // The options QPainter::drawText lays out a single unwrapped line with.
    QTextOption option;
    option.setWrapMode(QTextOption::NoWrap);
    option.setFlags(QTextOption::IncludeTrailingSpaces);
    option.setTextDirection(Qt::LeftToRight);
    layout.setTextOption(option);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    line.setLineWidth(0x01000000);
    layout.endLayout();
    return line;
}

TAnimLabel::Slice TAnimLabel::MakeSlice(qsizetype from) const
{
    const QString part = m_ring->text.mid(from, kSliceLength);
    Slice slice;
    slice.from = from;
    slice.layout = std::make_unique<QTextLayout>(part, font(), this); // at the label's resolution
    slice.layout->setCacheEnabled(true); // keeps the shaped glyphs for every paint
    const QTextLine line = LayOut(*slice.layout);
    slice.ascent = line.ascent();
    slice.starts.reserve(std::size_t(part.size()) + 1);
    for (qsizetype i = 0; i <= part.size(); ++i)
        slice.starts.push_back(line.cursorToX(int(i)));
    KeepGlyphs(slice, line, part.size());
    return slice;
}

void TAnimLabel::KeepGlyphs(Slice& slice, const QTextLine& line, qsizetype length)
{
    const QList<QGlyphRun> runs = line.glyphRuns();
    if (runs.size() != 1 || runs.front().flags() != QGlyphRun::GlyphRunFlags())
        return;
    const QGlyphRun& run = runs.front();
    const QList<quint32> glyphs = run.glyphIndexes();
    const QList<QPointF> positions = run.positions();
    if (glyphs.size() != length || positions.size() != glyphs.size())
        return;
    // A glyph shaped away from its character's place (a mark, a kern)
    // belongs to more than that character: keep nothing then.
    for (qsizetype i = 0; i < positions.size(); ++i)
        if (std::abs(positions[i].x() - slice.starts[std::size_t(i)]) > 1e-3)
            return;
    slice.font = run.rawFont();
    slice.glyphs.assign(glyphs.begin(), glyphs.end());
    slice.positions.assign(positions.begin(), positions.end());
}

bool TAnimLabel::PlainLine()
{
    if (!m_ring || !isEnabled())
        return false;
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
    // An auto-sized label as wide as a long caption is left to QLabel.
    return text().size() <= kMaxWindow;
}

bool TAnimLabel::PaintsFromRing()
{
    // Kerning would move a character by its neighbour, and the cuts give
    // characters other neighbours: fixed pitch only.
    return PlainLine() && FixedPitch() && SimpleSpan(m_ring->turn, text().size());
}

void TAnimLabel::paintEvent(QPaintEvent* event)
{
    if (!PaintsFromRing()) {
        TLabel::paintEvent(event);
        return;
    }
    const QRect box = contentsRect().adjusted(margin(), margin(), -margin(), -margin());
    const qreal right = box.right() + 1 + m_ring->reach;
    // The caption from the turn on, slice by slice and on from its
    // beginning, as far as its characters reach into the box.
    struct Piece {
        const Slice* slice;
        qsizetype from, to;
        qreal origin; // where the slice's first character would begin
    };
    std::vector<Piece> pieces;
    const qsizetype size = m_ring->text.size();
    const qsizetype shown = text().size(); // the window, whose characters are all simple
    qreal x = box.x();
    qsizetype at = m_ring->turn, placed = 0;
    while (placed < shown && x < right && pieces.size() + 2 < kKeptSlices) {
        const Slice& slice = SliceAt(at);
        const qsizetype to = std::min(slice.from + qsizetype(slice.starts.size()) - 1, at + (shown - placed));
        const qreal start = slice.starts[std::size_t(at - slice.from)];
        pieces.push_back({&slice, at, to, x - start});
        x += slice.starts[std::size_t(to - slice.from)] - start;
        placed += to - at;
        at = to % size;
    }
    const qreal height = m_ring->ascent + m_ring->descent;
    const qreal top = box.y() + LineTop(alignment(), box.height(), height);
    // The whole caption's width is known only when all of it was placed.
    const qreal width = placed == size ? x - box.x() : std::numeric_limits<qreal>::infinity();
    QPainter painter(this);
    drawFrame(&painter);
    // Text that does not fit is clipped to the box, as QPainter::drawText does.
    if (!QRectF(box).contains(QRectF(box.x(), top, std::min<qreal>(width, 1e9), height)))
        painter.setClipRect(box, Qt::IntersectClip);
    painter.setPen(QPen(palette().brush(foregroundRole()), painter.pen().widthF()));
    for (const Piece& piece : pieces)
        DrawCharacters(painter, QPointF(piece.origin, top + m_ring->ascent - piece.slice->ascent), *piece.slice,
                       piece.from, piece.to, right);
}

void TAnimLabel::DrawCharacters(QPainter& painter, QPointF origin, const Slice& slice, qsizetype from, qsizetype to,
                                qreal right) const
{
    from -= slice.from;
    to -= slice.from;
    // The first character that begins past the right edge, and those after
    // it, cannot show.
    const auto begin = slice.starts.begin();
    const auto beyond = std::upper_bound(begin + from, begin + to, right - origin.x());
    const qsizetype end = std::max(from, qsizetype(beyond - begin));
    if (end <= from)
        return;
    if (slice.glyphs.empty()) {
        for (const QGlyphRun& run : slice.layout->glyphRuns(int(from), int(end - from)))
            painter.drawGlyphRun(origin, run);
        return;
    }
    QGlyphRun run;
    run.setRawFont(slice.font);
    run.setRawData(slice.glyphs.data() + from, slice.positions.data() + from, int(end - from));
    painter.drawGlyphRun(origin, run);
}
