// SPDX-License-Identifier: GPL-3.0-or-later
// TBevel: a decorative line or frame drawn sunken or raised.
#pragma once

#include <QWidget>

namespace platform {

class TBevel : public QWidget {
    Q_OBJECT
    Q_PROPERTY(TBevelShape Shape READ Shape WRITE SetShape)
    Q_PROPERTY(TBevelStyle Style READ Style WRITE SetStyle)

public:
    enum TBevelShape { bsBox, bsFrame, bsTopLine, bsBottomLine, bsLeftLine, bsRightLine };
    Q_ENUM(TBevelShape)
    enum TBevelStyle { bsLowered, bsRaised };
    Q_ENUM(TBevelStyle)

    Q_INVOKABLE explicit TBevel(QWidget* parent = nullptr);

    TBevelShape Shape() const { return m_shape; }
    void SetShape(TBevelShape shape);
    TBevelStyle Style() const { return m_style; }
    void SetStyle(TBevelStyle style);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    TBevelShape m_shape = bsBox;
    TBevelStyle m_style = bsLowered;
};

} // namespace platform
