#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <type_traits>

namespace lumora {

// A value type holding one number of a library's enumeration: made from any
// raw value, equal and hashed by it.
template <typename Self, typename Raw>
struct RawCode {
    Raw rawValue = 0;

    constexpr RawCode() = default;
    constexpr explicit RawCode(Raw raw) : rawValue(raw) {}

    friend constexpr bool operator==(Self a, Self b) { return a.rawValue == b.rawValue; }
    friend size_t qHash(Self value, size_t seed = 0) noexcept { return ::qHash(value.rawValue, seed); }
};

// The one door from Lumora to HTML. Every method is static and stateless:
// each call builds its own engine over the text, uses it and lets it go, so
// nothing survives between calls and any thread may call.
//
// The engine is cmark-gfm (tables, strikethrough with a double tilde,
// autolinks) with a layer of our own for the MultiMarkdown syntax writers
// use: metadata and its variables, smart typography in six languages,
// footnotes, citations, glossary entries, abbreviations, CriticMarkup,
// heading labels and cross-references, tables of contents, figures, link
// attributes, definition lists, math, superscripts and subscripts, table
// captions and spans, and raw source.
class MultiMarkdown {
public:
    struct Extensions;
    struct OutputFormat;
    struct LocalizationLanguage;
    struct SmartQuotesLanguage;
    struct TokenType;

    MultiMarkdown() = delete;

    // The text converted to format. HTML is a fragment, or a complete
    // document when the text begins with metadata other than the control
    // keys (or when asked for with `complete`). Nothing (nullopt) for the
    // formats this engine cannot write; see convertToData.
    static std::optional<QString> convert(const QString& text, Extensions extensions,
                                          OutputFormat format, LocalizationLanguage language);

    // The HTML Lumora itself writes, for the preview, export, print and copy
    // as HTML: convert with Extensions::application (smart typography,
    // notes, CriticMarkup, transclusion) to HTML, in English. A fragment, or
    // a complete document when the text begins with metadata other than the
    // control keys.
    static std::optional<QString> applicationHtml(const QString& text);
    // The same for a piece of a text, such as a selection: a piece never
    // begins with metadata, so a first line like "Note: call me" stays text.
    static std::optional<QString> applicationHtmlOfExcerpt(const QString& text);

    // The converted output as bytes: HTML and MultiMarkdown text as UTF-8.
    // The packaged formats (EPUB, ODT, FODT, OPML, ITMZ, TextBundle) and the
    // LaTeX family are not produced: nullopt. No file is ever read or written,
    // directory included.
    static std::optional<QByteArray> convertToData(const QString& text, Extensions extensions,
                                                   OutputFormat format,
                                                   LocalizationLanguage language,
                                                   const QString& directory);

    // True when the text begins with a metadata block.
    static bool hasMetadata(const QString& text, Extensions extensions);

    // The metadata keys in the order they appear (lower-cased, spaces
    // removed, each once); nullopt when the text has no metadata block.
    static std::optional<QStringList> metadataKeys(const QString& text, Extensions extensions);

    // The value of one key (compared lower-cased with spaces removed);
    // nullopt when the key is absent.
    static std::optional<QString> metadataValue(const QString& text, Extensions extensions,
                                                const QString& key);

    // Every key with its value; nullopt when the text has no metadata block.
    static std::optional<QHash<QString, QString>> metadata(const QString& text,
                                                           Extensions extensions);

    // The engine's own version text, e.g.
    // "cmark-gfm 0.29.0.gfm.6 with Lumora MultiMarkdown layer 2.0".
    static QString version();
};

// The parser-extension flags, one bit each, with MultiMarkdown's bit positions.
struct MultiMarkdown::Extensions {
    std::uint64_t rawValue = 0;

    constexpr Extensions() = default;
    constexpr explicit Extensions(std::uint64_t raw) : rawValue(raw) {}
    constexpr Extensions(std::initializer_list<Extensions> flags)
    {
        for (Extensions flag : flags) rawValue |= flag.rawValue;
    }

