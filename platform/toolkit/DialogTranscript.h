// SPDX-License-Identifier: GPL-3.0-or-later
// A test seam for whole-program tests: when the environment variable
// SENDOLIN_DIALOG_TRANSCRIPT names a file, every message, input and error box
// appends one line "kind<TAB>caption<TAB>text" (UTF-8) to that file and takes
// its default answer (OK; for the input box, Cancel) instead of waiting for a
// user. Without the variable nothing changes. In-process tests use the hooks
// of Dialogs.h and Application instead.
#pragma once

#include <QString>

namespace platform {

class DialogTranscript {
public:
    // True when the box was recorded and must not be shown.
    static bool Record(const QString& kind, const QString& caption, const QString& text);
};

} // namespace platform
