#pragma once

#include <QFont>
#include <QString>
#include <QStringList>

#include <optional>

// Font helpers over QFontDatabase. Sizes everywhere in Lumora are "points"
// in the stylesheet's sense, drawn as device-independent pixels at 96 dpi,
// so a 17-point body and a 712-point column keep their proportions.
namespace lumora::fonts {

// Symbolic trait bits, as the stylesheet engine names them.
enum Trait : unsigned {
    Italic = 0x1,
    Bold = 0x2,
    MonoSpace = 0x400,
};

double size(const QFont& font);
QFont withSize(QFont font, double size);

// A font by family name (case-insensitive), or by "Family Style" where Style
// is one of the family's styles ("DejaVu Sans Bold"). None when no installed
// family matches.
std::optional<QFont> named(const QString& name, double size);

// The desktop's general font and its fixed-width font at the given size.
QFont system(double size);
QFont monospacedSystem(double size, double weight = 0.0);

// Traits the font really has (a face of its family with that trait exists
// and is selected), not merely what was requested.
unsigned symbolicTraits(const QFont& font);

// The font with the given trait bits added; none when its family has no face
// with them.
std::optional<QFont> withTraits(const QFont& font, unsigned traits);

// Normalised weight: -1 (thinnest) ... 0 (regular) ... 1 (heaviest), as
// stylesheets give it; 0.4 is bold.
double normalizedWeight(const QFont& font);
QFont withNormalizedWeight(QFont font, double weight);
QFont::Weight qtWeightFromNormalized(double weight);

// Installed families, in the database's order.
QStringList families();
// The installed families a writer can choose for text, each once, in the
// database's order: the foundry Qt adds to tell copies of a family apart
// ("Nimbus Sans [urw]") is dropped, and symbol and dingbat fonts (which
// show no letters) and fontconfig's generic aliases ("Sans Serif",
// "Monospace", which stand for other families) are left out.
QStringList textFamilies();
// The family name without the foundry Qt may add ("C059 [urw]" is "C059").
QString familyWithoutFoundry(const QString& family);
// Whether every letter of the family has one width. Fontconfig leaves some
// monospaced families unmarked ("Noto Sans Mono"): those are measured.
bool isFixedPitchFamily(const QString& family);

} // namespace lumora::fonts
