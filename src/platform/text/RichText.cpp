#include "platform/text/RichText.h"

#include <QTextBlock>
#include <QTextDocument>
#include <QTextFragment>

namespace lumora {

namespace {

bool isMonospaced(const QTextCharFormat& format)
{
    if (format.fontFixedPitch()) return true;
    static const QStringList monospaceFamilies{QStringLiteral("monospace"), QStringLiteral("courier"),
                                               QStringLiteral("courier new"), QStringLiteral("consolas"),
                                               QStringLiteral("menlo"), QStringLiteral("monaco")};
    const QStringList families = format.fontFamilies().toStringList();
    for (const QString& family : families) {
        const QString name = family.trimmed().toLower();
        if (monospaceFamilies.contains(name) || name.contains(QLatin1String(" mono"))) return true;
    }
    return false;
}

Attributes runAttributes(const QTextCharFormat& format)
{
    Attributes attributes;
    const bool bold = format.fontWeight() >= QFont::DemiBold;
    const bool italic = format.fontItalic();
    const bool monospaced = isMonospaced(format);
    if (bold || italic || monospaced) {
        QFont font;
        font.setWeight(bold ? QFont::Bold : QFont::Normal);
        font.setItalic(italic);
        font.setFixedPitch(monospaced);
        attributes.set(AttributeKey::Font, font);
    }
    const bool link = format.isAnchor() && !format.anchorHref().isEmpty();
    if (format.fontUnderline() && !link) attributes.set(AttributeKey::UnderlineStyle, 1);
    if (format.fontStrikeOut()) attributes.set(AttributeKey::StrikethroughStyle, 1);
    return attributes;
}

QString runText(const QString& fragment)
{
    QString text;
    text.reserve(fragment.size());
    for (const QChar c : fragment) {
        switch (c.unicode()) {
        case QChar::ObjectReplacementCharacter: break; // an image
        case QChar::LineSeparator: text += u'\n'; break;
        case QChar::Nbsp: text += u' '; break;
        default: text += c;
        }
    }
    return text;
}

} // namespace

TextStorage attributedStringFromHTML(const QString& html)
{
    QTextDocument document;
    document.setHtml(html);
    TextStorage result;
    result.beginEditing();
    const auto append = [&result](const QString& text, const Attributes& attributes) {
        if (!text.isEmpty()) result.replaceCharacters(Range(result.length(), 0), text, attributes);
    };
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        if (block != document.begin()) append(QStringLiteral("\n"), Attributes());
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (!fragment.isValid() || fragment.charFormat().isImageFormat()) continue;
            append(runText(fragment.text()), runAttributes(fragment.charFormat()));
        }
    }
    result.endEditing();
    return result;
}

} // namespace lumora
