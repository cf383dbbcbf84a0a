#include "platform/files/TextFileCodec.h"

#include "platform/files/NativePath.h"

#include <QFileInfo>

#include <algorithm>

namespace lumora {

namespace {

// How sure ICU must be of a guess before detection takes it. A wide guess
// must be strong: almost any even number of bytes is UTF-16. The Latin
// alphabets beside Western share most letters with it, and ICU names them
// for short Western texts ("résumé naïve" comes out as Latin 2 with 21), so
// they need more than the other scripts; below that the Western fallback
// reads the text.
int neededConfidence(StringEncoding encoding)
{
    if (Encodings::isWideUnicode(encoding)) return 50;
    switch (encoding) {
    case Encoding::isoLatin2:
    case Encoding::isoLatin5:
    case Encoding::windowsCP1250:
    case Encoding::windowsCP1254:
        return 30;
    default:
        return 20;
    }
}

struct Mark {
    const char* bytes;
    qsizetype length;
    StringEncoding encoding;
};

// Longest first: FF FE 00 00 is UTF-32LE's mark and UTF-16LE's mark plus a
// NUL (which UTF-16LE then rejects as not text).
const Mark kMarks[] = {
    {"\xFF\xFE\x00\x00", 4, Encoding::utf32LittleEndian},
    {"\x00\x00\xFE\xFF", 4, Encoding::utf32BigEndian},
    {"\xEF\xBB\xBF", 3, Encoding::utf8},
    {"\xFF\xFE", 2, Encoding::utf16LittleEndian},
    {"\xFE\xFF", 2, Encoding::utf16BigEndian},
};

QString fileLabel(const QString& filePath)
{
    return filePath.isEmpty() ? QString() : NativePath::shownNameOf(filePath);
}

PlatformError notTextError(const QString& filePath)
{
    const QString name = fileLabel(filePath);
    return PlatformError(
        PlatformError::Code::notText,
        name.isEmpty() ? platformText("file.error.notText", "The file isn't a text file.")
                       : platformText("file.error.notText.named", "The file “%1” isn't a text file.").arg(name),
        platformText("file.error.notText.suggestion",
                     "It contains data that no text encoding can read. Lumora opens plain text files, "
                     "such as Markdown documents."),
        filePath);
}

PlatformError damagedError(const QString& filePath, StringEncoding encoding, qsizetype offset)
{
    const QString name = fileLabel(filePath);
    return PlatformError(
        PlatformError::Code::cannotDecode,
        name.isEmpty() ? platformText("file.error.damaged", "The file's text is damaged.")
                       : platformText("file.error.damaged.named", "The text of the file “%1” is damaged.").arg(name),
        platformText("file.error.damaged.suggestion",
                     "The file says it is in %1, but the bytes at position %2 are not valid there. "
                     "Open it in another editor to repair it.")
            .arg(Encodings::displayName(encoding))
            .arg(offset),
        filePath);
}

bool hasC1Bytes(QByteArrayView bytes)
{
    for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b >= 0x80 && b <= 0x9F) return true;
    }
    return false;
}

// UTF-16 (10) or UTF-32 without a mark: the byte order whose high bytes
// hold the NULs (text is mostly low code points), big-endian on a tie. The
// format then names the order, so that writing back gives the same bytes.
StringEncoding withByteOrder(StringEncoding encoding, QByteArrayView bytes)
{
    if (encoding != Encoding::utf16 && encoding != Encoding::utf32) return encoding;
    const qsizetype unit = encoding == Encoding::utf16 ? 2 : 4;
    qsizetype highFirst = 0; // NULs where a big-endian unit has its high byte
    qsizetype highLast = 0;  // NULs where a little-endian unit has it
    for (qsizetype i = 0; i + unit <= bytes.size(); i += unit) {
        highFirst += bytes[i] == '\0';
        highLast += bytes[i + unit - 1] == '\0';
    }
    if (encoding == Encoding::utf16)
        return highLast > highFirst ? Encoding::utf16LittleEndian : Encoding::utf16BigEndian;
    return highLast > highFirst ? Encoding::utf32LittleEndian : Encoding::utf32BigEndian;
}

} // namespace

QByteArray TextFileCodec::byteOrderMark(StringEncoding encoding)
{
    // UTF-16 (10) and UTF-32 write their mark little-endian.
    if (encoding == Encoding::utf16) encoding = Encoding::utf16LittleEndian;
    if (encoding == Encoding::utf32) encoding = Encoding::utf32LittleEndian;
    for (const Mark& mark : kMarks)
        if (mark.encoding == encoding) return QByteArray(mark.bytes, mark.length);
    return QByteArray();
}

