// SPDX-License-Identifier: GPL-3.0-or-later
// GUI thread only. Handlers run through Application::Dispatch.
#include "platform/toolkit/TForm.h"

#include "platform/toolkit/Application.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFont>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QScreen>
#include <QShowEvent>

namespace platform {

namespace {

// The forms name the classic Windows faces; these are their metric-compatible
// stand-ins on Linux (fonts-liberation).
void InstallFontSubstitutes()
{
    static const bool installed = [] {
        QFont::insertSubstitution(QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"));
        QFont::insertSubstitution(QStringLiteral("Arial"), QStringLiteral("Liberation Sans"));
        QFont::insertSubstitution(QStringLiteral("Courier New"), QStringLiteral("Liberation Mono"));
        return true;
    }();
    Q_UNUSED(installed);
}

} // namespace

TForm::TForm(QWidget* parent) : QWidget(parent, Qt::Window)
{
    InstallFontSubstitutes();
    setAttribute(Qt::WA_DeleteOnClose, false);
}

void TForm::setVisible(bool visible)
{
    if (visible)
        PlaceOnFirstShow();
    QWidget::setVisible(visible);
}

void TForm::SetClientWidth(int width)
{
    setFixedWidth(width);
}

void TForm::SetClientHeight(int height)
{
    setFixedHeight(height);
}

void TForm::SetBorderStyle(TFormBorderStyle style)
{
    m_borderStyle = style;
    setWindowFlag(Qt::FramelessWindowHint, style == bsNone);
}

void TForm::BringToFront()
{
    show();
    raise();
    activateWindow();
}

void TForm::PlaceOnFirstShow()
{
    if (m_placed)
        return;
    m_placed = true;
    if (m_position != poScreenCenter && m_position != poDesktopCenter)
        return;
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    move(area.center() - QPoint(width() / 2, height() / 2));
}

void TForm::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (event->spontaneous())
        return;
    if (OnShow)
        Application::Instance().Dispatch([this] { OnShow(this); });
}

void TForm::closeEvent(QCloseEvent* event)
{
    TCloseAction action = caHide;
    if (OnClose)
        Application::Instance().Dispatch([&] { OnClose(this, action); });
    event->accept();
    if (Application::Instance().MainForm() == this)
        QCoreApplication::exit(0);
}

} // namespace platform

namespace platform {

void TForm::mousePressEvent(QMouseEvent* event)
{
    m_pressed = event->button() == Qt::LeftButton;
    QWidget::mousePressEvent(event);
}

void TForm::mouseReleaseEvent(QMouseEvent* event)
{
    const bool click = m_pressed && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
    m_pressed = false;
    if (click && OnClick)
        Application::Instance().Dispatch([this] { OnClick(this); });
}

} // namespace platform
