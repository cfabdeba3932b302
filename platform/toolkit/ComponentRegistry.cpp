// SPDX-License-Identifier: GPL-3.0-or-later
// A process-wide map from class name to meta-object, filled at start-up.
#include "platform/toolkit/ComponentRegistry.h"

#include "platform/toolkit/TBevel.h"
#include "platform/toolkit/TBitBtn.h"
#include "platform/toolkit/TComboBox.h"
#include "platform/toolkit/TImage.h"
#include "platform/toolkit/TLabel.h"
#include "platform/toolkit/TPanel.h"
#include "platform/toolkit/TProgressBar.h"
#include "platform/toolkit/TTimer.h"

#include <QHash>

namespace platform {

namespace {

QHash<QString, const QMetaObject*>& Classes()
{
    static QHash<QString, const QMetaObject*> classes;
    return classes;
}

} // namespace

QString ComponentClassName(const QMetaObject& meta)
{
    const QString full = QString::fromLatin1(meta.className());
    const qsizetype colon = full.lastIndexOf(QLatin1String("::"));
    return colon < 0 ? full : full.mid(colon + 2);
}

void RegisterClass(const QMetaObject& meta)
{
    Classes().insert(ComponentClassName(meta), &meta);
}

const QMetaObject* FindClass(const QString& className)
{
    return Classes().value(className, nullptr);
}

void RegisterToolkitClasses()
{
    RegisterClass(TTimer::staticMetaObject);
    RegisterClass(TPanel::staticMetaObject);
    RegisterClass(TLabel::staticMetaObject);
    RegisterClass(TBevel::staticMetaObject);
    RegisterClass(TBitBtn::staticMetaObject);
    RegisterClass(TImage::staticMetaObject);
    RegisterClass(TComboBox::staticMetaObject);
    RegisterClass(TProgressBar::staticMetaObject);
}

} // namespace platform
