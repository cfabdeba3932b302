// SPDX-License-Identifier: GPL-3.0-or-later
// The component class registry: the layout-resource reader creates components
// by class name through it.
//
// A class is registered with its QMetaObject. Visual components have a
// Q_INVOKABLE constructor taking the parent QWidget*, non-visual ones one
// taking the owner QObject*. Names are the class names without namespace
// ("TTimer", not "platform::TTimer"). Registration and lookup happen on the
// GUI thread, normally before the first form is read.
#pragma once

#include <QMetaObject>
#include <QString>
#include <QStringList>

namespace platform {

// Registers a component class; registering it again is harmless.
void RegisterClass(const QMetaObject& meta);

// The class registered under that name, or nullptr.
const QMetaObject* FindClass(const QString& className);

// The registry's name of a class: its C++ name without namespace.
QString ComponentClassName(const QMetaObject& meta);

// Registers the toolkit's own components (timer and standard controls).
void RegisterToolkitClasses();

} // namespace platform
