#include "markdown/Outline.h"

#include "markdown/AttributeSequence.h"
#include "markdown/Markdown.h"
#include "platform/foundation/CharacterSet.h"
#include "platform/foundation/Localization.h"
#include "platform/text/Color.h"

#include <QGuiApplication>
#include <QPalette>

namespace lumora {

namespace {

QString trimmedLineBreaks(QStringView s)
{
    qsizetype from = 0;
    qsizetype to = s.size();
    while (from < to && text::isNewline(s[from].unicode())) ++from;
    while (to > from && text::isNewline(s[to - 1].unicode())) --to;
    return s.sliced(from, to - from).toString();
}

} // namespace

QString headingTitle(const TextStorage& storage, Range paragraph)
{
    return trimmedLineBreaks(storage.substring(paragraph));
}

TextStorage Outline::attributedTitle() const
{
    const QPalette palette = QGuiApplication::palette();
    const Color label = Color::fromQColor(palette.color(QPalette::Text));
    const Color secondary = Color::fromQColor(palette.color(QPalette::PlaceholderText));
    TextStorage result(title, Attributes{{AttributeKey::ForegroundColor, label}});
    const qsizetype marker = std::clamp<qsizetype>(level + 1, 0, title.size());
    result.addAttribute(AttributeKey::ForegroundColor, secondary, Range(0, marker));
    return result;
}

QString Outline::unavailableText()
{
    static const QString text = localized("markdown.outline.unavailable");
    return text;
}

std::shared_ptr<Outline> outlineAt(const TextStorage& storage, Range range)
{
    if (range.length <= 0) {
        qsizetype index = range.location;
        if (index >= storage.length()) {
            if (storage.length() == 0 || index > storage.length()) return nullptr;
            if (text::isNewline(storage.characterAt(index - 1).unicode())) return nullptr;
            index -= 1;
        }
        if (index < 0) return nullptr;
        return Outline::from(storage.attribute(AttributeKey::MarkdownOutline, index));
    }
    AttributeSequence::Iterator it = AttributeSequence(storage, AttributeKey::MarkdownOutline, range).makeIterator();
    if (auto first = it.next()) return Outline::from(first->value);
    return nullptr;
}

std::vector<std::shared_ptr<Outline>> outlinesIn(const TextStorage& storage, Range range)
{
    std::vector<std::shared_ptr<Outline>> entries;
    for (const auto& [value, run] : AttributeSequence(storage, AttributeKey::MarkdownOutline, range))
        if (std::shared_ptr<Outline> entry = Outline::from(value)) entries.push_back(std::move(entry));
    return entries;
}

std::shared_ptr<Outline> outlineBefore(const TextStorage& storage, qsizetype index)
{
    // Runs back from index: headings and the text between them take turns.
    for (qsizetype i = std::min(index, storage.length()) - 1; i >= 0;) {
        Range run;
        const AttributeValue& value = storage.attribute(AttributeKey::MarkdownOutline, i, &run);
        if (std::shared_ptr<Outline> entry = Outline::from(value)) return entry;
        i = run.location - 1;
    }
    return nullptr;
}

std::shared_ptr<Outline> outlineTree(const TextStorage& storage)
{
    auto root = std::make_shared<Outline>(QString(), 0, std::vector<std::shared_ptr<Outline>>{}, true);
    std::vector<Outline*> stack{root.get()};
    // One forward walk over the runs: the outline pane builds the tree after
    // every keystroke in a heading.
    storage.enumerateAttribute(AttributeKey::MarkdownOutline, Range(0, storage.length()),
                               [&](const AttributeValue& value, Range) {
                                   std::shared_ptr<Outline> entry = Outline::from(value);
                                   if (!entry) return true;
                                   entry->contents.clear();
                                   while (stack.size() > 1 && stack.back()->level >= entry->level) stack.pop_back();
                                   Outline* added = entry.get();
                                   stack.back()->contents.push_back(std::move(entry));
                                   stack.push_back(added);
                                   return true;
                               });
    return root;
}

void rebuildOutlineAttributes(TextStorage& storage)
{
    storage.beginEditing();
    storage.removeAttribute(AttributeKey::MarkdownOutline, Range(0, storage.length()));
    for (const auto& [value, range] : AttributeSequence(storage, AttributeKey::FullLineMarkdown, Range(0, storage.length()))) {
        const std::optional<Markdown> element = Markdown::unboxed(value);
        if (!element || element->kind() != Markdown::Kind::Heading) continue;
        storage.addAttribute(AttributeKey::MarkdownOutline,
                             Outline::value(Outline::make(headingTitle(storage, range), element->level())), range);
    }
    storage.endEditing();
}

} // namespace lumora
