#include "platform/files/NativePath.h"

#include <sys/stat.h>
#include <unistd.h>

namespace lumora {

namespace {

constexpr char16_t kRawBase = 0xDC00; // a kept byte b is U+DC00 + b (b >= 0x80)
constexpr char16_t kReplacement = 0xFFFD;

bool isRawUnit(char16_t unit) { return unit >= 0xDC80 && unit <= 0xDCFF; }

// The length of the valid UTF-8 sequence at p (at most n bytes), and its
// code point; 0 when the bytes there are not one.
int validSequence(const uchar* p, qsizetype n, char32_t& codePoint)
{
    const uchar b = p[0];
    int length = 0;
    char32_t cp = 0;
    char32_t minimum = 0;
    if (b < 0x80) {
        codePoint = b;
        return 1;
    } else if ((b & 0xE0) == 0xC0) {
        length = 2;
        cp = b & 0x1F;
        minimum = 0x80;
    } else if ((b & 0xF0) == 0xE0) {
        length = 3;
        cp = b & 0x0F;
        minimum = 0x800;
    } else if ((b & 0xF8) == 0xF0) {
        length = 4;
        cp = b & 0x07;
        minimum = 0x10000;
    } else {
        return 0;
    }
    if (n < length) return 0;
    for (int i = 1; i < length; ++i) {
        if ((p[i] & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (p[i] & 0x3F);
    }
    // Overlong forms, surrogates and what lies beyond Unicode are not UTF-8.
    if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    codePoint = cp;
    return length;
}

void appendUtf8(QByteArray& out, char32_t cp)
{
    if (cp < 0x80) {
        out.append(char(cp));
    } else if (cp < 0x800) {
        out.append(char(0xC0 | (cp >> 6)));
        out.append(char(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.append(char(0xE0 | (cp >> 12)));
        out.append(char(0x80 | ((cp >> 6) & 0x3F)));
        out.append(char(0x80 | (cp & 0x3F)));
    } else {
        out.append(char(0xF0 | (cp >> 18)));
        out.append(char(0x80 | ((cp >> 12) & 0x3F)));
        out.append(char(0x80 | ((cp >> 6) & 0x3F)));
        out.append(char(0x80 | (cp & 0x3F)));
    }
}

bool hasSurrogates(QStringView text)
{
    for (QChar c : text)
        if (c.isSurrogate()) return true;
    return false;
}

struct stat statOf(const QString& path, bool follow, bool* ok)
{
    struct stat st {};
    const QByteArray bytes = NativePath::encode(path);
    *ok = !bytes.isEmpty() && (follow ? ::stat(bytes.constData(), &st) : ::lstat(bytes.constData(), &st)) == 0;
    return st;
}

} // namespace

QByteArray NativePath::encode(QStringView path)
{
    if (!hasSurrogates(path)) return path.toUtf8();
    QByteArray out;
    out.reserve(path.size() * 3);
    for (qsizetype i = 0; i < path.size(); ++i) {
        const char16_t unit = path[i].unicode();
        if (QChar::isHighSurrogate(unit) && i + 1 < path.size() && QChar::isLowSurrogate(path[i + 1].unicode())) {
            appendUtf8(out, QChar::surrogateToUcs4(unit, path[i + 1].unicode()));
            ++i;
        } else if (isRawUnit(unit)) {
            out.append(char(unit - kRawBase));
        } else if (QChar::isSurrogate(unit)) {
            appendUtf8(out, kReplacement); // cannot come from a name on disk
        } else {
            appendUtf8(out, unit);
        }
    }
    return out;
}

QString NativePath::decode(QByteArrayView bytes)
{
    const auto* p = reinterpret_cast<const uchar*>(bytes.data());
    const qsizetype n = bytes.size();
    bool ascii = true;
    for (qsizetype i = 0; i < n && ascii; ++i) ascii = p[i] < 0x80;
    if (ascii) return QString::fromLatin1(bytes.data(), n);
    QString out;
    out.reserve(n);
    for (qsizetype i = 0; i < n;) {
        char32_t cp = 0;
        const int length = validSequence(p + i, n - i, cp);
        if (length == 0) {
            out.append(QChar(char16_t(kRawBase + p[i])));
            ++i;
            continue;
        }
        if (QChar::requiresSurrogates(cp)) {
            out.append(QChar(QChar::highSurrogate(cp)));
            out.append(QChar(QChar::lowSurrogate(cp)));
        } else {
            out.append(QChar(char16_t(cp)));
        }
        i += length;
    }
    return out;
}

bool NativePath::hasRawBytes(QStringView path)
{
    for (qsizetype i = 0; i < path.size(); ++i) {
        const char16_t unit = path[i].unicode();
        if (QChar::isHighSurrogate(unit) && i + 1 < path.size() && QChar::isLowSurrogate(path[i + 1].unicode())) {
            ++i;
            continue;
        }
        if (isRawUnit(unit)) return true;
    }
    return false;
}

QString NativePath::shown(const QString& path)
{
    if (!hasSurrogates(path)) return path;
    QString out = path;
    for (qsizetype i = 0; i < out.size(); ++i) {
        const char16_t unit = out[i].unicode();
        if (QChar::isHighSurrogate(unit) && i + 1 < out.size() && QChar::isLowSurrogate(out[i + 1].unicode())) {
            ++i;
            continue;
        }
        if (QChar::isSurrogate(unit)) out[i] = QChar(kReplacement);
    }
    return out;
}

QString NativePath::shownName(const QString& name)
{
    QString out = shown(name);
    for (QChar& c : out) {
        switch (const char16_t u = c.unicode()) {
        case u':': c = QLatin1Char('/'); break;
        case 0x0A: case 0x0B: case 0x0C: case 0x0D: case 0x85: case 0x2028: case 0x2029:
            c = QChar(char16_t(0x00B6));
            break;
        default:
            if (u < 0x20 || (u >= 0x7F && u <= 0x9F)) c = QChar(kReplacement);
        }
    }
    return out;
}

QString NativePath::shownNameOf(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const QString name = path.mid(slash + 1);
    return name.isEmpty() ? shown(path) : shownName(name);
}

QString NativePath::diskName(const QString& typedName)
{
    QString name = typedName;
    return name.replace(QLatin1Char('/'), QLatin1Char(':'));
}

QUrl NativePath::fileUrl(const QString& path)
{
    if (!hasRawBytes(path)) return QUrl::fromLocalFile(path);
    // The bytes percent-encoded, as other programs write such a name.
    const QByteArray encoded = encode(path).toPercentEncoding("/");
    return QUrl::fromEncoded(QByteArrayLiteral("file://") + encoded, QUrl::StrictMode);
}

QString NativePath::fromFileUrl(const QUrl& url)
{
    if (!url.isLocalFile()) return {};
    const QByteArray encodedPath = url.path(QUrl::FullyEncoded).toLatin1();
    return decode(QByteArray::fromPercentEncoding(encodedPath));
}

bool NativePath::exists(const QString& path)
{
    bool ok = false;
    statOf(path, false, &ok);
    return ok;
}

bool NativePath::isFolder(const QString& path)
{
    bool ok = false;
    const struct stat st = statOf(path, true, &ok);
    return ok && S_ISDIR(st.st_mode);
}

bool NativePath::isRegularFile(const QString& path)
{
    bool ok = false;
    const struct stat st = statOf(path, true, &ok);
    return ok && S_ISREG(st.st_mode);
}

bool NativePath::isWritable(const QString& path)
{
    const QByteArray bytes = encode(path);
    return !bytes.isEmpty() && ::access(bytes.constData(), W_OK) == 0;
}

} // namespace lumora
