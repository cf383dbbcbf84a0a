#include "platform/files/Encodings.h"

#include "platform/foundation/PlatformError.h"

#include <unicode/ucnv.h>
#include <unicode/ucsdet.h>

#include <algorithm>
#include <memory>

namespace lumora {

namespace {

struct Entry {
    StringEncoding encoding;
    const char* converter; // nullptr: no converter on this platform
    const char* key;       // localisation key
    const char* english;
};

// Menu order: Unicode, then Western, then by script.
const Entry kEntries[] = {
    {Encoding::utf8, "UTF-8", "encoding.utf8", "Unicode (UTF-8)"},
    {Encoding::utf16, "UTF-16", "encoding.utf16", "Unicode (UTF-16)"},
    {Encoding::utf16BigEndian, "UTF-16BE", "encoding.utf16be", "Unicode (UTF-16BE)"},
    {Encoding::utf16LittleEndian, "UTF-16LE", "encoding.utf16le", "Unicode (UTF-16LE)"},
    {Encoding::utf32, "UTF-32", "encoding.utf32", "Unicode (UTF-32)"},
    {Encoding::utf32BigEndian, "UTF-32BE", "encoding.utf32be", "Unicode (UTF-32BE)"},
    {Encoding::utf32LittleEndian, "UTF-32LE", "encoding.utf32le", "Unicode (UTF-32LE)"},
    {Encoding::ascii, "US-ASCII", "encoding.ascii", "Western (ASCII)"},
    {Encoding::isoLatin1, "ISO-8859-1", "encoding.isoLatin1", "Western (ISO Latin 1)"},
    {Encoding::windowsCP1252, "windows-1252", "encoding.windows1252", "Western (Windows Latin 1)"},
    {Encoding::macOSRoman, "macintosh", "encoding.macRoman", "Western (Mac OS Roman)"},
    {Encoding::nextStep, nullptr, "encoding.nextStep", "Western (NextStep)"},
    {Encoding::nonLossyASCII, nullptr, "encoding.nonLossyASCII", "Non-lossy ASCII"},
    {Encoding::symbol, nullptr, "encoding.symbol", "Symbol"},
    {Encoding::isoLatin2, "ISO-8859-2", "encoding.isoLatin2", "Central European (ISO Latin 2)"},
    {Encoding::windowsCP1250, "windows-1250", "encoding.windows1250", "Central European (Windows Latin 2)"},
    {Encoding::windowsCP1251, "windows-1251", "encoding.windows1251", "Cyrillic (Windows)"},
    {Encoding::isoLatinCyrillic, "ISO-8859-5", "encoding.isoCyrillic", "Cyrillic (ISO 8859-5)"},
    {Encoding::koi8R, "KOI8-R", "encoding.koi8r", "Cyrillic (KOI8-R)"},
    {Encoding::windowsCP1253, "windows-1253", "encoding.windows1253", "Greek (Windows)"},
    {Encoding::isoLatinGreek, "ISO-8859-7", "encoding.isoGreek", "Greek (ISO 8859-7)"},
    {Encoding::windowsCP1254, "windows-1254", "encoding.windows1254", "Turkish (Windows Latin 5)"},
    {Encoding::isoLatin5, "ISO-8859-9", "encoding.isoLatin5", "Turkish (ISO Latin 5)"},
    {Encoding::windowsHebrew, "windows-1255", "encoding.windows1255", "Hebrew (Windows)"},
    {Encoding::isoLatinHebrew, "ISO-8859-8", "encoding.isoHebrew", "Hebrew (ISO 8859-8)"},
    {Encoding::windowsArabic, "windows-1256", "encoding.windows1256", "Arabic (Windows)"},
    {Encoding::isoLatinArabic, "ISO-8859-6", "encoding.isoArabic", "Arabic (ISO 8859-6)"},
    {Encoding::japaneseEUC, "EUC-JP", "encoding.eucJP", "Japanese (EUC)"},
    {Encoding::shiftJIS, "Shift_JIS", "encoding.shiftJIS", "Japanese (Shift JIS)"},
    {Encoding::iso2022JP, "ISO-2022-JP", "encoding.iso2022JP", "Japanese (ISO 2022-JP)"},
    {Encoding::gb18030, "GB18030", "encoding.gb18030", "Simplified Chinese (GB 18030)"},
    {Encoding::big5, "Big5", "encoding.big5", "Traditional Chinese (Big 5)"},
    {Encoding::eucKorean, "EUC-KR", "encoding.eucKR", "Korean (EUC)"},
};

const Entry* entryFor(StringEncoding encoding)
{
    for (const Entry& e : kEntries)
        if (e.encoding == encoding) return &e;
    return nullptr;
}

struct ConverterCloser {
    void operator()(UConverter* c) const { ucnv_close(c); }
};
using ConverterPtr = std::unique_ptr<UConverter, ConverterCloser>;

// A converter that stops at the first invalid or unmappable sequence.
ConverterPtr openStrict(const char* name)
{
    UErrorCode status = U_ZERO_ERROR;
    ConverterPtr cnv(ucnv_open(name, &status));
    if (U_FAILURE(status)) return nullptr;
    ucnv_setToUCallBack(cnv.get(), UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    ucnv_setFromUCallBack(cnv.get(), UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    ucnv_setFallback(cnv.get(), false);
    if (U_FAILURE(status)) return nullptr;
    return cnv;
}

bool converterOpens(const char* name)
{
    return name && openStrict(name) != nullptr;
}

// Writing UTF-16 (10) and UTF-32 puts a little-endian mark first, whatever
// the machine's own byte order.
const char* encodingConverter(const Entry& e, QByteArray* prefix)
{
    if (e.encoding == Encoding::utf16) {
        *prefix = QByteArray("\xFF\xFE", 2);
        return "UTF-16LE";
    }
    if (e.encoding == Encoding::utf32) {
        *prefix = QByteArray("\xFF\xFE\x00\x00", 4);
        return "UTF-32LE";
    }
    return e.converter;
}

} // namespace

const QList<StringEncoding>& Encodings::available()
{
    static const QList<StringEncoding> list = [] {
        QList<StringEncoding> result;
        for (const Entry& e : kEntries)
            if (converterOpens(e.converter)) result.append(e.encoding);
        return result;
    }();
    return list;
}

bool Encodings::isAvailable(StringEncoding encoding)
{
    return available().contains(encoding);
}

StringEncoding Encodings::usable(StringEncoding encoding)
{
    return isAvailable(encoding) ? encoding : Encoding::utf8;
}

QString Encodings::displayName(StringEncoding encoding)
{
    if (const Entry* e = entryFor(encoding)) return platformText(e->key, e->english);
    return platformText("encoding.unknown", "Unknown encoding (%1)").arg(encoding);
}

QByteArray Encodings::converterName(StringEncoding encoding)
{
    const Entry* e = entryFor(encoding);
    return e && e->converter ? QByteArray(e->converter) : QByteArray();
}

std::optional<StringEncoding> Encodings::fromConverterName(const char* name)
{
    if (!name) return std::nullopt;
    // Hebrew in logical order reads with the same table as visual order.
    if (ucnv_compareNames(name, "ISO-8859-8-I") == 0) return Encoding::isoLatinHebrew;
    for (const Entry& e : kEntries)
        if (e.converter && ucnv_compareNames(name, e.converter) == 0) return e.encoding;
    return std::nullopt;
}

bool Encodings::isWideUnicode(StringEncoding encoding)
{
    switch (encoding) {
    case Encoding::utf16:
    case Encoding::utf16BigEndian:
    case Encoding::utf16LittleEndian:
    case Encoding::utf32:
    case Encoding::utf32BigEndian:
    case Encoding::utf32LittleEndian:
        return true;
    default:
        return false;
    }
}

bool Encodings::alwaysHasByteOrderMark(StringEncoding encoding)
{
    return encoding == Encoding::utf16 || encoding == Encoding::utf32;
}

std::optional<QString> Encodings::decode(QByteArrayView bytes, StringEncoding encoding, qsizetype* errorOffset)
{
    if (errorOffset) *errorOffset = 0;
    const Entry* e = entryFor(encoding);
    ConverterPtr cnv = e && e->converter ? openStrict(e->converter) : nullptr;
    if (!cnv) return std::nullopt;
    if (bytes.isEmpty()) return QString();

    const char* source = bytes.data();
    const char* const sourceEnd = source + bytes.size();
    // No converter here yields more UTF-16 units than it reads bytes, but a
    // full buffer is handled anyway.
    QString out(bytes.size() + 16, Qt::Uninitialized);
    qsizetype written = 0;
    UErrorCode status = U_ZERO_ERROR;
    for (;;) {
        UChar* const begin = reinterpret_cast<UChar*>(out.data());
        UChar* target = begin + written;
        status = U_ZERO_ERROR;
        ucnv_toUnicode(cnv.get(), &target, begin + out.size(), &source, sourceEnd, nullptr, true, &status);
        written = target - begin;
        if (status != U_BUFFER_OVERFLOW_ERROR) break;
        out.resize(out.size() * 2);
    }
    if (U_FAILURE(status)) {
        if (errorOffset) {
            char invalid[32];
            int8_t length = sizeof invalid;
            UErrorCode ignored = U_ZERO_ERROR;
            ucnv_getInvalidChars(cnv.get(), invalid, &length, &ignored);
            *errorOffset = (source - bytes.data()) - (U_SUCCESS(ignored) ? length : 0);
        }
        return std::nullopt;
    }
    out.truncate(written);
    return out;
}

std::optional<QByteArray> Encodings::encode(QStringView text, StringEncoding encoding, qsizetype* errorOffset)
{
    if (errorOffset) *errorOffset = 0;
    const Entry* e = entryFor(encoding);
    if (!e) return std::nullopt;
    QByteArray prefix;
    const char* name = encodingConverter(*e, &prefix);
    ConverterPtr cnv = name ? openStrict(name) : nullptr;
    if (!cnv) return std::nullopt;

    const UChar* source = reinterpret_cast<const UChar*>(text.utf16());
    const UChar* const start = source;
    const UChar* const sourceEnd = source + text.size();
    QByteArray out(prefix.size() + text.size() + text.size() / 2 + 16, Qt::Uninitialized);
    std::copy(prefix.cbegin(), prefix.cend(), out.begin());
    qsizetype written = prefix.size();
    UErrorCode status = U_ZERO_ERROR;
    for (;;) {
        char* const begin = out.data();
        char* target = begin + written;
        status = U_ZERO_ERROR;
        ucnv_fromUnicode(cnv.get(), &target, begin + out.size(), &source, sourceEnd, nullptr, true, &status);
        written = target - begin;
        if (status != U_BUFFER_OVERFLOW_ERROR) break;
        out.resize(out.size() * 2);
    }
    if (U_FAILURE(status)) {
        if (errorOffset) {
            UChar invalid[8];
            int8_t length = 8;
            UErrorCode ignored = U_ZERO_ERROR;
            ucnv_getInvalidUChars(cnv.get(), invalid, &length, &ignored);
            *errorOffset = (source - start) - (U_SUCCESS(ignored) ? length : 0);
        }
        return std::nullopt;
    }
    out.truncate(written);
    return out;
}

QList<Encodings::Guess> Encodings::guesses(QByteArrayView bytes)
{
    QList<Guess> result;
    if (bytes.isEmpty()) return result;
    UErrorCode status = U_ZERO_ERROR;
    UCharsetDetector* detector = ucsdet_open(&status);
    if (U_FAILURE(status)) return result;
    // ICU looks at a bounded prefix of the text in any case.
    const qsizetype length = std::min<qsizetype>(bytes.size(), 1 << 20);
    ucsdet_setText(detector, bytes.data(), int32_t(length), &status);
    int32_t count = 0;
    const UCharsetMatch** matches = ucsdet_detectAll(detector, &count, &status);
    if (U_SUCCESS(status)) {
        for (int32_t i = 0; i < count; ++i) {
            UErrorCode s = U_ZERO_ERROR;
            const char* name = ucsdet_getName(matches[i], &s);
            const int confidence = ucsdet_getConfidence(matches[i], &s);
            if (U_FAILURE(s)) continue;
            if (const auto encoding = fromConverterName(name)) {
                const bool seen = std::any_of(result.cbegin(), result.cend(),
                                              [&](const Guess& g) { return g.encoding == *encoding; });
                if (!seen) result.append(Guess{*encoding, confidence});
            }
        }
    }
    ucsdet_close(detector);
    return result;
}

} // namespace lumora
