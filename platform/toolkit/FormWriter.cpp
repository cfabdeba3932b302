// SPDX-License-Identifier: GPL-3.0-or-later
// Stateless. The stored properties of a component are the writable, stored
// Q_PROPERTYs declared by its own classes (Qt's own classes, whose names begin
// with Q, contribute none) plus the control properties every widget has.
#include "platform/toolkit/FormWriter.h"

#include "platform/toolkit/ComponentRegistry.h"
#include "platform/toolkit/FormColors.h"
#include "platform/toolkit/TForm.h"
#include "platform/toolkit/TPicture.h"

#include <QBuffer>
#include <QMetaProperty>
#include <QPixmap>
#include <QWidget>
#include <functional>

namespace platform {

namespace {

QString Quote(const QString& text)
{
    QString out;
    bool inQuotes = false;
    for (const char32_t code : text.toUcs4()) {
        if (code >= 0x20 && code != 0x7F) {
            if (!inQuotes)
                out += u'\'';
            inQuotes = true;
            if (code == u'\'')
                out += u'\'';
            out += QString::fromUcs4(&code, 1);
        } else {
            if (inQuotes)
                out += u'\'';
            inQuotes = false;
            out += u'#' + QString::number(uint(code));
        }
    }
    if (inQuotes)
        out += u'\'';
    return out.isEmpty() ? QStringLiteral("''") : out;
}

QString Hex(const QByteArray& bytes, const QString& indent)
{
    const QByteArray hex = bytes.toHex().toUpper();
    if (hex.size() <= 64)
        return u'{' + QString::fromLatin1(hex) + u'}';
    QString out = QStringLiteral("{");
    for (qsizetype at = 0; at < hex.size(); at += 64)
        out += u'\n' + indent + QStringLiteral("  ") + QString::fromLatin1(hex.mid(at, 64));
    return out + u'}';
}

QString PictureText(const QPixmap& picture, const QString& indent)
{
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, "PNG");
    return Hex(png, indent);
}

QString Text(const QMetaProperty& meta, const QVariant& value, const QString& indent)
{
    // A written picture holds its bitmap; a double-size drawing exists only
    // as a file beside a named one.
    if (meta.metaType() == QMetaType::fromType<TPicture>())
        return PictureText(value.value<TPicture>().Bitmap(), indent);
    if (meta.isEnumType()) {
        const QMetaEnum enumerator = meta.enumerator();
        if (enumerator.isFlag())
            return u'[' + QString::fromLatin1(enumerator.valueToKeys(value.toInt())).replace(u'|', QStringLiteral(", ")) + u']';
        return QString::fromLatin1(enumerator.valueToKey(value.toInt()));
    }
    switch (meta.metaType().id()) {
    case QMetaType::Bool:
        return value.toBool() ? QStringLiteral("True") : QStringLiteral("False");
    case QMetaType::QString:
        return Quote(value.toString());
    case QMetaType::QStringList: {
        QString out = QStringLiteral("(");
        for (const QString& item : value.toStringList())
            out += u'\n' + indent + QStringLiteral("  ") + Quote(item);
        return out + u')';
    }
    case QMetaType::QByteArray:
        return Hex(value.toByteArray(), indent);
    case QMetaType::QColor:
        return ColorToText(value.value<QColor>());
    case QMetaType::QPixmap:
        return PictureText(value.value<QPixmap>(), indent);
    default:
        return QString::number(value.toLongLong());
    }
}

bool IsQtClass(const QMetaObject* meta)
{
    return meta->className()[0] == 'Q';
}

using LineFn = std::function<void(const char* name, const QString& value)>;

// Colours and fonts. A component written on its own also carries the font it
// inherits, so it reads back looking the same outside its window.
void WriteLook(const QWidget& widget, bool top, const LineFn& line)
{
    if (!widget.isEnabled())
        line("Enabled", QStringLiteral("False"));
    if (!widget.toolTip().isEmpty())
        line("Hint", Quote(widget.toolTip()));
    if (widget.autoFillBackground())
        line("Color", ColorToText(widget.palette().color(QPalette::Window)));
    if (top || widget.testAttribute(Qt::WA_SetFont)) {
        const QFont font = widget.font();
        line("Font.Name", Quote(font.family()));
        if (font.pixelSize() > 0)
            line("Font.Height", QString::number(font.pixelSize()));
        QStringList styles;
        if (font.bold()) styles << QStringLiteral("fsBold");
        if (font.italic()) styles << QStringLiteral("fsItalic");
        if (font.underline()) styles << QStringLiteral("fsUnderline");
        if (font.strikeOut()) styles << QStringLiteral("fsStrikeOut");
        line("Font.Style", u'[' + styles.join(QStringLiteral(", ")) + u']');
    }
    if (top || widget.testAttribute(Qt::WA_SetPalette))
        line("Font.Color", ColorToText(widget.palette().color(QPalette::WindowText)));
}

// Geometry comes last: by then a label knows whether it sizes itself, so the
// stored size is the one that stays.
void WriteGeometry(const QWidget& widget, const LineFn& line)
{
    // A form stores its client size; it is placed when shown.
    if (qobject_cast<const TForm*>(&widget))
        return;
    line("Left", QString::number(widget.x()));
    line("Top", QString::number(widget.y()));
    line("Width", QString::number(widget.width()));
    line("Height", QString::number(widget.height()));
    if (widget.isHidden() && widget.testAttribute(Qt::WA_WState_ExplicitShowHide))
        line("Visible", QStringLiteral("False"));
}

void WriteObject(const QObject& object, const QString& indent, bool top, QString& out)
{
    out += indent + QStringLiteral("object ") + object.objectName() + QStringLiteral(": ")
         + ComponentClassName(*object.metaObject()) + u'\n';
    const QString inner = indent + QStringLiteral("  ");
    const LineFn line = [&](const char* name, const QString& value) {
        out += inner + QLatin1String(name) + QStringLiteral(" = ") + value + u'\n';
    };
    for (const QMetaObject* meta = object.metaObject(); meta && !IsQtClass(meta); meta = meta->superClass()) {
        for (int i = meta->propertyOffset(); i < meta->propertyCount(); ++i) {
            const QMetaProperty property = meta->property(i);
            if (!property.isWritable() || !property.isStored())
                continue;
            out += inner + QLatin1String(property.name()) + QStringLiteral(" = ")
                 + Text(property, property.read(&object), inner) + u'\n';
        }
    }
    if (const auto* widget = qobject_cast<const QWidget*>(&object)) {
        WriteLook(*widget, top, line);
        WriteGeometry(*widget, line);
    }
    for (const QObject* child : object.children()) {
        if (child->objectName().isEmpty() || FindClass(ComponentClassName(*child->metaObject())) != child->metaObject())
            continue;
        WriteObject(*child, inner, false, out);
    }
    out += indent + QStringLiteral("end\n");
}

} // namespace

QByteArray FormWriter::Write(const QObject& component)
{
    QString out;
    WriteObject(component, QString(), true, out);
    return out.toUtf8();
}

} // namespace platform
