#include "markdown/ParsedMarkdownStylesheet.h"

#include "platform/text/Shadow.h"

#include <QDebug>
#include <QFontMetricsF>

#include <cmath>

namespace lumora {

namespace {

double defaultBaseSize()
{
    return *MarkdownStylesheet::defaultStylesheet().base.size;
}

QFont requestingTrait(QFont font, fonts::Trait trait)
{
    switch (trait) {
    case fonts::Italic: font.setItalic(true); break;
    case fonts::Bold: font.setWeight(std::max(font.weight(), QFont::Bold)); break;
    case fonts::MonoSpace:
        font.setFixedPitch(true);
        font.setStyleHint(QFont::Monospace);
        break;
    }
    return font;
}

} // namespace

QFont withTrait(const QFont& font, fonts::Trait trait)
{
    if (const auto f = fonts::withTraits(font, trait)) return *f;
    // The family has no such face: the system font of the same size, tried
    // once. When it lacks the face too, the writer's family stays and Qt
    // synthesises what it can (a slanted or emboldened regular face).
    const QFont system = fonts::system(fonts::size(font));
    if (const auto f = fonts::withTraits(system, trait)) return *f;
    return requestingTrait(font, trait);
}

QFont withWeight(const QFont& font, double weight)
{
    return fonts::withNormalizedWeight(font, weight);
}

ParsedMarkdownStylesheet::ParsedMarkdownStylesheet(const MarkdownStylesheet& stylesheet,
                                                   const Color& textColor, double spacing)
    : paragraphSpacing(spacing), foregroundColor(textColor)
{
    const MarkdownStylesheet& fallback = MarkdownStylesheet::defaultStylesheet();
    // Name and size fall back on their own; a size that is zero, negative or
    // not finite counts as absent.
    const QString name = stylesheet.base.font.value_or(*fallback.base.font);
    const double size = MarkdownStylesheet::isUsableSize(stylesheet.base.size) ? *stylesheet.base.size : *fallback.base.size;

    QFont font;
    if (const auto named = fonts::named(name, size)) {
        font = *named;
    } else {
        qWarning().noquote() << QStringLiteral("Error creating font with name ") + name + QStringLiteral(" and size ")
                + QString::number(size) + QStringLiteral(", default to system font.");
        font = fonts::monospacedSystem(size, 0.0);
    }

    base = Attributes{{AttributeKey::Font, font}, {AttributeKey::ForegroundColor, textColor}};
    base.merge(attributes(stylesheet.base));

    styles.reserve(qsizetype(stylesheet.styles.size()));
    for (const auto& [styleName, style] : stylesheet.styles) styles.insert(styleName, attributes(style));
}

ParsedMarkdownStylesheet::~ParsedMarkdownStylesheet() = default;

Attributes ParsedMarkdownStylesheet::attributes(const MarkdownStylesheet::Style& style) const
{
    Attributes result;
    const auto currentFont = [&]() -> QFont {
        if (const QFont* f = result.font()) return *f;
        if (const QFont* f = base.font()) return *f;
        const MarkdownStylesheet& fallback = MarkdownStylesheet::defaultStylesheet();
        return fonts::named(*fallback.base.font, *fallback.base.size).value_or(fonts::system(*fallback.base.size));
    };
    const auto setColor = [&](AttributeKey key, const std::optional<MarkdownStylesheet::Color>& c) {
        if (c) result.set(key, *c);
    };

    // A named font is made at the default stylesheet's size, so a style that
    // names a family without a size keeps the bundled proportions.
    if (style.font) {
        if (const auto f = fonts::named(*style.font, defaultBaseSize())) result.set(AttributeKey::Font, *f);
        else result.remove(AttributeKey::Font);
    }
    if (style.size) {
        const QFont current = currentFont();
        result.set(AttributeKey::Font, MarkdownStylesheet::isUsableSize(style.size) ? fonts::withSize(current, *style.size) : current);
    }
    if (style.italic.value_or(false)) result.set(AttributeKey::Font, withTrait(currentFont(), fonts::Italic));
    if (style.bold.value_or(false)) result.set(AttributeKey::Font, withTrait(currentFont(), fonts::Bold));
    setColor(AttributeKey::ForegroundColor, style.foregroundColor);
    setColor(AttributeKey::BackgroundColor, style.backgroundColor);
    if (style.underlineStyle)
        result.set(AttributeKey::UnderlineStyle, MarkdownStylesheet::attributeValue(*style.underlineStyle));
    setColor(AttributeKey::UnderlineColor, style.underlineColor);
    if (style.kern) result.set(AttributeKey::Kern, *style.kern);
    if (style.obliqueness) result.set(AttributeKey::Obliqueness, *style.obliqueness);
    if (style.weight) result.set(AttributeKey::Font, withWeight(currentFont(), *style.weight));
    if (style.shadowRadius) {
        Shadow shadow;
        shadow.color = style.foregroundColor ? style.foregroundColor : foregroundColor;
        shadow.blurRadius = *style.shadowRadius;
        result.set(AttributeKey::Shadow, shadow);
    }
    if (style.strikethroughStyle)
        result.set(AttributeKey::StrikethroughStyle, MarkdownStylesheet::attributeValue(*style.strikethroughStyle));
    setColor(AttributeKey::StrikethroughColor, style.strikethroughColor);

    if (const QFont* f = result.font()) result.set(AttributeKey::ParagraphStyle, paragraphStyle(*f));
    return result;
}

ParagraphStyle ParsedMarkdownStylesheet::paragraphStyle(const QFont& font) const
{
    const double h = fonts::size(font) * lineHeightMultiple;
    ParagraphStyle style;
    // std::round takes halves away from zero: 24.5 gives 25.
    style.minimumLineHeight = style.maximumLineHeight = std::round(0.9 * h);
    style.lineSpacing = std::round(0.1 * h);
    style.paragraphSpacing = std::round(h * paragraphSpacing);
    style.firstLineHeadIndent = style.headIndent = markdownHeadIndent;
    style.tailIndent = -markdownHeadIndent;
    const double w = 4.0 * QFontMetricsF(font).horizontalAdvance(QStringLiteral(" "));
    style.tabStops.clear();
    for (int i = 1; i <= 8; ++i) style.tabStops.append(i * w + markdownHeadIndent);
    style.defaultTabInterval = w;
    return style;
}

} // namespace lumora
