#pragma once

#include "platform/text/Color.h"

#include <QByteArray>
#include <QString>

#include <cmath>
#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>

namespace lumora {

// The stylesheet document: one base style for all text and a table of named
// styles, one per Markdown element or element part. Stored as JSON:
//
//   {"version": 1, "base": {...style...}, "styles": {"heading": {...}, ...}}
//
// Decoding is strict: a value of the wrong type anywhere rejects the whole
// document, so a stylesheet is either used whole or not at all. Unknown keys
// are ignored at every level.
struct MarkdownStylesheet {
    // Colours are written as {"r", "g", "b", "a"} and passed on unclamped.
    using Color = lumora::Color;

    // Underline and strikethrough styles. The JSON names are "single",
    // "thick", "double", "patternDot" and "patternDash".
    enum class UnderlineStyle { single, thick, doubleLine, patternDot, patternDash };

    // Every field is optional: an absent field means the style does not set it.
    struct Style {
        std::optional<QString> font;
        std::optional<double> size;
        std::optional<double> weight; // normalised: 0 regular, 0.4 bold
        std::optional<bool> italic;   // false sets nothing
        std::optional<bool> bold;     // false sets nothing
        std::optional<UnderlineStyle> underlineStyle;
        std::optional<Color> underlineColor;
        std::optional<Color> foregroundColor;
        std::optional<Color> backgroundColor;
        std::optional<double> kern;
        std::optional<double> obliqueness;
        std::optional<double> shadowRadius;
        std::optional<UnderlineStyle> strikethroughStyle;
        std::optional<Color> strikethroughColor;

        friend bool operator==(const Style&, const Style&) = default;
    };

    // Why a document was rejected, with the path of the offending value
    // ("styles.heading.size: expected a number").
    class DecodingError : public std::runtime_error {
    public:
        explicit DecodingError(const QString& message);
        QString message() const { return QString::fromStdString(what()); }
    };

    std::int64_t version = 1;
    Style base;
    std::map<QString, Style> styles; // by style name, in ascending order

    // Decodes a whole document. Throws DecodingError.
    static MarkdownStylesheet decode(const QByteArray& json);
    // Pretty-printed JSON with sorted keys; absent fields are left out.
    QByteArray encode() const;

    // The JSON name of a style ("double") and back.
    static QString rawValue(UnderlineStyle style);
    static std::optional<UnderlineStyle> underlineStyleFromRawValue(const QString& name);
    // The number a text attribute carries for the style: 1, 2, 9, 256, 512.
    static int attributeValue(UnderlineStyle style);

    // Whether text can be drawn at size: finite and above zero. Stylesheets
    // and preferences are written by hand; any other size counts as absent,
    // so that nothing divides by zero or grows without bound.
    static bool isUsableSize(std::optional<double> size) { return size && std::isfinite(*size) && *size > 0.0; }

    // The bundled stylesheet (resources/Stylesheet.json), decoded once. Its
    // base sets both "font" and "size"; a missing or broken resource stops
    // the program, since nothing could be styled without it.
    static const MarkdownStylesheet& defaultStylesheet();

    friend bool operator==(const MarkdownStylesheet&, const MarkdownStylesheet&) = default;
};

} // namespace lumora
