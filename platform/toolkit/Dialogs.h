// SPDX-License-Identifier: GPL-3.0-or-later
// The toolkit's modal dialogs: the plain message box and the input box.
//
// GUI thread only. Tests replace the dialogs by hooks, so nothing modal ever
// blocks a test; an empty hook restores the real dialog.
#pragma once

#include <QString>
#include <functional>

namespace platform {

// One OK button; the caption is the application title.
void MessageBox(const QString& text);
// The same with an explicit caption (used before the title is set).
void MessageBox(const QString& caption, const QString& text);

// OK returns the edited text, Cancel (or closing the box) returns the preset.
QString InputBox(const QString& caption, const QString& prompt, const QString& preset);

using MessageBoxHook = std::function<void(const QString& caption, const QString& text)>;
void SetMessageBoxHook(MessageBoxHook hook);

struct InputBoxAnswer {
    bool ok = false;
    QString text;
};
using InputBoxHook =
    std::function<InputBoxAnswer(const QString& caption, const QString& prompt, const QString& preset)>;
void SetInputBoxHook(InputBoxHook hook);

} // namespace platform
