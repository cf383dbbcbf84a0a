#pragma once

#include "platform/files/Encodings.h"
#include "platform/foundation/PlatformError.h"

#include <QByteArray>
#include <QString>

namespace lumora {

// How a text file's bytes are laid out: the encoding, and whether a
// byte-order mark stands first. A file read and written back with the
// format its reading reported comes out byte for byte as it was.
struct TextFileFormat {
    StringEncoding encoding = Encoding::utf8;
    bool byteOrderMark = false;

    // The format of a new file in that encoding: a mark only for UTF-16 (10)
    // and UTF-32, which always have one; none for UTF-8.
    static TextFileFormat forEncoding(StringEncoding encoding)
    {
        return TextFileFormat{encoding, Encodings::alwaysHasByteOrderMark(encoding)};
    }

    friend bool operator==(const TextFileFormat&, const TextFileFormat&) = default;
};

struct DecodedText {
    QString text; // without the byte-order mark; line endings exactly as in the file
    TextFileFormat format;
};

struct EncodedText {
    QByteArray bytes;
    TextFileFormat format;     // what was written
    bool usedFallback = false; // the requested encoding could not hold the text
};

// Reading and writing the plain-text file format: text in one encoding, no
// header, line endings untouched. Everything here is strict: a byte
// sequence that the encoding cannot decode fails that attempt instead of
// turning into other characters, and a character that the encoding cannot
// hold fails that attempt instead of turning into "?".
class TextFileCodec {
public:
    // Reads in this order, taking the first attempt that decodes:
    //  1. A byte-order mark (UTF-8, UTF-16 LE/BE, UTF-32 LE/BE) decides the
    //     encoding; text behind a mark that does not decode is an error.
    //  2. UTF-8, when the bytes are valid UTF-8 and not all ASCII: whatever
    //     the preference, which would otherwise read them as other characters
    //     when it is a single-byte encoding (and damage them at the next save).
    //  3. The preferred encoding (the "saveEncoding" preference; an unknown
    //     number counts as UTF-8): it decides among texts that are not valid
    //     UTF-8, and names the encoding of plain ASCII.
    //  4. Detection: strict UTF-8, then ICU's confident guesses that decode, then
    //     Windows Latin 1 (when bytes 0x80-0x9F occur) or ISO Latin 1.
    // Bytes with NUL in them are only ever read as UTF-16 or UTF-32 (so the
    // preference and detection skip the narrow encodings for them, and the
    // wide ones for files without NUL); a text that would contain U+0000 is
    // not text. UTF-16 (10) and UTF-32 without a mark are read in the byte
    // order where the NULs fall on the high bytes. Binary data fails with
    // PlatformError::Code::notText. The format reported names the encoding
    // the bytes are really in (UTF-16LE with a mark rather than 10), so that
    // writing with it reproduces them.
    // filePath only names the file in error messages.
    static PlatformResult<DecodedText> read(QByteArrayView bytes, StringEncoding preferred,
                                            const QString& filePath = {});

    // Encodes in the format (its mark included), else, when the encoding
    // cannot hold a character, in the fallback (UTF-8 without a mark unless
    // told otherwise); an unknown encoding counts as UTF-8. When neither
    // holds the text (only a broken surrogate does that to UTF-8), the error
    // names the character and its position. Never depends on the locale.
    static PlatformResult<EncodedText> write(QStringView text, TextFileFormat format,
                                             TextFileFormat fallback = TextFileFormat{});

    // The byte-order mark of a Unicode encoding; empty for the others.
    static QByteArray byteOrderMark(StringEncoding encoding);
};

} // namespace lumora
