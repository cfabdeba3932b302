// SPDX-License-Identifier: GPL-3.0-or-later
// GUI thread only. Handlers run through Application::Dispatch.
#include "platform/toolkit/TBitBtn.h"

#include "platform/toolkit/Application.h"

namespace platform {

TBitBtn::TBitBtn(QWidget* parent) : QPushButton(parent)
{
    connect(this, &QPushButton::clicked, this, [this] {
        if (OnClick)
            Application::Instance().Dispatch([this] { OnClick(this); });
    });
}

void TBitBtn::SetGlyph(const TPicture& glyph)
{
    m_glyph = glyph;
    // The icon picks the drawing that suits the screen's pixel ratio.
    QIcon icon(glyph.Bitmap());
    if (glyph.HasDoubleSize())
        icon.addPixmap(glyph.DoubleSize());
    setIcon(icon);
    setIconSize(glyph.size());
}

} // namespace platform
