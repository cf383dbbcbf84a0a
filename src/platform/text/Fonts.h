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
bool isFixedPitchFamily(const QString& family);

} // namespace lumora::fonts
