#include "markdown/MarkdownStylesheet.h"

#include "platform/foundation/Bundle.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace lumora {

namespace {

using UnderlineStyle = MarkdownStylesheet::UnderlineStyle;

constexpr std::array<std::pair<UnderlineStyle, const char*>, 5> kUnderlineNames{{
    {UnderlineStyle::single, "single"},
    {UnderlineStyle::thick, "thick"},
    {UnderlineStyle::doubleLine, "double"},
    {UnderlineStyle::patternDot, "patternDot"},
    {UnderlineStyle::patternDash, "patternDash"},
}};

[[noreturn]] void fail(const QString& path, const QString& what)
{
    throw MarkdownStylesheet::DecodingError(path.isEmpty() ? what : path + QStringLiteral(": ") + what);
}

QString join(const QString& path, const QString& key)
{
    return path.isEmpty() ? key : path + QLatin1Char('.') + key;
}

const char* typeName(const QJsonValue& v)
{
    switch (v.type()) {
    case QJsonValue::Null: return "null";
    case QJsonValue::Bool: return "true or false";
    case QJsonValue::Double: return "a number";
    case QJsonValue::String: return "a string";
    case QJsonValue::Array: return "an array";
    case QJsonValue::Object: return "an object";
    default: return "nothing";
    }
}

[[noreturn]] void wrongType(const QString& path, const char* expected, const QJsonValue& found)
{
    fail(path, QStringLiteral("expected %1, found %2").arg(QLatin1String(expected), QLatin1String(typeName(found))));
}

double readNumber(const QJsonValue& v, const QString& path)
{
    if (!v.isDouble()) wrongType(path, "a number", v);
    return v.toDouble();
}

// Optional style fields: a missing key and null both leave the field absent.
template <typename T, typename Read>
void readOptional(const QJsonObject& o, const char* key, const QString& path, std::optional<T>& field, Read read)
{
    const QJsonValue v = o.value(QLatin1String(key));
    if (v.isUndefined() || v.isNull()) return;
    field = read(v, join(path, QLatin1String(key)));
}

MarkdownStylesheet::Color readColor(const QJsonValue& v, const QString& path)
{
    if (!v.isObject()) wrongType(path, "a colour object with r, g, b and a", v);
    const QJsonObject o = v.toObject();
    MarkdownStylesheet::Color c;
    double* fields[] = {&c.r, &c.g, &c.b, &c.a};
    const char* names[] = {"r", "g", "b", "a"};
    for (int i = 0; i < 4; ++i) {
        const QJsonValue component = o.value(QLatin1String(names[i]));
        if (component.isUndefined()) fail(path, QStringLiteral("the colour lacks its \"%1\" component").arg(QLatin1String(names[i])));
        *fields[i] = readNumber(component, join(path, QLatin1String(names[i])));
    }
    return c;
}

UnderlineStyle readUnderline(const QJsonValue& v, const QString& path)
{
    if (!v.isString()) wrongType(path, "a string", v);
    if (const auto style = MarkdownStylesheet::underlineStyleFromRawValue(v.toString())) return *style;
    fail(path, QStringLiteral("\"%1\" is not one of single, thick, double, patternDot, patternDash").arg(v.toString()));
}

MarkdownStylesheet::Style readStyle(const QJsonValue& value, const QString& path)
{
    if (!value.isObject()) wrongType(path, "a style object", value);
    const QJsonObject o = value.toObject();
    MarkdownStylesheet::Style s;
    const auto string = [](const QJsonValue& v, const QString& p) {
        if (!v.isString()) wrongType(p, "a string", v);
        return v.toString();
    };
    const auto boolean = [](const QJsonValue& v, const QString& p) {
        if (!v.isBool()) wrongType(p, "true or false", v);
        return v.toBool();
    };
    readOptional(o, "font", path, s.font, string);
    readOptional(o, "size", path, s.size, readNumber);
    readOptional(o, "weight", path, s.weight, readNumber);
    readOptional(o, "italic", path, s.italic, boolean);
    readOptional(o, "bold", path, s.bold, boolean);
    readOptional(o, "underlineStyle", path, s.underlineStyle, readUnderline);
    readOptional(o, "underlineColor", path, s.underlineColor, readColor);
    readOptional(o, "foregroundColor", path, s.foregroundColor, readColor);
    readOptional(o, "backgroundColor", path, s.backgroundColor, readColor);
    readOptional(o, "kern", path, s.kern, readNumber);
    readOptional(o, "obliqueness", path, s.obliqueness, readNumber);
    readOptional(o, "shadowRadius", path, s.shadowRadius, readNumber);
    readOptional(o, "strikethroughStyle", path, s.strikethroughStyle, readUnderline);
    readOptional(o, "strikethroughColor", path, s.strikethroughColor, readColor);
    return s;
}

QJsonValue required(const QJsonObject& o, const char* key)
{
    const QJsonValue v = o.value(QLatin1String(key));
    if (v.isUndefined() || v.isNull())
        fail(QString(), QStringLiteral("The stylesheet lacks \"%1\"").arg(QLatin1String(key)));
    return v;
}

QJsonObject colorObject(const MarkdownStylesheet::Color& c)
{
    return QJsonObject{{"r", c.r}, {"g", c.g}, {"b", c.b}, {"a", c.a}};
}

QJsonObject styleObject(const MarkdownStylesheet::Style& s)
{
    QJsonObject o;
    if (s.font) o.insert("font", *s.font);
    if (s.size) o.insert("size", *s.size);
    if (s.weight) o.insert("weight", *s.weight);
    if (s.italic) o.insert("italic", *s.italic);
    if (s.bold) o.insert("bold", *s.bold);
    if (s.underlineStyle) o.insert("underlineStyle", MarkdownStylesheet::rawValue(*s.underlineStyle));
    if (s.underlineColor) o.insert("underlineColor", colorObject(*s.underlineColor));
    if (s.foregroundColor) o.insert("foregroundColor", colorObject(*s.foregroundColor));
    if (s.backgroundColor) o.insert("backgroundColor", colorObject(*s.backgroundColor));
    if (s.kern) o.insert("kern", *s.kern);
    if (s.obliqueness) o.insert("obliqueness", *s.obliqueness);
    if (s.shadowRadius) o.insert("shadowRadius", *s.shadowRadius);
    if (s.strikethroughStyle) o.insert("strikethroughStyle", MarkdownStylesheet::rawValue(*s.strikethroughStyle));
    if (s.strikethroughColor) o.insert("strikethroughColor", colorObject(*s.strikethroughColor));
    return o;
}

} // namespace

