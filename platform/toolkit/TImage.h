// SPDX-License-Identifier: GPL-3.0-or-later
// TImage: a picture control. It draws its picture unscaled at its top left
// (on a screen with a device pixel ratio of 1.5 or more the picture's
// double-size drawing, when it has one, at the same logical size) and reports mouse input through OnMouseDown/OnMouseUp/OnClick/OnDblClick.
// Like every enabled control it keeps the clicks on it, handlers or not;
// while disabled, Qt hands its clicks to the parent, which makes them
// clicks on the window's background.
//
// The second press of a double click reports OnMouseDown, then OnDblClick;
// its release reports OnMouseUp but no click.
//
// Tag is the component's free integer, as on every component of the toolkit.
#pragma once

#include "platform/toolkit/TPicture.h"

#include <QWidget>
#include <functional>

namespace platform {

class TImage : public QWidget {
    Q_OBJECT
    Q_PROPERTY(platform::TPicture Picture READ Picture WRITE SetPicture)
    Q_PROPERTY(int Tag READ Tag WRITE SetTag)

public:
    Q_INVOKABLE explicit TImage(QWidget* parent = nullptr);

    const TPicture& Picture() const { return m_picture; }
    void SetPicture(const TPicture& picture);

    int Tag() const { return m_tag; }
    void SetTag(int tag) { m_tag = tag; }

    using MouseHandler = std::function<void(QObject* Sender, Qt::MouseButton Button,
                                            Qt::KeyboardModifiers Shift, int X, int Y)>;
    MouseHandler OnMouseDown;
    MouseHandler OnMouseUp;
    std::function<void(QObject* Sender)> OnClick;
    std::function<void(QObject* Sender)> OnDblClick;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    void ReportMouseDown(QMouseEvent* event);

    TPicture m_picture;
    int m_tag = 0;
    bool m_clickPending = false; // a single left press that a release may complete
};

} // namespace platform
