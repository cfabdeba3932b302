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

void TBitBtn::SetGlyph(const QPixmap& glyph)
{
    m_glyph = glyph;
    setIcon(QIcon(glyph));
    setIconSize(glyph.size());
}

} // namespace platform