PlatformResult<DecodedText> TextFileCodec::read(QByteArrayView bytes, StringEncoding preferred,
                                                const QString& filePath)
{
    // 1. A byte-order mark decides.
    for (const Mark& mark : kMarks) {
        if (!bytes.startsWith(QByteArrayView(mark.bytes, mark.length))) continue;
        qsizetype offset = 0;
        const auto text = Encodings::decode(bytes.sliced(mark.length), mark.encoding, &offset);
        if (text && !text->contains(QChar(0))) return DecodedText{*text, TextFileFormat{mark.encoding, true}};
        if (mark.encoding == Encoding::utf32LittleEndian) continue; // perhaps UTF-16LE after all
        if (text) return notTextError(filePath);
        return damagedError(filePath, mark.encoding, offset + mark.length);
    }

    // NUL bytes belong to UTF-16 and UTF-32 text, or to binary data.
    const bool hasNul = bytes.contains('\0');
    auto attempt = [&](StringEncoding encoding) -> std::optional<DecodedText> {
        if (Encodings::isWideUnicode(encoding) != hasNul) return std::nullopt;
        encoding = withByteOrder(encoding, bytes);
        auto text = Encodings::decode(bytes, encoding);
        if (!text || text->contains(QChar(0))) return std::nullopt;
        return DecodedText{std::move(*text), TextFileFormat{encoding, false}};
    };

    // 2. Valid UTF-8 that is not plain ASCII is UTF-8 text, whatever the
    // preference: a single-byte encoding would decode it too, into other
    // characters ("CafÃ©"), which a save would then write back that way.
    // Text in such an encoding is almost never valid UTF-8 by chance.
    const bool ascii = std::all_of(bytes.begin(), bytes.end(), [](char c) { return (c & 0x80) == 0; });
    if (!ascii) {
        if (auto result = attempt(Encoding::utf8)) return std::move(*result);
    }

    // 3. The preferred encoding.
    const StringEncoding preference = Encodings::usable(preferred);
    if (auto result = attempt(preference)) return std::move(*result);

    // 4. Detection.
    if (preference != Encoding::utf8 && ascii) {
        if (auto result = attempt(Encoding::utf8)) return std::move(*result);
    }
    for (const Encodings::Guess& guess : Encodings::guesses(bytes)) {
        if (guess.encoding == preference || guess.encoding == Encoding::utf8) continue;
        if (guess.confidence < neededConfidence(guess.encoding)) continue;
        if (auto result = attempt(guess.encoding)) return std::move(*result);
    }
    if (!hasNul) {
        const StringEncoding western = hasC1Bytes(bytes) ? Encoding::windowsCP1252 : Encoding::isoLatin1;
        if (auto result = attempt(western)) return std::move(*result);
    }
    return notTextError(filePath);
}

PlatformResult<EncodedText> TextFileCodec::write(QStringView text, TextFileFormat format, TextFileFormat fallback)
{
    auto attempt = [&](TextFileFormat requested, qsizetype* errorOffset) -> std::optional<EncodedText> {
        const StringEncoding encoding = Encodings::usable(requested.encoding);
        auto bytes = Encodings::encode(text, encoding, errorOffset);
        if (!bytes) return std::nullopt;
        // 10 and UTF-32 bring their own mark from the encoder; encodings
        // without one leave it out.
        const bool ownMark = Encodings::alwaysHasByteOrderMark(encoding);
        const QByteArray mark = !ownMark && requested.byteOrderMark ? byteOrderMark(encoding) : QByteArray();
        bytes->prepend(mark);
        return EncodedText{std::move(*bytes), TextFileFormat{encoding, ownMark || !mark.isEmpty()}, false};
    };

    qsizetype offset = 0;
    if (auto result = attempt(format, &offset)) return std::move(*result);
    if (Encodings::usable(fallback.encoding) != Encodings::usable(format.encoding)) {
        if (auto result = attempt(fallback, &offset)) {
            result->usedFallback = true;
            return std::move(*result);
        }
    }

    // Only a broken surrogate keeps UTF-8 from holding a text.
    const bool pair = offset + 1 < text.size() && text[offset].isHighSurrogate() && text[offset + 1].isLowSurrogate();
    const QString character = text.mid(offset, pair ? 2 : 1).toString();
    const char32_t code = pair ? QChar::surrogateToUcs4(text[offset], text[offset + 1])
                               : (offset < text.size() ? text[offset].unicode() : 0);
    const QString codeText = QStringLiteral("U+%1").arg(qulonglong(code), 4, 16, QLatin1Char('0')).toUpper();
    const bool broken = !pair && offset < text.size() && text[offset].isSurrogate();
    PlatformError error(
        PlatformError::Code::cannotEncode,
        broken ? platformText("file.error.brokenCharacter",
                              "The document contains a broken character (%1) at position %2.")
                     .arg(codeText)
                     .arg(offset)
               : platformText("file.error.cannotEncode", "The character “%1” (%2) at position %3 can't be saved in %4.")
                     .arg(character, codeText)
                     .arg(offset)
                     .arg(Encodings::displayName(Encodings::usable(fallback.encoding))),
        broken ? platformText("file.error.brokenCharacter.suggestion", "Delete that character and save again.")
               : platformText("file.error.cannotEncode.suggestion",
                              "Choose another encoding, or remove the character and save again."));
    return error;
}

} // namespace lumora
