// GUI thread only.
#include "platform/toolkit/TProgressBar.h"

#include "platform/toolkit/Exception.h"

#include <algorithm>

namespace platform {

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
    const int shown = std::clamp(position, minimum(), std::max(minimum(), maximum()));
    if (shown == value())
        return;
    // QProgressBar paints and flushes to the screen at once on every visible
    // change; a scheduled update instead lets bars (and labels) that change
    // in the same pass of the event loop share one paint, and costs nothing
    // while the bar is hidden.
    setUpdatesEnabled(false);
    setValue(shown);
    setUpdatesEnabled(true);
}

} // namespace platform
