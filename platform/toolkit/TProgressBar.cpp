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
    setValue(std::clamp(position, minimum(), std::max(minimum(), maximum())));
}

} // namespace platform
