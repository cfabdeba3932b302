// SPDX-License-Identifier: GPL-3.0-or-later
// GUI thread only. A level bar changes up to twenty times a second while
// audio plays, and the style's own bar paint (gradients, anti-aliased
// outlines, work handed to Qt's paint threads) costs more than the rest of
// the window's repaint. Every position that fills the same number of pixels
// looks the same, so each such face is painted once into the pixmap cache
// and copied from there afterwards.
#include "platform/toolkit/TProgressBar.h"

#include "platform/toolkit/Exception.h"

#include <QPainter>
#include <QPixmapCache>
#include <QStyle>
#include <QStyleOptionProgressBar>

#include <algorithm>
#include <utility>

namespace platform {

namespace {

// An empty and a full bar are drawn without the fill's end, so they are told
// apart from the positions next to them that fill as many pixels.
int RangeEnds(int progress, int minimum, int maximum)
{
    return (progress <= minimum ? 1 : 0) | (progress >= maximum ? 2 : 0);
}

} // namespace

TProgressBar::TProgressBar(QWidget* parent) : QProgressBar(parent)
{
    setRange(0, 100);
    setValue(0);
    setTextVisible(false);
}

void TProgressBar::SetPosition(int position)
{
    if (position < 0 || position > MaxPosition)
        throw Exception(QStringLiteral("Progress bar position %1 is outside 0..%2").arg(position).arg(MaxPosition));
    // A position beyond Max shows as a full bar, below Min as an empty one.
    const int shown = InRange(position);
    m_position = shown;
    // A level that fills the same pixels as the one shown shows the same
    // face, so the bar's value is left alone: QProgressBar's setValue builds
    // a style option, formats its text and raises an accessibility event,
    // and most of the twenty positions a second change nothing on screen.
    if (shown == value() || SameFace(value(), shown))
        return;
    // QProgressBar paints and flushes to the screen at once on every visible
    // change; a scheduled update instead lets bars (and labels) that change
    // in the same pass of the event loop share one paint, and costs nothing
    // while the bar is hidden.
    ShowValue(shown);
    update();
}

void TProgressBar::ShowValue(int position)
{
    setAttribute(Qt::WA_UpdatesDisabled, true);
    setValue(InRange(position));
    setAttribute(Qt::WA_UpdatesDisabled, false);
}

int TProgressBar::InRange(int position) const
{
    return std::clamp(position, minimum(), std::max(minimum(), maximum()));
}

bool TProgressBar::SameFace(int before, int after) const
{
    const auto face = [&](int progress) {
        return std::pair(FilledPixels(progress), RangeEnds(progress, minimum(), maximum()));
    };
    const auto first = face(before);
    return first.first >= 0 && first == face(after);
}

int TProgressBar::FilledPixels(int progress) const
{
    const int length = FillLength();
    if (length < 0 || minimum() >= maximum())
        return -1;
    const qint64 steps = qint64(std::max(progress, minimum())) - minimum();
    return int(steps * length / (qint64(maximum()) - minimum()));
}

int TProgressBar::FillLength() const
{
    // Asked of the style once per size, orientation and style: a bar takes
    // twenty positions a second, and each question builds a style option.
    const FillGeometry now{size(), orientation(), style()};
    if (now == m_fillGeometry)
        return m_fillLength;
    m_fillGeometry = now;
    m_fillLength = -1;
    // Fusion fills (progress - minimum) * length / range pixels of the
    // contents rectangle, rounding down; other styles may draw chunks or
    // animate, so they paint every time.
    if (style()->name().compare(QLatin1String("fusion"), Qt::CaseInsensitive) == 0) {
        QStyleOptionProgressBar option;
        initStyleOption(&option);
        const QRect contents = style()->subElementRect(QStyle::SE_ProgressBarContents, &option, this);
        m_fillLength = option.state & QStyle::State_Horizontal ? contents.width() : contents.height();
    }
    return m_fillLength;
}

void TProgressBar::paintEvent(QPaintEvent* event)
{
    // A resize, a new style or range repaints the bar, and a position judged
    // to look like the shown one before may not look like it now.
    if (value() != m_position)
        ShowValue(m_position);
    QStyleOptionProgressBar option;
    initStyleOption(&option);
    const int filled = FilledPixels(option.progress);
    if (filled < 0) {
        QProgressBar::paintEvent(event);
        return;
    }
    QPainter(this).drawPixmap(0, 0, Face(option, filled));
}

QPixmap TProgressBar::Face(const QStyleOptionProgressBar& option, int filled) const
{
    // Everything else the style reads from the option is part of the key.
    const int ends = RangeEnds(option.progress, option.minimum, option.maximum);
    const QString key = QStringLiteral("TProgressBar:%1x%2@%3:%4:%5:%6:%7:%8")
                            .arg(option.rect.width())
                            .arg(option.rect.height())
                            .arg(devicePixelRatioF())
                            .arg(filled)
                            .arg(int(option.state))
                            .arg(int(option.direction) | int(option.invertedAppearance) << 2)
                            .arg(option.palette.cacheKey())
                            .arg(ends);
    QPixmap face;
    if (QPixmapCache::find(key, &face))
        return face;
    face = QPixmap(option.rect.size() * devicePixelRatioF());
    face.setDevicePixelRatio(devicePixelRatioF());
    face.fill(Qt::transparent);
    QPainter painter(&face);
    style()->drawControl(QStyle::CE_ProgressBar, &option, &painter, this);
    painter.end();
    QPixmapCache::insert(key, face);
    return face;
}

} // namespace platform
