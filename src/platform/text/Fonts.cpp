#include "platform/text/Fonts.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QSet>

#include <algorithm>
#include <array>
#include <cmath>
#include <utility>

namespace lumora::fonts {

namespace {

// Points are drawn as pixels at 96 dpi: Qt's point size is 3/4 of that.
constexpr double kQtPointsPerPoint = 72.0 / 96.0;

// Normalised weights of the named weights, paired with Qt's weights.
constexpr std::array<std::pair<double, int>, 9> kWeights{{
    {-0.8, QFont::Thin},
    {-0.6, QFont::ExtraLight},
    {-0.4, QFont::Light},
    {0.0, QFont::Normal},
    {0.23, QFont::Medium},
    {0.3, QFont::DemiBold},
    {0.4, QFont::Bold},
    {0.56, QFont::ExtraBold},
    {0.62, QFont::Black},
}};

// The database's name for a family, or, for a family it lists once per
// foundry ("Nimbus Sans [urw]"), the name without the foundry: Qt then picks
// the best face among all the foundries' faces.
QString matchingFamily(const QString& name)
{
    const QStringList all = QFontDatabase::families();
    for (const QString& f : all)
        if (f.compare(name, Qt::CaseInsensitive) == 0) return f;
    for (const QString& f : all) {
        const QString plain = familyWithoutFoundry(f);
        if (plain != f && plain.compare(name, Qt::CaseInsensitive) == 0) return plain;
    }
    return {};
}

bool familyHasStyle(const QString& family, bool italic, bool bold)
{
    const QStringList styles = QFontDatabase::styles(family);
    for (const QString& s : styles) {
        // Fontconfig reports oblique faces (DejaVu Sans "Oblique") as not
        // italic, yet Qt selects them for an italic request.
        const bool i = QFontDatabase::italic(family, s) || s.contains(QLatin1String("Oblique"), Qt::CaseInsensitive);
        const bool b = QFontDatabase::weight(family, s) >= QFont::DemiBold;
        if ((!italic || i) && (!bold || b)) return true;
    }
    return false;
}

} // namespace

double size(const QFont& font)
{
    if (font.pixelSize() > 0) return font.pixelSize();
    return font.pointSizeF() / kQtPointsPerPoint;
}

QFont withSize(QFont font, double s)
{
    if (!(s > 0.0) || !std::isfinite(s)) s = 12.0;
    font.setPointSizeF(s * kQtPointsPerPoint);
    return font;
}

std::optional<QFont> named(const QString& name, double s)
{
    const QString trimmed = name.trimmed();
    if (trimmed.isEmpty()) return std::nullopt;
    if (const QString family = matchingFamily(trimmed); !family.isEmpty()) {
        QFont f(family);
        f.setStyleHint(QFont::AnyStyle, QFont::PreferQuality);
        return withSize(f, s);
    }
    // "Family Style": try each split point from the right.
    const QStringList words = trimmed.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (qsizetype cut = words.size() - 1; cut > 0; --cut) {
        const QString family = matchingFamily(words.mid(0, cut).join(QLatin1Char(' ')));
        if (family.isEmpty()) continue;
        const QString style = words.mid(cut).join(QLatin1Char(' '));
        for (const QString& st : QFontDatabase::styles(family)) {
            if (st.compare(style, Qt::CaseInsensitive) == 0) {
                QFont f = QFontDatabase::font(family, st, 12);
                return withSize(f, s);
            }
        }
    }
    return std::nullopt;
}

QFont system(double s)
{
    return withSize(QFontDatabase::systemFont(QFontDatabase::GeneralFont), s);
}

QFont monospacedSystem(double s, double weight)
{
    QFont f = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    f.setStyleHint(QFont::Monospace);
    f.setFixedPitch(true);
    f = withNormalizedWeight(f, weight);
    return withSize(f, s);
}

unsigned symbolicTraits(const QFont& font)
{
    unsigned traits = 0;
    const QFontInfo info(font);
    const QString family = info.family();
    if (info.italic() && familyHasStyle(family, true, false)) traits |= Italic;
    if (info.weight() >= QFont::DemiBold && familyHasStyle(family, false, true)) traits |= Bold;
    if (info.fixedPitch() || QFontDatabase::isFixedPitch(family)) traits |= MonoSpace;
    return traits;
}

std::optional<QFont> withTraits(const QFont& font, unsigned traits)
{
    QFont f = font;
    if (traits & Italic) f.setItalic(true);
    if (traits & Bold) f.setWeight(std::max(f.weight(), QFont::Bold));
    if (traits & MonoSpace) {
        f.setFixedPitch(true);
        f.setStyleHint(QFont::Monospace);
    }
    const unsigned wanted = traits & (Italic | Bold | MonoSpace);
    if ((symbolicTraits(f) & wanted) != wanted) return std::nullopt;
    return f;
}

double normalizedWeight(const QFont& font)
{
    const int w = font.weight();
    double best = 0.0;
    int bestDistance = 1000;
    for (const auto& [n, q] : kWeights) {
        const int d = std::abs(q - w);
        if (d < bestDistance) {
            bestDistance = d;
            best = n;
        }
    }
    return best;
}

QFont::Weight qtWeightFromNormalized(double weight)
{
    if (!std::isfinite(weight)) return QFont::Normal;
    if (weight <= kWeights.front().first) return QFont::Weight(kWeights.front().second);
    if (weight >= kWeights.back().first) return QFont::Weight(kWeights.back().second);
    for (size_t i = 1; i < kWeights.size(); ++i) {
        const auto [n1, q1] = kWeights[i];
        if (weight <= n1) {
            const auto [n0, q0] = kWeights[i - 1];
            const double t = (weight - n0) / (n1 - n0);
            return QFont::Weight(std::lround(q0 + t * (q1 - q0)));
        }
    }
    return QFont::Normal;
}

QFont withNormalizedWeight(QFont font, double weight)
{
    font.setWeight(qtWeightFromNormalized(weight));
    return font;
}

QStringList families()
{
    return QFontDatabase::families();
}

QString familyWithoutFoundry(const QString& family)
{
    // Qt writes a foundry as " [name]" at the end of the family.
    if (!family.endsWith(QLatin1Char(']'))) return family;
    const qsizetype open = family.lastIndexOf(QLatin1String(" ["));
    return open > 0 ? family.left(open) : family;
}

QStringList textFamilies()
{
    static const QStringList aliases{QStringLiteral("Sans Serif"), QStringLiteral("Serif"),
                                     QStringLiteral("Monospace"), QStringLiteral("Sans"),
                                     QStringLiteral("Mono"), QStringLiteral("System-ui")};
    QStringList result;
    QSet<QString> seen;
    for (const QString& family : QFontDatabase::families()) {
        const QString name = familyWithoutFoundry(family);
        if (name.isEmpty() || seen.contains(name)) continue;
        if (QFontDatabase::isPrivateFamily(family)) continue;
        if (aliases.contains(name, Qt::CaseInsensitive)) continue;
        // Symbol and dingbat fonts: their letters are pictures.
        if (QFontDatabase::writingSystems(family).contains(QFontDatabase::Symbol)) continue;
        seen.insert(name);
        result.append(name);
    }
    return result;
}

bool isFixedPitchFamily(const QString& family)
{
    if (QFontDatabase::isFixedPitch(family)) return true;
    // A family the database does not call monospaced may still be: one
    // whose narrowest and widest letters are as wide as each other.
    QFont font(family);
    font.setPixelSize(24);
    if (QFontInfo(font).family().compare(familyWithoutFoundry(family), Qt::CaseInsensitive) != 0) return false;
    const QFontMetricsF metrics(font);
    const double narrow = metrics.horizontalAdvance(QLatin1Char('i'));
    return narrow > 0 && narrow == metrics.horizontalAdvance(QLatin1Char('W'))
           && narrow == metrics.horizontalAdvance(QLatin1Char('m'));
}

} // namespace lumora::fonts
