#pragma once

#include <QList>

namespace lumora {

// Paragraph layout as the styling engine describes it. All lengths in points
// (device-independent pixels). tailIndent follows the usual convention: a
// negative value is measured from the right edge, a positive one from the left.
struct ParagraphStyle {
    enum class Alignment { Natural, Left, Right, Center, Justified };

    double lineSpacing = 0.0;
    double paragraphSpacing = 0.0;       // after the paragraph
    double paragraphSpacingBefore = 0.0; // before the paragraph
    double firstLineHeadIndent = 0.0;
    double headIndent = 0.0;
    double tailIndent = 0.0;
    double minimumLineHeight = 0.0;
    double maximumLineHeight = 0.0;
    double lineHeightMultiple = 0.0;
    double defaultTabInterval = 0.0;
    QList<double> tabStops; // locations, natural alignment
    Alignment alignment = Alignment::Natural;

    friend bool operator==(const ParagraphStyle&, const ParagraphStyle&) = default;
};

} // namespace lumora
