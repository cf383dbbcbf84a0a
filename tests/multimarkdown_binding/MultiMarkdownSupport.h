#pragma once

#include "multimarkdown_binding/MultiMarkdown.h"

#include <gtest/gtest.h>

#include <QString>
#include <QXmlStreamReader>

#include <vector>

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

// One row of a conversion table: a small document, the flags (Lumora's own
// unless the row names others), and what its HTML holds.
struct ConversionCase {
    const char* text;
    std::vector<const char*> expected;     // fragments the HTML holds
    std::vector<const char*> absent = {};  // fragments it must not hold
    std::vector<const char*> inOrder = {}; // fragments it holds one after another, in this order
    MultiMarkdown::Extensions extensions = systemExtensions;
    bool wellFormed = true; // false where the writer's own raw HTML may leave it otherwise
};

// Converts every row and checks what it says; a failure names the row.
inline void checkConversions(const std::vector<ConversionCase>& cases)
{
    for (const ConversionCase& c : cases) {
        const QString html = htmlOf(QString::fromUtf8(c.text), c.extensions);
        for (const char* fragment : c.expected)
            EXPECT_TRUE(html.contains(QString::fromUtf8(fragment)))
                << c.text << "\n  wants: " << fragment << "\n  got: " << html.toStdString();
        for (const char* fragment : c.absent)
            EXPECT_FALSE(html.contains(QString::fromUtf8(fragment))) << c.text << "\n  holds: " << fragment;
        qsizetype from = 0;
        for (const char* fragment : c.inOrder) {
            const QString wanted = QString::fromUtf8(fragment);
            const qsizetype at = html.indexOf(wanted, from);
            EXPECT_GE(at, 0) << c.text << "\n  wants, after the fragments before it: " << fragment
                             << "\n  got: " << html.toStdString();
            if (at >= 0) from = at + wanted.size();
        }
        if (c.wellFormed) {
            EXPECT_TRUE(isWellFormed(html)) << c.text << "\n" << html.toStdString();
        }
    }
}

} // namespace lumora::test
