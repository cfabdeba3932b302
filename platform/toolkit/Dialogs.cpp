// GUI thread only. The hooks live here, beside the real dialogs they replace.
#include "platform/toolkit/Dialogs.h"

#include "platform/toolkit/Application.h"
#include "platform/toolkit/DialogTranscript.h"

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
    QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok);
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
        QInputDialog dialog;
        dialog.setWindowTitle(caption);
        dialog.setLabelText(prompt);
        dialog.setTextValue(preset);
        answer.ok = dialog.exec() == QDialog::Accepted;
        answer.text = dialog.textValue();
    }
    return answer.ok ? answer.text : preset;
}

} // namespace platform
