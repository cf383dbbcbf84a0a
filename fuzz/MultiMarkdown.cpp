// Fuzzes the MultiMarkdown conversion: any text must convert without a
// crash, a hang or undefined behaviour, and no internal marker may reach the
// output.
//
// Input: the first byte picks how the rest becomes text (UTF-8, or raw
// UTF-16 units so that unpaired surrogates and NUL get through) and the
// second picks the flags (mostly the ones Lumora uses).
//
// The seeds named long-* are one character or construct repeated to about
// 100 KB (carets, tildes, brackets, pipes, quotes, quote markers, terms,
// headings under a table of contents, notes...): a scan that started again at
// every one of them would show there as a timeout.
//
//   make fuzz
//   build/fuzz/fuzz/fuzz_MultiMarkdown -dict=fuzz/MultiMarkdown.dict fuzz/corpus/MultiMarkdown
#include "multimarkdown_binding/DialectMarkers.h"
#include "multimarkdown_binding/MultiMarkdown.h"
#include "multimarkdown_binding/SourceReading.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

using lumora::MultiMarkdown;

namespace {

MultiMarkdown::Extensions flagsFor(uint8_t selector)
{
    const MultiMarkdown::Extensions system = MultiMarkdown::Extensions::application;
    switch (selector % 8) {
    case 0: return system | MultiMarkdown::Extensions::criticAccept;
    case 1: return system | MultiMarkdown::Extensions::criticReject;
    case 2: return system | MultiMarkdown::Extensions::noLabels | MultiMarkdown::Extensions::complete;
    case 3: return MultiMarkdown::Extensions(selector) | MultiMarkdown::Extensions::notes;
    default: return system;
    }
}

// The conversion's private markers are control characters; none of them, nor
// any other control character but the white space a text may hold, may reach
// the HTML.
void checkNoMarkers(const QString& html)
{
    for (QChar c : html) {
        const char16_t u = c.unicode();
        if (u < 0x20 && lumora::dialect::isMarker(static_cast<unsigned char>(u))) {
            std::fprintf(stderr, "private marker U+%04X in the output\n", unsigned(u));
            std::abort();
        }
        if (u < 0x20 && u != u'\n' && u != u'\t' && u != 0x0B && u != 0x0C) {
            std::fprintf(stderr, "control character U+%04X in the output\n", unsigned(u));
            std::abort();
        }
    }
}

// The places a reading of the text gives lie inside the text, in order and
// apart, as the editing commands that use them take for granted.
void checkStretches(const std::vector<lumora::TextStretch>& stretches, qsizetype textLength)
{
    qsizetype previousEnd = 0;
    for (const lumora::TextStretch& stretch : stretches) {
        if (stretch.start < previousEnd || stretch.length <= 0 || stretch.end() > textLength) {
            std::fprintf(stderr, "stretch %lld+%lld out of place (previous end %lld, text %lld)\n",
                         (long long)stretch.start, (long long)stretch.length, (long long)previousEnd,
                         (long long)textLength);
            std::abort();
        }
        previousEnd = stretch.end();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2) return 0;
    const uint8_t mode = data[0];
    const MultiMarkdown::Extensions extensions = flagsFor(data[1]);
    data += 2;
    size -= 2;

    QString text;
    if (mode & 1) {
        text = QString(reinterpret_cast<const QChar*>(data), qsizetype(size / 2));
    } else {
        text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    }

    const std::optional<QString> html = MultiMarkdown::convert(
        text, extensions, MultiMarkdown::OutputFormat::html, MultiMarkdown::LocalizationLanguage::english);
    if (!html) std::abort();
    checkNoMarkers(*html);
    if (mode & 4) {
        const std::optional<QByteArray> data = MultiMarkdown::convertToData(
            text, extensions, MultiMarkdown::OutputFormat::html, MultiMarkdown::LocalizationLanguage::english, QString());
        if (!data || QString::fromUtf8(*data) != *html) std::abort();
    }

    if (mode & 2) {
        const std::optional<QStringList> keys = MultiMarkdown::metadataKeys(text, extensions);
        const std::optional<QHash<QString, QString>> values = MultiMarkdown::metadata(text, extensions);
        if (keys.has_value() != values.has_value()) std::abort();
        if (keys && !keys->isEmpty() && !MultiMarkdown::metadataValue(text, extensions, keys->first())) std::abort();
    }
    if (mode & 8) {
        const lumora::SourceReading reading(text);
        checkStretches(reading.literalStretches(), text.size());
        checkStretches(reading.noteDefinitions(), text.size());
    }
    return 0;
}