MarkdownStylesheet::DecodingError::DecodingError(const QString& message)
    : std::runtime_error(message.toStdString())
{
}

MarkdownStylesheet MarkdownStylesheet::decode(const QByteArray& json)
{
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError)
        fail(QString(), QStringLiteral("Not valid JSON (%1 at byte %2)").arg(error.errorString()).arg(error.offset));
    if (!doc.isObject()) fail(QString(), QStringLiteral("The stylesheet must be a JSON object"));
    const QJsonObject top = doc.object();

    MarkdownStylesheet sheet;
    const QJsonValue version = required(top, "version");
    const double v = readNumber(version, QStringLiteral("version"));
    // Integral and exactly representable as a 64-bit integer.
    if (!std::isfinite(v) || std::floor(v) != v || std::fabs(v) >= 9223372036854775808.0)
        fail(QStringLiteral("version"), QStringLiteral("expected a whole number"));
    sheet.version = std::int64_t(v);

    sheet.base = readStyle(required(top, "base"), QStringLiteral("base"));

    const QJsonValue styles = required(top, "styles");
    if (!styles.isObject()) wrongType(QStringLiteral("styles"), "an object of styles", styles);
    const QJsonObject table = styles.toObject();
    for (auto it = table.begin(); it != table.end(); ++it)
        sheet.styles.emplace(it.key(), readStyle(it.value(), join(QStringLiteral("styles"), it.key())));
    return sheet;
}

QByteArray MarkdownStylesheet::encode() const
{
    // QJsonObject keeps its keys in ascending order, which gives the sorted
    // written form at every level.
    QJsonObject table;
    for (const auto& [name, style] : styles) table.insert(name, styleObject(style));
    const QJsonObject top{
        {"version", double(version)},
        {"base", styleObject(base)},
        {"styles", table},
    };
    return QJsonDocument(top).toJson(QJsonDocument::Indented);
}

QString MarkdownStylesheet::rawValue(UnderlineStyle style)
{
    for (const auto& [s, name] : kUnderlineNames)
        if (s == style) return QLatin1String(name);
    return {};
}

std::optional<MarkdownStylesheet::UnderlineStyle> MarkdownStylesheet::underlineStyleFromRawValue(const QString& name)
{
    for (const auto& [s, n] : kUnderlineNames)
        if (name == QLatin1String(n)) return s;
    return std::nullopt;
}

int MarkdownStylesheet::attributeValue(UnderlineStyle style)
{
    switch (style) {
    case UnderlineStyle::single: return 1;
    case UnderlineStyle::thick: return 2;
    case UnderlineStyle::doubleLine: return 9;
    case UnderlineStyle::patternDot: return 256;
    case UnderlineStyle::patternDash: return 512;
    }
    return 1;
}

const MarkdownStylesheet& MarkdownStylesheet::defaultStylesheet()
{
    static const MarkdownStylesheet sheet = [] {
        const QByteArray bytes = Bundle::resourceData(QStringLiteral("Stylesheet"), QStringLiteral("json"));
        try {
            MarkdownStylesheet s = decode(bytes);
            if (!s.base.font || !isUsableSize(s.base.size))
                throw DecodingError(QStringLiteral("Its base style must set \"font\" and a positive \"size\""));
            return s;
        } catch (const DecodingError& e) {
            std::fprintf(stderr, "Lumora: the bundled stylesheet Stylesheet.json cannot be used: %s. "
                                 "The installation is damaged.\n", e.what());
            std::abort();
        }
    }();
    return sheet;
}

} // namespace lumora
