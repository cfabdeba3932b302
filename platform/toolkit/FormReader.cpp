// SPDX-License-Identifier: GPL-3.0-or-later
// A recursive-descent reader over the whole text with a line counter. Values
// are parsed first into a neutral FormValue, then converted by the type of the
// property they are assigned to, so a mismatch is reported with the property.
#include "platform/toolkit/FormReader.h"

#include "platform/toolkit/ComponentRegistry.h"
#include "platform/toolkit/Exception.h"
#include "platform/toolkit/FormColors.h"
#include "platform/toolkit/TPicture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMetaProperty>
#include <QPixmap>
#include <QWidget>
#include <memory>

namespace platform {

namespace {

struct FormValue {
    enum Kind { Integer, String, Ident, Set, Binary, List } kind = Integer;
    qint64 integer = 0;
    QString text;       // String, Ident
    QStringList items;  // Set, List
    QByteArray bytes;   // Binary

    QString KindName() const
    {
        static const char* names[] = {"an integer", "a string", "an identifier", "a set",
                                      "binary data", "a list"};
        return QLatin1String(names[kind]);
    }
};

class Parser {
public:
    Parser(const QByteArray& text, QString fileName, QString baseDir)
        : m_text(QString::fromUtf8(text)), m_file(std::move(fileName)), m_baseDir(std::move(baseDir))
    {
    }

    QObject* ReadTop(QObject* root);

private:
    [[noreturn]] void Fail(const QString& what) const
    {
        throw EFormError(QStringLiteral("%1, line %2: %3").arg(m_file).arg(m_line).arg(what));
    }
    [[noreturn]] void FailProperty(const QString& property, const QObject& object, const QString& what) const
    {
        Fail(QStringLiteral("property '%1' of %2: %3").arg(property, object.objectName(), what));
    }

    // Lexing.
    QChar Peek() const { return m_pos < m_text.size() ? m_text[m_pos] : QChar(); }
    bool AtEnd() const { return m_pos >= m_text.size(); }
    void SkipBlanks();                 // blanks and tabs on this line
    void SkipSpaceAndNewlines();       // everything blank, counting lines
    void EndOfLine();
    QString Word();                    // identifier, possibly dotted
    void Expect(QChar c, const char* what);

    FormValue Value();
    QString StringValue();
    QByteArray BinaryValue();
    qint64 IntegerValue();

    // Building.
    void ObjectHeader(QString& name, QString& className);
    void ObjectBody(QObject& object, QObject& owner);
    QObject* CreateChild(const QString& className, QObject& container, QObject& owner);
    void Assign(QObject& object, const QString& property, const FormValue& value);
    void WriteProperty(QObject& object, const QString& property, const QMetaProperty& meta, const QVariant& value);
    bool AssignControlProperty(QWidget& widget, const QString& property, const FormValue& value);
    void AssignFont(QWidget& widget, const QString& property, const FormValue& value);
    QVariant Convert(const QObject& object, const QString& property, const QMetaProperty& meta,
                     const FormValue& value);
    QColor ToColor(const QObject& object, const QString& property, const FormValue& value);
    TPicture ToPicture(const QObject& object, const QString& property, const FormValue& value);
    bool ToBool(const QObject& object, const QString& property, const FormValue& value);
    qint64 ToInteger(const QObject& object, const QString& property, const FormValue& value);

