#include "multimarkdown_binding/MultiMarkdown.h"

#include "multimarkdown_binding/DialectRenderer.h"
#include "multimarkdown_binding/DialectSource.h"
#include "multimarkdown_binding/EngineText.h"
#include "multimarkdown_binding/MetadataBlock.h"

#include <functional>
#include <string_view>


namespace lumora {

namespace {

using Extensions = MultiMarkdown::Extensions;

constexpr std::string_view layerVersion = "Lumora MultiMarkdown layer 2.0";

bool readsMetadata(Extensions extensions)
{
    return !extensions.contains(Extensions::noMetadata) && !extensions.contains(Extensions::compatibility);
}

MetadataBlock metadataOf(const QString& text, Extensions extensions)
{
    if (!readsMetadata(extensions)) return {};
    return MetadataBlock::parse(engineTextFromString(text));
}

QString toQString(std::string_view text)
{
    return stringFromEngineText(text);
}

std::string_view languageCode(MultiMarkdown::LocalizationLanguage language)
{
    switch (language.rawValue) {
    case 1: return "es";
    case 2: return "de";
    case 3: return "fr";
    case 4: return "nl";
    case 5: return "sv";
    case 6: return "he";
    default: return "en";
    }
}

NoteLanguage noteLanguageOf(MultiMarkdown::LocalizationLanguage language)
{
    switch (language.rawValue) {
    case 1: return NoteLanguage::spanish;
    case 2: return NoteLanguage::german;
    case 3: return NoteLanguage::french;
    case 4: return NoteLanguage::dutch;
    case 5: return NoteLanguage::swedish;
    default: return NoteLanguage::english;
    }
}

// "de", "fr-CH", "Swedish" (any case, spaces ignored): one of the
// languages notes are written in; nothing for others.
std::optional<NoteLanguage> noteLanguageNamed(std::string_view name)
{
    std::string key;
    for (char c : name)
        if (c != ' ' && c != '\t' && c != '\n') key += asciiLower(c);
    auto is = [&](std::string_view code, std::string_view word) {
        return key == code || key == word || (key.size() > code.size() && key.substr(0, code.size()) == code
                                              && (key[code.size()] == '-' || key[code.size()] == '_'));
    };
    if (is("en", "english")) return NoteLanguage::english;
    if (is("es", "spanish")) return NoteLanguage::spanish;
    if (is("de", "german")) return NoteLanguage::german;
    if (is("fr", "french")) return NoteLanguage::french;
    if (is("nl", "dutch")) return NoteLanguage::dutch;
    if (is("sv", "swedish")) return NoteLanguage::swedish;
    return std::nullopt;
}

dialect::QuotesLanguage quotesOf(NoteLanguage language)
{
    switch (language) {
    case NoteLanguage::spanish: return dialect::QuotesLanguage::spanish;
    case NoteLanguage::german: return dialect::QuotesLanguage::german;
    case NoteLanguage::french: return dialect::QuotesLanguage::french;
    case NoteLanguage::dutch: return dialect::QuotesLanguage::dutch;
    case NoteLanguage::swedish: return dialect::QuotesLanguage::swedish;
    default: return dialect::QuotesLanguage::english;
    }
}

// A complete HTML document around body, with the metadata in its head.
std::string completeDocument(std::string_view body, const MetadataBlock& metadata,
                             MultiMarkdown::LocalizationLanguage language)
{
    const std::vector<MetadataBlock::Entry> entries = metadata.distinctEntries();
    auto valueOf = [&](std::string_view key) -> const std::string* {
        for (const MetadataBlock::Entry& entry : entries)
            if (entry.key == key) return &entry.value;
        return nullptr;
    };

    std::string html;
    html.reserve(body.size() + 512);
    html += "<!DOCTYPE html>\n<html lang=\"";
    const std::string* lang = valueOf("language");
    appendEscapedHtml(html, lang && !trimmedSpaces(*lang).empty() ? trimmedSpaces(*lang)
                                                                 : languageCode(language));
    html += "\">\n<head>\n<meta charset=\"utf-8\"/>\n";
    if (const std::string* title = valueOf("title")) {
        html += "<title>";
        appendEscapedHtml(html, *title);
        html += "</title>\n";
    }
    if (const std::string* css = valueOf("css")) {
        html += "<link type=\"text/css\" rel=\"stylesheet\" href=\"";
        appendEscapedHtml(html, *css);
        html += "\"/>\n";
    }
    for (const MetadataBlock::Entry& entry : entries) {
        if (entry.key == "title" || entry.key == "css" || entry.key == "htmlheader" || entry.key == "xhtmlheader"
            || entry.key == "htmlfooter" || MetadataBlock::isControlKey(entry.key))
            continue;
        html += "<meta name=\"";
        appendEscapedHtml(html, entry.key);
        html += "\" content=\"";
        appendEscapedHtml(html, entry.value);
        html += "\"/>\n";
    }
    // The writer's own HTML for the head and the end of the body, as written.
    for (std::string_view key : {std::string_view("xhtmlheader"), std::string_view("htmlheader")}) {
        if (const std::string* header = valueOf(key)) {
            html += *header;
            html += '\n';
        }
    }
    html += "</head>\n<body>\n\n";
    html += body;
    if (const std::string* footer = valueOf("htmlfooter")) {
        html += '\n';
        html += *footer;
        html += '\n';
    }
    html += "\n</body>\n</html>\n";
    return html;
}

// The HTML of text, handed to take (which may read it only while it is
// called).
void convertToHtml(const QString& text, Extensions extensions, MultiMarkdown::LocalizationLanguage language,
                   const std::function<void(std::string_view html)>& take)
{
    const bool compatible = extensions.contains(Extensions::compatibility);
    DialectSource::Options sourceOptions;
    sourceOptions.metadata = readsMetadata(extensions);
    sourceOptions.notes = extensions.contains(Extensions::notes) && !compatible;
    sourceOptions.critic = (extensions.contains(Extensions::critic) || extensions.contains(Extensions::criticAccept)
                            || extensions.contains(Extensions::criticReject))
        && !compatible;
    sourceOptions.smart = extensions.contains(Extensions::smart);
    sourceOptions.dialect = !compatible;
    const std::string engineText = engineTextFromString(text);
    const DialectSource source = DialectSource::prepare(engineText, sourceOptions);

    DialectRenderer::Options renderOptions;
    renderOptions.smart = extensions.contains(Extensions::smart);
    renderOptions.notes = sourceOptions.notes;
    renderOptions.critic = sourceOptions.critic;
    renderOptions.criticAccept = extensions.contains(Extensions::criticAccept);
    renderOptions.criticReject = extensions.contains(Extensions::criticReject);
    renderOptions.labels = !extensions.contains(Extensions::noLabels) && !compatible;
    renderOptions.headingShift = source.metadata().headingShift();
    renderOptions.dialect = !compatible;
    renderOptions.metadata = &source.metadata();
    renderOptions.citations = !source.metadata().value("bibtex");
    // The language of the document, as "language" names it or else as
    // the caller asks, gives the words added to notes and the quotes,
    // unless "quotes language" names other quotes.
    renderOptions.language = noteLanguageOf(language);
    if (const std::optional<std::string> name = source.metadata().value("language")) {
        if (const std::optional<NoteLanguage> named = noteLanguageNamed(*name)) renderOptions.language = *named;
    }
    renderOptions.quotes = quotesOf(renderOptions.language);
    for (std::string_view key : {std::string_view("quoteslanguage"), std::string_view("language")}) {
        if (const std::optional<std::string> name = source.metadata().value(key)) {
            if (const std::optional<dialect::QuotesLanguage> quotes = dialect::quotesLanguageNamed(*name)) {
                renderOptions.quotes = *quotes;
                break;
            }
        }
    }
    bool complete = source.metadata().hasDocumentKeys();
    if (extensions.contains(Extensions::complete)) complete = true;
    if (extensions.contains(Extensions::snippet)) complete = false;
    DialectRenderer::renderHtml(source, renderOptions, [&](std::string_view body) {
        if (complete) take(completeDocument(body, source.metadata(), language));
        else take(body);
    });
}

} // namespace

std::optional<QString> MultiMarkdown::convert(const QString& text, Extensions extensions, OutputFormat format,
                                              LocalizationLanguage language)
{
    if (format == OutputFormat::html) {
        QString html;
        convertToHtml(text, extensions, language, [&](std::string_view bytes) { html = toQString(bytes); });
        return html;
    }
    // MultiMarkdown text out is the text in: nothing is transcluded.
    if (format == OutputFormat::multiMarkdown) return text;
    return std::nullopt;
}

std::optional<QString> MultiMarkdown::applicationHtml(const QString& text)
{
    return convert(text, Extensions::application, OutputFormat::html, LocalizationLanguage::english);
}

std::optional<QString> MultiMarkdown::applicationHtmlOfExcerpt(const QString& text)
{
    return convert(text, Extensions::application | Extensions::noMetadata, OutputFormat::html,
                   LocalizationLanguage::english);
}

std::optional<QByteArray> MultiMarkdown::convertToData(const QString& text, Extensions extensions,
                                                       OutputFormat format, LocalizationLanguage language,
                                                       const QString& directory)
{
    Q_UNUSED(directory);
    if (format == OutputFormat::html) {
        QByteArray html;
        convertToHtml(text, extensions, language,
                      [&](std::string_view bytes) { html = QByteArray(bytes.data(), qsizetype(bytes.size())); });
        return html;
    }
    if (format == OutputFormat::multiMarkdown) return text.toUtf8();
    return std::nullopt;
}

bool MultiMarkdown::hasMetadata(const QString& text, Extensions extensions)
{
    return metadataOf(text, extensions).isPresent();
}

std::optional<QStringList> MultiMarkdown::metadataKeys(const QString& text, Extensions extensions)
{
    const MetadataBlock metadata = metadataOf(text, extensions);
    if (!metadata.isPresent()) return std::nullopt;
    QStringList keys;
    for (const std::string& key : metadata.keys()) keys.append(toQString(key));
    return keys;
}

std::optional<QString> MultiMarkdown::metadataValue(const QString& text, Extensions extensions, const QString& key)
{
    const MetadataBlock metadata = metadataOf(text, extensions);
    const std::optional<std::string> value = metadata.value(engineTextFromString(key));
    if (!value) return std::nullopt;
    return toQString(*value);
}

std::optional<QHash<QString, QString>> MultiMarkdown::metadata(const QString& text, Extensions extensions)
{
    // Keys are read with the caller's flags; values as the library reads them
    // for this query, with snippet, smart and notes (which never hide them).
    const MetadataBlock metadata = metadataOf(text, extensions);
    if (!metadata.isPresent()) return std::nullopt;
    QHash<QString, QString> result;
    for (const MetadataBlock::Entry& entry : metadata.entries())
        result.insert(toQString(entry.key), toQString(entry.value));
    return result;
}

QString MultiMarkdown::version()
{
    return toQString(DialectRenderer::engineVersion() + " with " + std::string(layerVersion));
}

} // namespace lumora
