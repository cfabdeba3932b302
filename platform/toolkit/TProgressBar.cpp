// GUI thread only.
#include "platform/toolkit/TProgressBar.h"

namespace platform {

TProgressBar::TProgressBar(QWidget* parent) : QProgressBar(parent)
{
    setRange(0, 100);
    setValue(0);
    setTextVisible(false);
}

} // namespace platform
