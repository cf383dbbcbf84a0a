#include "platform/text/RichText.h"

#include "platform/text/SafeTextDocument.h"

#include <QRegularExpression>
#include <QSet>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFragment>
#include <QTextList>
#include <QTextTable>

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

bool inTable(const QTextBlock& block) { return block.isValid() && QTextCursor(block).currentTable(); }

// Qt keeps an empty paragraph before and after every table, which the page
// never showed.
bool isTableFiller(const QTextBlock& block)
{
    if (block.length() > 1 || inTable(block)) return false;
    return inTable(block.previous()) || inTable(block.next());
}

// Qt's reader keeps no first number of a numbered list (<ol start="3">).
// A style sheet hands it over instead: for each first number the page uses,
// a rule that gives its lists a number prefix saying it, which nothing shows.
constexpr QLatin1StringView startPrefix("lumora-start:");

QString listStartStyleSheet(const QString& html)
{
    static const QRegularExpression start(QStringLiteral("^<ol\\b.*?\\sstart\\s*=\\s*([\"']?)(\\d{1,9})\\1(?=[\\s/]|$)"),
                                          QRegularExpression::CaseInsensitiveOption
                                              | QRegularExpression::DotMatchesEverythingOption);
    QSet<QString> values;
    QString sheet;
    // Tag by tag, each looked at once: a page without a ">" after an "<ol"
    // ends the search.
    for (qsizetype at = 0; (at = html.indexOf(QLatin1StringView("<ol"), at, Qt::CaseInsensitive)) >= 0;) {
        const qsizetype end = html.indexOf(u'>', at);
        if (end < 0) break;
        const QRegularExpressionMatch match = start.match(QStringView(html).sliced(at, end - at));
        at = end;
        if (!match.hasMatch() || values.size() >= 1000) continue;
        const QString value = match.captured(2);
        if (values.contains(value)) continue;
        values.insert(value);
        sheet += QStringLiteral("ol[start=\"%1\"] { -qt-list-number-prefix: \"%2%3\"; }\n")
                     .arg(value, startPrefix, QString::number(value.toInt()));
    }
    return sheet;
}

// The number of a list's first item.
int firstNumber(const QTextListFormat& format)
{
    const QString prefix = format.numberPrefix();
    if (!prefix.startsWith(startPrefix)) return 1;
    return prefix.sliced(startPrefix.size()).toInt();
}

// The list item a paragraph is, as a paragraph style that says only that.
Attributes listItemAttributes(const QTextBlock& block)
{
    const QTextList* list = block.textList();
    if (!list) return Attributes();
    const QTextListFormat::Style style = list->format().style();
    ParagraphStyle paragraph;
    paragraph.listItem = ParagraphStyle::ListItem{
        std::max(1, list->format().indent()),
        style != QTextListFormat::ListDisc && style != QTextListFormat::ListCircle
            && style != QTextListFormat::ListSquare,
        list->itemNumber(block) + firstNumber(list->format()), list->objectIndex()};
    Attributes attributes;
    attributes.set(AttributeKey::ParagraphStyle, paragraph);
    return attributes;
}

} // namespace

TextStorage attributedStringFromHTML(const QString& html)
{
    // Qt reads <s> as struck through but neither <del>, which Markdown
    // converters write, nor <strike>, which office programs write.
    static const QRegularExpression deleted(QStringLiteral("<(/?)(?:del|strike)\\b"),
                                            QRegularExpression::CaseInsensitiveOption);
    QString source = html;
    source.replace(deleted, QStringLiteral("<\\1s"));
    // Pasted HTML comes from anywhere: it loads nothing, not even a style
    // sheet or a background it names.
    SafeTextDocument document;
    document.setDefaultStyleSheet(listStartStyleSheet(source));
    document.setHtml(source);
    TextStorage result;
    result.beginEditing();
    const auto append = [&result](const QString& text, const Attributes& attributes) {
        if (!text.isEmpty()) result.replaceCharacters(Range(result.length(), 0), text, attributes);
    };
    bool first = true;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        if (isTableFiller(block)) continue;
        if (!std::exchange(first, false)) append(QStringLiteral("\n"), Attributes());
        const Attributes item = listItemAttributes(block);
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (!fragment.isValid() || fragment.charFormat().isImageFormat()) continue;
            Attributes attributes = runAttributes(fragment.charFormat());
            if (const ParagraphStyle* style = item.paragraphStyle()) attributes.set(AttributeKey::ParagraphStyle, *style);
            append(runText(fragment.text()), attributes);
        }
    }
    result.endEditing();
    return result;
}

} // namespace lumora
