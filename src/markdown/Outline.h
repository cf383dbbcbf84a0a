#pragma once

#include "platform/foundation/Range.h"
#include "platform/text/Attributes.h"
#include "platform/text/TextStorage.h"

#include <QString>

#include <memory>
#include <vector>

namespace lumora {

// One heading of the document outline. Each heading paragraph carries its own
// entry under the "LMMarkdownOutline" key; restyling the paragraph keeps the
// same object, so the sidebar's expanded state survives typing. Entries are
// program objects: two entries are the same only when they are one object.
class Outline : public AttributeObject {
public:
    Outline(QString title, int level, std::vector<std::shared_ptr<Outline>> contents, bool isExpanded)
        : title(std::move(title)), level(level), contents(std::move(contents)), isExpanded(isExpanded) {}

    static std::shared_ptr<Outline> make(const QString& title, int level)
    {
        return std::make_shared<Outline>(title, level, std::vector<std::shared_ptr<Outline>>{}, true);
    }

    // The heading paragraph's text with its "#" marker and space, no line break.
    QString title;
    // 1 to 6; 0 only for the root of a tree.
    int level;
    // Entries nested under this one, in text order; filled only by outlineTree().
    std::vector<std::shared_ptr<Outline>> contents;
    bool isExpanded;

    // The title for display: the marker and its space in the secondary text
    // colour, the rest in the text colour.
    TextStorage attributedTitle() const;

    // What the outline sidebar shows when there is nothing to show.
    static QString unavailableText();

    // The entry stored in an attribute value, or null.
    static std::shared_ptr<Outline> from(const AttributeValue& value) { return value.objectAs<Outline>(); }
    // An entry as an attribute value.
    static AttributeValue value(const std::shared_ptr<Outline>& entry)
    {
        return AttributeValue(AttributeValue::Object(entry));
    }
};

// A heading entry's title: the paragraph's text with line breaks trimmed
// from both ends.
QString headingTitle(const TextStorage& storage, Range paragraph);

// The entry at or within range: with an empty range, the entry of the
// character at range.location (of the one before when it is the end of the
// text, unless that is a line break); otherwise the first entry inside range.
std::shared_ptr<Outline> outlineAt(const TextStorage& storage, Range range);

// The entries of the heading paragraphs inside range, in text order.
std::vector<std::shared_ptr<Outline>> outlinesIn(const TextStorage& storage, Range range);
// The entry of the last heading paragraph that starts before index, or null.
std::shared_ptr<Outline> outlineBefore(const TextStorage& storage, qsizetype index);

// A fresh tree of the storage's entries under a new root (level 0): each
// entry nests under the nearest preceding entry of a lower level.
std::shared_ptr<Outline> outlineTree(const TextStorage& storage);

// Gives every heading paragraph (by its "LMFullLineMarkdown" element) a new
// entry, and removes entries everywhere else.
void rebuildOutlineAttributes(TextStorage& storage);

} // namespace lumora
