// SPDX-License-Identifier: GPL-3.0-or-later
// TBitBtn: a push button showing a small glyph bitmap (its double-size
// drawing on screens with a device pixel ratio of 1.5 or more).
#pragma once

#include "platform/toolkit/TPicture.h"

#include <QPushButton>
#include <functional>

namespace platform {

class TBitBtn : public QPushButton {
    Q_OBJECT
    Q_PROPERTY(platform::TPicture Glyph READ Glyph WRITE SetGlyph)
    Q_PROPERTY(bool TabStop READ TabStop WRITE SetTabStop)
    Q_PROPERTY(QString Caption READ text WRITE setText)

public:
    Q_INVOKABLE explicit TBitBtn(QWidget* parent = nullptr);

    const TPicture& Glyph() const { return m_glyph; }
    void SetGlyph(const TPicture& glyph);

    bool TabStop() const { return focusPolicy() & Qt::TabFocus; }
    void SetTabStop(bool tabStop) { setFocusPolicy(tabStop ? Qt::StrongFocus : Qt::ClickFocus); }

    std::function<void(QObject* Sender)> OnClick;

private:
    TPicture m_glyph;
};

} // namespace platform
