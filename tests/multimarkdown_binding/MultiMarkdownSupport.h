#pragma once

#include "multimarkdown_binding/MultiMarkdown.h"

#include <QString>
#include <QXmlStreamReader>

namespace lumora::test {

inline const MultiMarkdown::Extensions systemExtensions = MultiMarkdown::Extensions::application;

// The HTML of text with the options Lumora's callers use (or others).
inline QString htmlOf(const QString& text, MultiMarkdown::Extensions extensions = systemExtensions)
{
    const std::optional<QString> html = MultiMarkdown::convert(
        text, extensions, MultiMarkdown::OutputFormat::html, MultiMarkdown::LocalizationLanguage::english);
    return html.value_or(QStringLiteral("<nil>"));
}

// Whether the HTML is well formed: every element closed, in order, and
// attributes quoted. Fragments are read inside a root element of their own.
inline bool isWellFormed(const QString& html)
{
    const bool document = html.startsWith(QLatin1String("<!DOCTYPE"));
    QXmlStreamReader reader(document ? html : QStringLiteral("<root>") + html + QStringLiteral("</root>"));
    while (!reader.atEnd()) reader.readNext();
    return !reader.hasError();
}

} // namespace lumora::test
