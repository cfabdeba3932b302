// SPDX-License-Identifier: GPL-3.0-or-later
// TForm: the toolkit's form class, the base of a program's windows. A form is
// a top-level QWidget filled from its layout resource (FormReader); its
// handlers are the public events below, bound by the concrete form.
//
// Closing the application's main form ends the message loop (Application::Run).
// Qt never re-enters a close that is in progress, so OnClose runs once per close.
#pragma once

#include <QWidget>
#include <functional>

namespace platform {

class TForm : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QString Caption READ windowTitle WRITE setWindowTitle)
    Q_PROPERTY(int ClientWidth READ ClientWidth WRITE SetClientWidth)
    Q_PROPERTY(int ClientHeight READ ClientHeight WRITE SetClientHeight)
    Q_PROPERTY(TFormBorderStyle BorderStyle READ BorderStyle WRITE SetBorderStyle)
    Q_PROPERTY(TPosition Position READ Position WRITE SetPosition)

public:
    enum TFormBorderStyle { bsNone, bsSingle, bsSizeable, bsDialog, bsToolWindow, bsSizeToolWin };
    Q_ENUM(TFormBorderStyle)
    enum TPosition { poDesigned, poDefault, poScreenCenter, poDesktopCenter };
    Q_ENUM(TPosition)

    explicit TForm(QWidget* parent = nullptr);

    int ClientWidth() const { return width(); }
    void SetClientWidth(int width);
    int ClientHeight() const { return height(); }
    void SetClientHeight(int height);

    TFormBorderStyle BorderStyle() const { return m_borderStyle; }
    void SetBorderStyle(TFormBorderStyle style);

    TPosition Position() const { return m_position; }
    void SetPosition(TPosition position) { m_position = position; }

    // Show, then raise and activate.
    void BringToFront();

    // Places the form (on its first showing) before it appears.
    void setVisible(bool visible) override;

    std::function<void(QObject* Sender)> OnShow;
    // A left click on the form itself: on no control, or on a control that
    // lets clicks through (a disabled one, a picture without handlers).
    std::function<void(QObject* Sender)> OnClick;
    // Action may be changed by the handler; the form closes whatever it says.
    enum TCloseAction { caNone, caHide, caFree, caMinimize };
    std::function<void(QObject* Sender, TCloseAction& Action)> OnClose;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void PlaceOnFirstShow();

    TFormBorderStyle m_borderStyle = bsSizeable;
    TPosition m_position = poDesigned;
    bool m_placed = false;
    bool m_pressed = false;
};

} // namespace platform