    QString m_text;
    QString m_file;
    QString m_baseDir;
    qsizetype m_pos = 0;
    int m_line = 1;
};

void Parser::SkipBlanks()
{
    while (!AtEnd() && (Peek() == u' ' || Peek() == u'\t' || Peek() == u'\r'))
        ++m_pos;
}

void Parser::SkipSpaceAndNewlines()
{
    while (!AtEnd() && Peek().isSpace()) {
        if (Peek() == u'\n')
            ++m_line;
        ++m_pos;
    }
}

void Parser::EndOfLine()
{
    SkipBlanks();
    if (AtEnd())
        return;
    if (Peek() != u'\n')
        Fail(QStringLiteral("unexpected '%1' at end of line").arg(Peek()));
}

QString Parser::Word()
{
    const qsizetype start = m_pos;
    while (!AtEnd() && (Peek().isLetterOrNumber() || Peek() == u'_' || Peek() == u'.'))
        ++m_pos;
    return m_text.mid(start, m_pos - start);
}

void Parser::Expect(QChar c, const char* what)
{
    SkipBlanks();
    if (Peek() != c)
        Fail(QStringLiteral("expected %1").arg(QLatin1String(what)));
    ++m_pos;
}

qint64 Parser::IntegerValue()
{
    bool negative = false;
    if (Peek() == u'-') {
        negative = true;
        ++m_pos;
    }
    int base = 10;
    if (Peek() == u'$') {
        base = 16;
        ++m_pos;
    }
    const qsizetype start = m_pos;
    while (!AtEnd() && (base == 16 ? Peek().isLetterOrNumber() : Peek().isDigit()))
        ++m_pos;
    bool ok = false;
    const qint64 value = m_text.mid(start, m_pos - start).toLongLong(&ok, base);
    if (!ok)
        Fail(QStringLiteral("malformed number"));
    return negative ? -value : value;
}

QString Parser::StringValue()
{
    QString result;
    for (;;) {
        if (Peek() == u'\'') {
            ++m_pos;
            for (;;) {
                if (AtEnd() || Peek() == u'\n')
                    Fail(QStringLiteral("unterminated string"));
                const QChar c = m_text[m_pos++];
                if (c == u'\'') {
                    if (Peek() != u'\'')
                        break;
                    ++m_pos;
                }
                result += c;
            }
        } else if (Peek() == u'#') {
            ++m_pos;
            const qsizetype start = m_pos;
            while (!AtEnd() && Peek().isDigit())
                ++m_pos;
            bool ok = false;
            const uint code = m_text.mid(start, m_pos - start).toUInt(&ok);
            if (!ok || code > 0x10FFFF)
                Fail(QStringLiteral("malformed character code"));
            result += QString::fromUcs4(reinterpret_cast<const char32_t*>(&code), 1);
        } else {
            return result;
        }
    }
}

QByteArray Parser::BinaryValue()
{
    ++m_pos; // '{'
    QByteArray hex;
    for (;;) {
        if (AtEnd())
            Fail(QStringLiteral("unterminated binary value"));
        const QChar c = m_text[m_pos++];
        if (c == u'}')
            break;
        if (c == u'\n')
            ++m_line;
        else if (c.isSpace())
            continue;
        else if (c.isDigit() || (c.toLower() >= u'a' && c.toLower() <= u'f'))
            hex += char(c.unicode());
        else
            Fail(QStringLiteral("malformed binary value"));
    }
    if (hex.size() % 2 != 0)
        Fail(QStringLiteral("binary value with an odd number of hex digits"));
    return QByteArray::fromHex(hex);
}

FormValue Parser::Value()
{
    SkipBlanks();
    FormValue value;
    const QChar c = Peek();
    if (c == u'\'' || c == u'#') {
        value.kind = FormValue::String;
        value.text = StringValue();
    } else if (c.isDigit() || c == u'-' || c == u'$') {
        value.kind = FormValue::Integer;
        value.integer = IntegerValue();
    } else if (c == u'{') {
        value.kind = FormValue::Binary;
        value.bytes = BinaryValue();
    } else if (c == u'[') {
        value.kind = FormValue::Set;
        ++m_pos;
        for (SkipBlanks(); Peek() != u']'; SkipBlanks()) {
            const QString item = Word();
            if (item.isEmpty())
                Fail(QStringLiteral("malformed set"));
            value.items << item;
            SkipBlanks();
            if (Peek() == u',')
                ++m_pos;
            else if (Peek() != u']')
                Fail(QStringLiteral("malformed set"));
        }
        ++m_pos;
    } else if (c == u'(') {
        value.kind = FormValue::List;
        ++m_pos;
        for (SkipSpaceAndNewlines(); Peek() != u')'; SkipSpaceAndNewlines()) {
            if (Peek() != u'\'' && Peek() != u'#')
                Fail(QStringLiteral("malformed string list"));
            value.items << StringValue();
        }
        ++m_pos;
    } else if (c.isLetter() || c == u'_') {
        value.kind = FormValue::Ident;
        value.text = Word();
    } else {
        Fail(QStringLiteral("missing value"));
    }
    EndOfLine();
    return value;
}

void Parser::ObjectHeader(QString& name, QString& className)
{
    name = Word();
    if (name.isEmpty())
        Fail(QStringLiteral("object without a name"));
    Expect(u':', "':' after the object name");
    SkipBlanks();
    className = Word();
    if (className.isEmpty())
        Fail(QStringLiteral("object %1 without a class").arg(name));
    EndOfLine();
}

QObject* Parser::ReadTop(QObject* root)
{
    SkipSpaceAndNewlines();
    if (Word() != QLatin1String("object"))
        Fail(QStringLiteral("expected 'object'"));
    SkipBlanks();
    QString name, className;
    ObjectHeader(name, className);

    std::unique_ptr<QObject> created;
    if (root) {
        if (ComponentClassName(*root->metaObject()) != className)
            Fail(QStringLiteral("the resource describes %1, not %2")
                     .arg(className, ComponentClassName(*root->metaObject())));
    } else {
        const QMetaObject* meta = FindClass(className);
        if (!meta)
            Fail(QStringLiteral("unknown class %1").arg(className));
        created.reset(meta->inherits(&QWidget::staticMetaObject)
                          ? meta->newInstance(Q_ARG(QWidget*, nullptr))
                          : meta->newInstance(Q_ARG(QObject*, nullptr)));
        if (!created)
            Fail(QStringLiteral("class %1 cannot be created").arg(className));
        root = created.get();
    }
    root->setObjectName(name);
    ObjectBody(*root, *root);
    SkipSpaceAndNewlines();
    if (!AtEnd())
        Fail(QStringLiteral("text after the last 'end'"));
    created.release();
    return root;
}

void Parser::ObjectBody(QObject& object, QObject& owner)
{
    for (;;) {
        SkipSpaceAndNewlines();
        if (AtEnd())
            Fail(QStringLiteral("missing 'end' of %1").arg(object.objectName()));
        const QString word = Word();
        if (word.isEmpty())
            Fail(QStringLiteral("unexpected '%1'").arg(Peek()));
        if (word == QLatin1String("end")) {
            EndOfLine();
            return;
        }
        SkipBlanks();
        if (word == QLatin1String("object")) {
            QString name, className;
            ObjectHeader(name, className);
            if (owner.findChild<QObject*>(name) || owner.objectName() == name)
                Fail(QStringLiteral("a component named %1 already exists").arg(name));
            QObject* child = CreateChild(className, object, owner);
            child->setObjectName(name);
            ObjectBody(*child, owner);
            continue;
        }
        Expect(u'=', "'=' after the property name");
        // A value may span lines; faults are reported at the line it starts on.
        const int startLine = m_line;
        const FormValue value = Value();
        const int endLine = m_line;
        m_line = startLine;
        Assign(object, word, value);
        m_line = endLine;
    }
}

QObject* Parser::CreateChild(const QString& className, QObject& container, QObject& owner)
{
    const QMetaObject* meta = FindClass(className);
    if (!meta)
        Fail(QStringLiteral("unknown class %1").arg(className));
    QObject* child = nullptr;
    if (meta->inherits(&QWidget::staticMetaObject)) {
        auto* parent = qobject_cast<QWidget*>(&container);
        if (!parent)
            Fail(QStringLiteral("control of class %1 inside a non-visual component").arg(className));
        child = meta->newInstance(Q_ARG(QWidget*, parent));
    } else {
        // Non-visual components belong to the form, wherever they are written.
        child = meta->newInstance(Q_ARG(QObject*, &owner));
    }
    if (!child)
        Fail(QStringLiteral("class %1 cannot be created").arg(className));
    return child;
}

void Parser::Assign(QObject& object, const QString& property, const FormValue& value)
{
    auto* widget = qobject_cast<QWidget*>(&object);
    if (property.startsWith(QLatin1String("Font."))) {
        if (!widget)
            FailProperty(property, object, QStringLiteral("unknown property"));
        AssignFont(*widget, property, value);
        return;
    }
    const int index = property.contains(u'.') ? -1 : object.metaObject()->indexOfProperty(property.toLatin1());
    if (index >= 0) {
        const QMetaProperty meta = object.metaObject()->property(index);
        if (!meta.isWritable())
            FailProperty(property, object, QStringLiteral("read-only property"));
        WriteProperty(object, property, meta, Convert(object, property, meta, value));
        return;
    }
    if (widget && AssignControlProperty(*widget, property, value))
        return;
    FailProperty(property, object, QStringLiteral("unknown property"));
}

// A component's setter may refuse a value by raising its exception; that is a
// fault of the resource like any other, reported with file, line and property.
void Parser::WriteProperty(QObject& object, const QString& property, const QMetaProperty& meta, const QVariant& value)
{
    bool written = false;
    try {
        written = meta.write(&object, value);
    } catch (const Exception& error) {
        FailProperty(property, object, error.Message());
    } catch (const std::exception& error) {
        FailProperty(property, object, QString::fromUtf8(error.what()));
    }
    if (!written)
        FailProperty(property, object, QStringLiteral("value not accepted"));
}

bool Parser::AssignControlProperty(QWidget& widget, const QString& property, const FormValue& value)
{
    if (value.kind == FormValue::Integer && value.integer > INT32_MAX)
        FailProperty(property, widget, QStringLiteral("integer out of range"));
    if (property == QLatin1String("Left"))
        widget.move(int(ToInteger(widget, property, value)), widget.y());
    else if (property == QLatin1String("Top"))
        widget.move(widget.x(), int(ToInteger(widget, property, value)));
    else if (property == QLatin1String("Width"))
        widget.resize(int(ToInteger(widget, property, value)), widget.height());
    else if (property == QLatin1String("Height"))
        widget.resize(widget.width(), int(ToInteger(widget, property, value)));
    else if (property == QLatin1String("Visible"))
        widget.setVisible(ToBool(widget, property, value));
    else if (property == QLatin1String("Enabled"))
        widget.setEnabled(ToBool(widget, property, value));
    else if (property == QLatin1String("Hint")) {
        if (value.kind != FormValue::String)
            FailProperty(property, widget, QStringLiteral("expected a string, found %1").arg(value.KindName()));
        widget.setToolTip(value.text);
    } else if (property == QLatin1String("Color")) {
        QPalette palette = widget.palette();
        const QColor color = ToColor(widget, property, value);
        for (auto role : {QPalette::Window, QPalette::Base, QPalette::Button})
            palette.setColor(role, color);
        widget.setPalette(palette);
        widget.setAutoFillBackground(true);
    } else {
        return false;
    }
    return true;
}

void Parser::AssignFont(QWidget& widget, const QString& property, const FormValue& value)
{
    const QString part = property.mid(5);
    if (part == QLatin1String("Color")) {
        QPalette palette = widget.palette();
        const QColor color = ToColor(widget, property, value);
        for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
            palette.setColor(role, color);
        widget.setPalette(palette);
        return;
    }
    QFont font = widget.font();
    if (part == QLatin1String("Name")) {
        if (value.kind != FormValue::String)
            FailProperty(property, widget, QStringLiteral("expected a string, found %1").arg(value.KindName()));
        font.setFamily(value.text);
    } else if (part == QLatin1String("Height")) {
        const qint64 height = ToInteger(widget, property, value);
        if (height <= 0 || height > 1000)
            FailProperty(property, widget, QStringLiteral("font height out of range"));
        font.setPixelSize(int(height));
    } else if (part == QLatin1String("Style")) {
        if (value.kind != FormValue::Set)
            FailProperty(property, widget, QStringLiteral("expected a set, found %1").arg(value.KindName()));
        font.setBold(false);
        font.setItalic(false);
        font.setUnderline(false);
        font.setStrikeOut(false);
        for (const QString& style : value.items) {
            if (style == QLatin1String("fsBold")) font.setBold(true);
            else if (style == QLatin1String("fsItalic")) font.setItalic(true);
            else if (style == QLatin1String("fsUnderline")) font.setUnderline(true);
            else if (style == QLatin1String("fsStrikeOut")) font.setStrikeOut(true);
            else FailProperty(property, widget, QStringLiteral("unknown font style %1").arg(style));
        }
    } else {
        FailProperty(property, widget, QStringLiteral("unknown property"));
    }
    widget.setFont(font);
}

qint64 Parser::ToInteger(const QObject& object, const QString& property, const FormValue& value)
{
    if (value.kind != FormValue::Integer)
        FailProperty(property, object, QStringLiteral("expected an integer, found %1").arg(value.KindName()));
    // Every stored number of the toolkit is a 32-bit one (signed or not).
    if (value.integer < INT32_MIN || value.integer > qint64(UINT32_MAX))
        FailProperty(property, object, QStringLiteral("integer out of range"));
    return value.integer;
}

bool Parser::ToBool(const QObject& object, const QString& property, const FormValue& value)
{
    if (value.kind == FormValue::Ident && value.text == QLatin1String("True"))
        return true;
    if (value.kind == FormValue::Ident && value.text == QLatin1String("False"))
        return false;
    FailProperty(property, object, QStringLiteral("expected True or False"));
}

QColor Parser::ToColor(const QObject& object, const QString& property, const FormValue& value)
{
    if (value.kind == FormValue::Integer)
        return ColorFromValue(value.integer);
    if (value.kind == FormValue::Ident)
        if (const auto color = ColorFromName(value.text))
            return *color;
    FailProperty(property, object, QStringLiteral("expected a colour"));
}

TPicture Parser::ToPicture(const QObject& object, const QString& property, const FormValue& value)
{
    TPicture picture;
    if (value.kind == FormValue::String) {
        // A named file brings its double-size drawing along when one lies beside it.
        const QString fault = picture.Load(QDir(m_baseDir).filePath(value.text));
        if (!fault.isEmpty())
            FailProperty(property, object, fault);
    } else if (value.kind == FormValue::Binary) {
        QPixmap bitmap;
        if (!bitmap.loadFromData(value.bytes))
            FailProperty(property, object, QStringLiteral("binary data is no picture"));
        picture = bitmap;
    } else {
        FailProperty(property, object, QStringLiteral("expected a picture file name or picture data"));
    }
    return picture;
}

QVariant Parser::Convert(const QObject& object, const QString& property, const QMetaProperty& meta,
                         const FormValue& value)
{
    if (meta.isEnumType()) {
        const QMetaEnum enumerator = meta.enumerator();
        bool ok = false;
        int number = 0;
        if (value.kind == FormValue::Ident && !enumerator.isFlag())
            number = enumerator.keyToValue(value.text.toLatin1(), &ok);
        else if (value.kind == FormValue::Set && enumerator.isFlag())
            number = enumerator.keysToValue(value.items.join(u'|').toLatin1(), &ok);
        if (!ok)
            FailProperty(property, object, QStringLiteral("not a value of %1").arg(QLatin1String(enumerator.name())));
        return number;
    }
    if (meta.metaType() == QMetaType::fromType<TPicture>())
        return QVariant::fromValue(ToPicture(object, property, value));
    switch (meta.metaType().id()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double: {
        const qint64 number = ToInteger(object, property, value);
        if (meta.metaType().id() == QMetaType::Int && number > INT32_MAX)
            FailProperty(property, object, QStringLiteral("integer out of range"));
        QVariant variant(number);
        variant.convert(meta.metaType());
        return variant;
    }
    case QMetaType::Bool:
        return ToBool(object, property, value);
    case QMetaType::QString:
        if (value.kind != FormValue::String)
            FailProperty(property, object, QStringLiteral("expected a string, found %1").arg(value.KindName()));
        return value.text;
    case QMetaType::QStringList:
        if (value.kind != FormValue::List)
            FailProperty(property, object, QStringLiteral("expected a string list, found %1").arg(value.KindName()));
        return value.items;
    case QMetaType::QByteArray:
        if (value.kind != FormValue::Binary)
            FailProperty(property, object, QStringLiteral("expected binary data, found %1").arg(value.KindName()));
        return value.bytes;
    case QMetaType::QColor:
        return ToColor(object, property, value);
    case QMetaType::QPixmap:
        return ToPicture(object, property, value).Bitmap();
    default:
        FailProperty(property, object, QStringLiteral("property type %1 cannot be stored")
                                           .arg(QLatin1String(meta.typeName())));
    }
}

} // namespace

void FormReader::ReadFile(QObject& root, const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw EFormError(QStringLiteral("%1: cannot open the layout resource").arg(path));
    Read(file.readAll(), path, QFileInfo(path).absolutePath(), &root);
}

QObject* FormReader::Read(const QByteArray& text, const QString& fileName, const QString& baseDir, QObject* root)
{
    Parser parser(text, fileName, baseDir);
    return parser.ReadTop(root);
}

} // namespace platform