    static const Extensions compatibility;   // plain Markdown: no metadata, notes, CriticMarkup or labels
    static const Extensions complete;        // always a complete HTML document
    static const Extensions snippet;         // never a complete HTML document
    static const Extensions smart;           // curly quotes, dashes, ellipses
    static const Extensions notes;           // footnotes, citations, glossary, abbreviations
    static const Extensions noLabels;        // no ids on headings
    static const Extensions processHTML;     // accepted; Markdown inside HTML blocks is left as HTML
    static const Extensions noMetadata;      // a leading metadata block is ordinary text
    static const Extensions obfuscate;       // accepted; e-mail addresses are not masked
    static const Extensions critic;          // CriticMarkup
    static const Extensions criticAccept;    // CriticMarkup with every change accepted
    static const Extensions criticReject;    // CriticMarkup with every change rejected
    static const Extensions randomFootnotes; // accepted; notes are numbered in order
    static const Extensions transclude;      // accepted; no file is ever read
    static const Extensions parseOPML;       // accepted; the text is read as Markdown
    static const Extensions parseITMZ;       // accepted; the text is read as Markdown
    static const Extensions randomLabels;    // accepted; labels come from the heading text

    // The flags every HTML output of Lumora uses (see applicationHtml).
    static const Extensions application;

    constexpr bool isEmpty() const { return rawValue == 0; }
    constexpr bool contains(Extensions other) const
    {
        return (rawValue & other.rawValue) == other.rawValue;
    }
    constexpr bool isSubset(Extensions other) const { return other.contains(*this); }
    constexpr bool isSuperset(Extensions other) const { return contains(other); }
    constexpr bool isDisjoint(Extensions other) const { return (rawValue & other.rawValue) == 0; }
    constexpr Extensions united(Extensions other) const { return Extensions(rawValue | other.rawValue); }
    constexpr Extensions intersection(Extensions other) const
    {
        return Extensions(rawValue & other.rawValue);
    }
    constexpr Extensions symmetricDifference(Extensions other) const
    {
        return Extensions(rawValue ^ other.rawValue);
    }
    constexpr Extensions subtracting(Extensions other) const
    {
        return Extensions(rawValue & ~other.rawValue);
    }
    // Adds the flags; true when they were not all there before.
    constexpr bool insert(Extensions other)
    {
        const bool added = !contains(other);
        rawValue |= other.rawValue;
        return added;
    }
    // Removes the flags; the ones that were there, or nullopt when none were.
    constexpr std::optional<Extensions> remove(Extensions other)
    {
        const Extensions present = intersection(other);
        rawValue &= ~other.rawValue;
        return present.isEmpty() ? std::nullopt : std::optional<Extensions>(present);
    }
    // Adds the flags; the ones that were already there, or nullopt.
    constexpr std::optional<Extensions> update(Extensions other)
    {
        const Extensions present = intersection(other);
        rawValue |= other.rawValue;
        return present.isEmpty() ? std::nullopt : std::optional<Extensions>(present);
    }

