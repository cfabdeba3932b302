// SPDX-License-Identifier: GPL-3.0-or-later
// GUI thread only. The hooks live here, beside the real dialogs they replace.
// A box belongs to the window it speaks for, so the desktop keeps it on top
// of that window and groups the two (on Wayland a box without a parent is a
// window of its own, placed anywhere and lost behind others).
#include "platform/toolkit/Dialogs.h"

#include "platform/toolkit/Application.h"
#include "platform/toolkit/DialogTranscript.h"

#include <QApplication>
#include <QInputDialog>
#include <QMessageBox>

namespace platform {

namespace {

MessageBoxHook& MessageHook()
{
    static MessageBoxHook hook;
    return hook;
}

InputBoxHook& InputHook()
{
    static InputBoxHook hook;
    return hook;
}

// The shown main window, else the active one, else the one shown window
// that is not itself a box; a hidden window cannot hold a box up, so the box
// then stands alone.
QWidget* BoxParent()
{
    QWidget* main = Application::Instance().MainForm();
    if (main && main->isVisible())
        return main;
    if (QWidget* active = QApplication::activeWindow(); active && active->isVisible())
        return active;
    for (QWidget* window : QApplication::topLevelWidgets()) {
        const Qt::WindowType type = window->windowType();
        if (window->isVisible() && (type == Qt::Window || type == Qt::Tool) && !window->inherits("QDialog"))
            return window;
    }
    return nullptr;
}

} // namespace

void SetMessageBoxHook(MessageBoxHook hook)
{
    MessageHook() = std::move(hook);
}

void SetInputBoxHook(InputBoxHook hook)
{
    InputHook() = std::move(hook);
}

void MessageBox(const QString& text)
{
    MessageBox(Application::Instance().Title(), text);
}

void MessageBox(const QString& caption, const QString& text)
{
    if (MessageHook()) {
        MessageHook()(caption, text);
        return;
    }
    if (DialogTranscript::Record(QStringLiteral("message"), caption, text))
        return;
    QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, BoxParent());
    box.exec();
}

QString InputBox(const QString& caption, const QString& prompt, const QString& preset)
{
    InputBoxAnswer answer;
    if (InputHook()) {
        answer = InputHook()(caption, prompt, preset);
    } else if (DialogTranscript::Record(QStringLiteral("input"), caption, prompt)) {
        answer.ok = false;
    } else {
        QInputDialog dialog(BoxParent());
        dialog.setWindowTitle(caption);
        dialog.setLabelText(prompt);
        dialog.setTextValue(preset);
        answer.ok = dialog.exec() == QDialog::Accepted;
        answer.text = dialog.textValue();
    }
    return answer.ok ? answer.text : preset;
}

} // namespace platform
