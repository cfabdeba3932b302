// SPDX-License-Identifier: GPL-3.0-or-later
// GUI thread only; the file is opened, appended to and closed per box so a
// killed process leaves complete lines.
#include "platform/toolkit/DialogTranscript.h"

#include <QFile>

namespace platform {

bool DialogTranscript::Record(const QString& kind, const QString& caption, const QString& text)
{
    const QByteArray path = qgetenv("SENDOLIN_DIALOG_TRANSCRIPT");
    if (path.isEmpty())
        return false;
    QFile file(QString::fromLocal8Bit(path));
    if (file.open(QIODevice::Append | QIODevice::WriteOnly))
        file.write((kind + u'\t' + caption + u'\t' + text + u'\n').toUtf8());
    return true;
}

} // namespace platform