    friend constexpr Extensions operator|(Extensions a, Extensions b) { return a.united(b); }
    friend constexpr Extensions operator&(Extensions a, Extensions b) { return a.intersection(b); }
    friend constexpr Extensions operator^(Extensions a, Extensions b)
    {
        return a.symmetricDifference(b);
    }
    constexpr Extensions& operator|=(Extensions other) { rawValue |= other.rawValue; return *this; }
    constexpr Extensions& operator&=(Extensions other) { rawValue &= other.rawValue; return *this; }
    constexpr Extensions& operator^=(Extensions other) { rawValue ^= other.rawValue; return *this; }
    friend constexpr bool operator==(Extensions a, Extensions b) = default;
};

inline constexpr MultiMarkdown::Extensions MultiMarkdown::Extensions::compatibility{1ull << 0};
inline constexpr MultiMarkdown::Extensions MultiMarkdown::Extensions::complete{1ull << 1};
inline constexpr MultiMarkdown::Extensions MultiMarkdown::Extensions::snippet{1ull << 2};
inline constexpr MultiMarkdown::Extensions MultiMarkdown::Extensions::smart{1ull << 3};
inline constexpr MultiMarkdown::Extensions MultiMarkdown::Extensions::notes{1ull << 4};
inline constexpr MultiMarkdown::Extensions MultiMarkdown::Extensions::noLabels{1ull << 5};
inline constexpr MultiMarkdown::Extensions MultiMarkdown::Extensions::processHTML{1ull << 6};
inline constexpr MultiMarkdown::Extensions MultiMarkdown::Extensions::noMetadata{1ull << 7};
inline constexpr MultiMarkdown::Extensions MultiMarkdown::Extensions::obfuscate{1ull << 8};
inline constexpr MultiMarkdown::Extensions MultiMarkdown::Extensions::critic{1ull << 9};
inline constexpr MultiMarkdown::Extensions MultiMarkdown::Extensions::criticAccept{1ull << 10};
inline constexpr MultiMarkdown::Extensions MultiMarkdown::Extensions::criticReject{1ull << 11};
inline constexpr MultiMarkdown::Extensions MultiMarkdown::Extensions::randomFootnotes{1ull << 12};
inline constexpr MultiMarkdown::Extensions MultiMarkdown::Extensions::transclude{1ull << 13};
inline constexpr MultiMarkdown::Extensions MultiMarkdown::Extensions::parseOPML{1ull << 14};
inline constexpr MultiMarkdown::Extensions MultiMarkdown::Extensions::parseITMZ{1ull << 15};
inline constexpr MultiMarkdown::Extensions MultiMarkdown::Extensions::randomLabels{1ull << 16};
inline constexpr MultiMarkdown::Extensions MultiMarkdown::Extensions::application{
    smart.rawValue | notes.rawValue | critic.rawValue | transclude.rawValue};

// The output formats, with MultiMarkdown's numbers (not in declaration order).
struct MultiMarkdown::OutputFormat : RawCode<OutputFormat, std::uint16_t> {
    using RawCode::RawCode;

    static const OutputFormat html;
    static const OutputFormat epub;
    static const OutputFormat latex;
    static const OutputFormat memoir;
    static const OutputFormat beamer;
    static const OutputFormat multiMarkdown;
    static const OutputFormat textBundle;
    static const OutputFormat textBundleCompressed;
    static const OutputFormat odt;
    static const OutputFormat fodt;
    static const OutputFormat opml;
    static const OutputFormat itmz;
};

inline constexpr MultiMarkdown::OutputFormat MultiMarkdown::OutputFormat::html{0};
inline constexpr MultiMarkdown::OutputFormat MultiMarkdown::OutputFormat::epub{1};
inline constexpr MultiMarkdown::OutputFormat MultiMarkdown::OutputFormat::latex{2};
inline constexpr MultiMarkdown::OutputFormat MultiMarkdown::OutputFormat::memoir{4};
inline constexpr MultiMarkdown::OutputFormat MultiMarkdown::OutputFormat::beamer{3};
inline constexpr MultiMarkdown::OutputFormat MultiMarkdown::OutputFormat::multiMarkdown{11};
inline constexpr MultiMarkdown::OutputFormat MultiMarkdown::OutputFormat::textBundle{7};
inline constexpr MultiMarkdown::OutputFormat MultiMarkdown::OutputFormat::textBundleCompressed{8};
inline constexpr MultiMarkdown::OutputFormat MultiMarkdown::OutputFormat::odt{6};
inline constexpr MultiMarkdown::OutputFormat MultiMarkdown::OutputFormat::fodt{5};
inline constexpr MultiMarkdown::OutputFormat MultiMarkdown::OutputFormat::opml{9};
inline constexpr MultiMarkdown::OutputFormat MultiMarkdown::OutputFormat::itmz{10};

// The languages of generated words; HTML output uses them for the
// document's lang attribute.
struct MultiMarkdown::LocalizationLanguage : RawCode<LocalizationLanguage, std::uint16_t> {
    using RawCode::RawCode;

