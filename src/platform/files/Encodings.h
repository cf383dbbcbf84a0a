#pragma once

#include "platform/files/StringEncoding.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringView>

#include <optional>

namespace lumora {

// Further identifiers in the same numbering (a legacy encoding's number is
// 0x80000000 plus its code in the platform's external-encoding table), for
// the encodings that detection commonly finds in files.
namespace Encoding {
inline constexpr StringEncoding isoLatinCyrillic = 0x80000205; // ISO 8859-5
inline constexpr StringEncoding isoLatinArabic = 0x80000206;   // ISO 8859-6
inline constexpr StringEncoding isoLatinGreek = 0x80000207;    // ISO 8859-7
inline constexpr StringEncoding isoLatinHebrew = 0x80000208;   // ISO 8859-8
inline constexpr StringEncoding isoLatin5 = 0x80000209;        // ISO 8859-9
inline constexpr StringEncoding windowsHebrew = 0x80000505;    // Windows-1255
inline constexpr StringEncoding windowsArabic = 0x80000506;    // Windows-1256
inline constexpr StringEncoding gb18030 = 0x80000632;
inline constexpr StringEncoding eucKorean = 0x80000940;
inline constexpr StringEncoding koi8R = 0x80000a02;
inline constexpr StringEncoding big5 = 0x80000a03;
} // namespace Encoding

// The registry of text encodings: their numbers, ICU converters and names,
// with strict conversion (a byte sequence that cannot be decoded, or a
// character that cannot be encoded, is a failure; nothing is ever replaced
// by "?" or U+FFFD) and ICU's charset detection.
//
// Numbers without a converter here (NEXTSTEP, Symbol, non-lossy ASCII) and
// numbers nobody knows are never offered and never crash: usable() turns
// them into UTF-8.
class Encodings {
public:
    // The encodings offered to the user, in menu order (Unicode first, then
    // by script); every one of them has a converter.
    static const QList<StringEncoding>& available();
    static bool isAvailable(StringEncoding encoding);

    // The encoding itself when it is available, else UTF-8.
    static StringEncoding usable(StringEncoding encoding);

    // The name shown to the user, e.g. "Unicode (UTF-8)", looked up in the
    // localisation table under "encoding.<name>" with an English default.
    // An unknown number gets a name that says so and shows the number.
    static QString displayName(StringEncoding encoding);

    // ICU's name for the converter; empty when there is none.
    static QByteArray converterName(StringEncoding encoding);
    // The encoding of an ICU or IANA charset name (as detection reports it).
    static std::optional<StringEncoding> fromConverterName(const char* name);

    // UTF-16 and UTF-32 in any byte order: their files hold NUL bytes.
    static bool isWideUnicode(StringEncoding encoding);
    // UTF-16 with a byte-order mark (10) and UTF-32 (its sibling): writing
    // always puts the mark first (little-endian, the order of the machines
    // this runs on); reading honours a mark and otherwise reads big-endian.
    static bool alwaysHasByteOrderMark(StringEncoding encoding);

    // Strict conversions. decode: the whole byte sequence as text in that
    // encoding, or none when a byte sequence is invalid there (errorOffset:
    // the byte offset where it starts). encode: the text's bytes, or none when
    // a character cannot be represented (errorOffset: its UTF-16 offset). An
    // encoding without a converter fails both at offset 0. decode does not
    // strip a UTF-8 byte-order mark; UTF-16/UTF-32 (10 and its sibling)
    // consume theirs.
    static std::optional<QString> decode(QByteArrayView bytes, StringEncoding encoding,
                                         qsizetype* errorOffset = nullptr);
    static std::optional<QByteArray> encode(QStringView text, StringEncoding encoding,
                                            qsizetype* errorOffset = nullptr);

    // ICU's charset guesses for the bytes, best first, mapped to registry
    // encodings; guesses the registry lacks are left out.
    struct Guess {
        StringEncoding encoding;
        int confidence; // 0 to 100
    };
    static QList<Guess> guesses(QByteArrayView bytes);
};

} // namespace lumora
