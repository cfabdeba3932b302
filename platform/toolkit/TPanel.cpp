// GUI thread only.
#include "platform/toolkit/TPanel.h"

namespace platform {

TPanel::TPanel(QWidget* parent) : QFrame(parent)
{
    setFrameShape(QFrame::NoFrame);
    setAutoFillBackground(true);
}

} // namespace platform