    static const LocalizationLanguage english;
    static const LocalizationLanguage spanish;
    static const LocalizationLanguage german;
    static const LocalizationLanguage french;
    static const LocalizationLanguage dutch;
    static const LocalizationLanguage swedish;
    static const LocalizationLanguage hebrew;
};

inline constexpr MultiMarkdown::LocalizationLanguage MultiMarkdown::LocalizationLanguage::english{0};
inline constexpr MultiMarkdown::LocalizationLanguage MultiMarkdown::LocalizationLanguage::spanish{1};
inline constexpr MultiMarkdown::LocalizationLanguage MultiMarkdown::LocalizationLanguage::german{2};
inline constexpr MultiMarkdown::LocalizationLanguage MultiMarkdown::LocalizationLanguage::french{3};
inline constexpr MultiMarkdown::LocalizationLanguage MultiMarkdown::LocalizationLanguage::dutch{4};
inline constexpr MultiMarkdown::LocalizationLanguage MultiMarkdown::LocalizationLanguage::swedish{5};
inline constexpr MultiMarkdown::LocalizationLanguage MultiMarkdown::LocalizationLanguage::hebrew{6};

// The smart-quote styles; no method takes this type.
struct MultiMarkdown::SmartQuotesLanguage : RawCode<SmartQuotesLanguage, std::uint16_t> {
    using RawCode::RawCode;

    static const SmartQuotesLanguage english;
    static const SmartQuotesLanguage dutch;
    static const SmartQuotesLanguage french;
    static const SmartQuotesLanguage german;
    static const SmartQuotesLanguage germanGuillemets;
    static const SmartQuotesLanguage spanish;
    static const SmartQuotesLanguage swedish;
    static const SmartQuotesLanguage unknown; // beyond the known styles
};

inline constexpr MultiMarkdown::SmartQuotesLanguage MultiMarkdown::SmartQuotesLanguage::english{0};
inline constexpr MultiMarkdown::SmartQuotesLanguage MultiMarkdown::SmartQuotesLanguage::dutch{1};
inline constexpr MultiMarkdown::SmartQuotesLanguage MultiMarkdown::SmartQuotesLanguage::french{2};
inline constexpr MultiMarkdown::SmartQuotesLanguage MultiMarkdown::SmartQuotesLanguage::german{3};
inline constexpr MultiMarkdown::SmartQuotesLanguage
    MultiMarkdown::SmartQuotesLanguage::germanGuillemets{4};
inline constexpr MultiMarkdown::SmartQuotesLanguage MultiMarkdown::SmartQuotesLanguage::spanish{5};
inline constexpr MultiMarkdown::SmartQuotesLanguage MultiMarkdown::SmartQuotesLanguage::swedish{6};
inline constexpr MultiMarkdown::SmartQuotesLanguage MultiMarkdown::SmartQuotesLanguage::unknown{7};

inline size_t qHash(MultiMarkdown::Extensions value, size_t seed = 0) noexcept
{
    return ::qHash(quint64(value.rawValue), seed);
}

} // namespace lumora

template <>
struct std::hash<lumora::MultiMarkdown::Extensions> {
    size_t operator()(lumora::MultiMarkdown::Extensions value) const noexcept
    {
        return std::hash<std::uint64_t>()(value.rawValue);
    }
};

template <typename T>
    requires std::is_base_of_v<lumora::RawCode<T, decltype(T::rawValue)>, T>
struct std::hash<T> {
    size_t operator()(T value) const noexcept { return std::hash<decltype(T::rawValue)>()(value.rawValue); }
};

#include "multimarkdown_binding/MultiMarkdownTokenType.h"
