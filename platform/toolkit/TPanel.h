// SPDX-License-Identifier: GPL-3.0-or-later
// TPanel: a plain container control; its colour comes from the form's Color.
// Clicks on it (and on what it holds that lets them through) stay with it.
#pragma once

#include <QFrame>

namespace platform {

class TPanel : public QFrame {
    Q_OBJECT

public:
    Q_INVOKABLE explicit TPanel(QWidget* parent = nullptr);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
};

} // namespace platform
