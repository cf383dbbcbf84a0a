#pragma once

#include <QList>

#include <optional>

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

    // A paragraph that is an item of a list, as rich text read from HTML has
    // them: how deep its list stands (1 for an outermost list), whether the
    // list is numbered, the item's number in it (1 for the first) and which
    // list of the text it is (the items of one list share the value, two
    // lists never do). Number and list also tell neighbouring items apart.
    // The editor's own styling never sets one, and layout ignores it.
    struct ListItem {
        int depth = 1;
        bool numbered = false;
        int number = 1;
        int list = 0;

        friend bool operator==(const ListItem&, const ListItem&) = default;
    };
    std::optional<ListItem> listItem;

    friend bool operator==(const ParagraphStyle&, const ParagraphStyle&) = default;
};

} // namespace lumora
