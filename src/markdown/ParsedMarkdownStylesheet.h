#pragma once

#include "markdown/MarkdownStylesheet.h"
#include "platform/text/Attributes.h"
#include "platform/text/Color.h"
#include "platform/text/Fonts.h"
#include "platform/text/ParagraphStyle.h"

#include <QFont>
#include <QHash>
#include <QString>

#include <optional>

namespace lumora {

// A stylesheet resolved into ready text attributes, so that restyling after a
// keystroke only looks dictionaries up. Made whole by the constructor and
// replaced whole when the text attributes change; once published it is never
// changed (hold it as std::shared_ptr<const ParsedMarkdownStylesheet>).
//
// Printing makes one of its own with the default constructor and sets the
// fields itself.
class ParsedMarkdownStylesheet {
public:
    // Attributes of all styled text: font, text colour and what the base
    // style sets. Always holds a font once constructed from a stylesheet.
    Attributes base;
    // Extra space after a paragraph, in lines (0, 0.5 or 1).
    double paragraphSpacing = 0.0;
    // Line height as a multiple of the font size.
    static constexpr double lineHeightMultiple = 1.7;
    // Left indent of every paragraph, and the negative right indent, in points.
    double markdownHeadIndent = 60.0;
    // One resolved dictionary per named style of the stylesheet. A style holds
    // only what it sets (plus the font and paragraph style that follow from
    // it), never the base attributes.
    QHash<QString, Attributes> styles;
    // The text colour given at construction.
    std::optional<Color> foregroundColor;

    ParsedMarkdownStylesheet() = default;
    // Resolves the stylesheet. The base font falls back to the default
    // stylesheet's font name and size, each on its own; a font that cannot be
    // made is logged and replaced by the monospaced system font.
    ParsedMarkdownStylesheet(const MarkdownStylesheet& stylesheet, const Color& foregroundColor,
                             double paragraphSpacing);
    virtual ~ParsedMarkdownStylesheet();

    ParsedMarkdownStylesheet(const ParsedMarkdownStylesheet&) = default;
    ParsedMarkdownStylesheet& operator=(const ParsedMarkdownStylesheet&) = default;

    // The attributes of one style. Font fields compose in a fixed order
    // (font, size, italic, bold, then weight), each starting from the font
    // so far, else the base font.
    virtual Attributes attributes(const MarkdownStylesheet::Style& style) const;

    // A new paragraph style for text in the given font: line height 1.7
    // times the size, the head indent on both sides and eight tab stops four
    // spaces apart.
    virtual ParagraphStyle paragraphStyle(const QFont& font) const;
};

// The font with the trait (italic, bold or fixed pitch). When its family has
// no such face, the system font of the same size with the trait; when that
// lacks it too, the font itself with the trait requested, which Qt
// synthesises.
QFont withTrait(const QFont& font, fonts::Trait trait);

// The font of the same family and size with the normalised weight (0 regular,
// 0.4 bold).
QFont withWeight(const QFont& font, double weight);

} // namespace lumora
