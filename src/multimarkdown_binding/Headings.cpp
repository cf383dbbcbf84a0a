#include "multimarkdown_binding/Headings.h"

#include "multimarkdown_binding/CmarkOwners.h"
#include "multimarkdown_binding/DialectMarkers.h"
#include "multimarkdown_binding/EngineText.h"

#include <QString>

#include <algorithm>

namespace lumora::dialect {

namespace {

// "[label]" at the end of a heading's text (cmark leaves it as text
// nodes), taken off; empty when there is none.
std::string takeExplicitLabel(cmark_node* heading)
{
    // Most headings end in a text that does not end in "]".
    if (heading->last_child && heading->last_child->type == CMARK_NODE_TEXT) {
        const std::string_view last = literalOf(heading->last_child);
        size_t end = last.size();
        while (end > 0 && (last[end - 1] == ' ' || last[end - 1] == '\t')) --end;
        if (end > 0 && last[end - 1] != ']') return {};
    }
    std::vector<cmark_node*> tail;
    size_t size = 0;
    for (cmark_node* child = heading->last_child; child && child->type == CMARK_NODE_TEXT; child = child->prev) {
        tail.insert(tail.begin(), child);
        size += size_t(child->as.literal.len);
        if (size > labelLimit) return {};
    }
    std::string text;
    for (cmark_node* child : tail) text.append(literalOf(child));
    size_t end = text.size();
    while (end > 0 && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
    if (end == 0 || text[end - 1] != ']') return {};
    const size_t open = text.rfind('[', end - 1);
    if (open == std::string::npos || open + 2 >= end) return {};
    const std::string label = text.substr(open + 1, end - open - 2);
    if (label.find(']') != std::string::npos || std::string_view("^#?>%").find(label[0]) != std::string_view::npos)
        return {};
    size_t cut = open;
    while (cut > 0 && (text[cut - 1] == ' ' || text[cut - 1] == '\t')) --cut;
    if (cut == 0 && heading->first_child == tail.front()) return {}; // nothing but the label
    // Shorten the text nodes to end at cut.
    size_t at = 0;
    for (cmark_node* child : tail) {
        const size_t length = size_t(child->as.literal.len);
        if (at >= cut) {
            discardNode(child);
        } else if (at + length > cut) {
            const std::string kept(literalOf(child).substr(0, cut - at));
            cmark_node_set_literal(child, kept.c_str());
        }
        at += length;
    }
    return label;
}

// Heading text without "[^note]" and "[#citation]" references.
std::string withoutNoteReferences(std::string_view text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '[' && i + 1 < text.size() && (text[i + 1] == '^' || text[i + 1] == '#')) {
            const size_t close = text.find(']', i);
            if (close != std::string_view::npos) {
                i = close;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

// "{{TOC}}", "{{TOC:3}}" (levels 1 to 3) or "{{TOC:2-3}}".
std::optional<std::pair<int, int>> contentsLevels(std::string_view text)
{
    text = trimmedSpaces(text);
    if (text.substr(0, 5) != "{{TOC" || text.size() < 7 || text.substr(text.size() - 2) != "}}") return std::nullopt;
    const std::string_view inside = text.substr(5, text.size() - 7);
    if (inside.empty()) return std::pair{1, 6};
    auto digit = [](char c) { return c >= '1' && c <= '6'; };
    if (inside.size() == 2 && inside[0] == ':' && digit(inside[1])) return std::pair{1, inside[1] - '0'};
    if (inside.size() == 4 && inside[0] == ':' && digit(inside[1]) && inside[2] == '-' && digit(inside[3])
        && inside[1] <= inside[3])
        return std::pair{inside[1] - '0', inside[3] - '0'};
    return std::nullopt;
}

} // namespace

std::string headingLabel(std::string_view text)
{
    bool ascii = true;
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x80) { ascii = false; break; }
    if (ascii) {
        std::string label;
        for (char c : text) {
            if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || c == '-' || c == '_' || c == '.') label += c;
            else if (c >= 'A' && c <= 'Z') label += char(c - 'A' + 'a');
        }
        return label;
    }
    const QString string = QString::fromUtf8(text.data(), qsizetype(text.size()));
    QString label;
    label.reserve(string.size());
    for (qsizetype i = 0; i < string.size(); ++i) {
        char32_t cp = string.at(i).unicode();
        if (QChar::isHighSurrogate(cp) && i + 1 < string.size() && string.at(i + 1).isLowSurrogate()) {
            cp = QChar::surrogateToUcs4(string.at(i), string.at(i + 1));
            ++i;
        }
        if (QChar::isLetterOrNumber(cp)) {
            const char32_t lower = QChar::toLower(cp);
            if (QChar::requiresSurrogates(lower)) {
                label += QChar(QChar::highSurrogate(lower));
                label += QChar(QChar::lowSurrogate(lower));
            } else {
                label += QChar(char16_t(lower));
            }
        } else if (cp == '-' || cp == '_' || cp == '.') {
            label += QChar(char16_t(cp));
        }
    }
    return label.toStdString();
}

Headings::Headings(ConversionState& state) : state_(state) {}

// Before the pass: the ids of the body's headings, in order, from their
// text or from an explicit label ("# Heading [label]", taken off the
// text), and the names cross-references may use for them.
void Headings::labelAhead(const std::vector<cmark_node*>& headings)
{
    for (size_t i = 0; i < headings.size(); ++i) {
        if (i + 1 < headings.size()) prefetchChildren(headings[i + 1]);
        labelHeadingAhead(headings[i]);
    }
}

void Headings::labelHeadingAhead(cmark_node* heading)
{
    const std::string label = state_.options.dialect ? takeExplicitLabel(heading) : std::string();
    std::string text;
    for (cmark_node* child = heading->first_child; child; child = child->next)
        if (!appendPlainText(text, child)) break;
    text = withoutNoteReferences(restoredText(text, true));
    const std::string fromText = headingLabel(text);
    const std::string fromLabel = headingLabel(label);
    std::string id = uniqueLabel(fromLabel.empty() ? fromText : fromLabel);
    if (id.empty()) return;
    if (state_.options.dialect) {
        if (!fromText.empty()) crossReferences_.try_emplace(fromText, id);
        if (!fromLabel.empty()) crossReferences_.try_emplace(fromLabel, id);
        longestHeading_ = std::max({longestHeading_, text.size(), label.size()});
    }
    state_.annotations.bind(heading, &state_.annotations.newHeadingLabel(std::move(id)));
}

std::string Headings::uniqueLabel(std::string id)
{
    if (id.empty()) return id;
    auto [it, fresh] = labelUses_.try_emplace(id, 0);
    if (!fresh) {
        std::string candidate;
        do {
            candidate = id + "-" + std::to_string(++it->second);
        } while (!labelUses_.try_emplace(candidate, 0).second);
        id = std::move(candidate);
    }
    return id;
}

void Headings::addTableTarget(const std::string& id, std::string_view caption, std::string_view label)
{
    crossReferences_.try_emplace(id, id);
    if (!label.empty()) crossReferences_.try_emplace(headingLabel(caption), id);
    longestHeading_ = std::max({longestHeading_, caption.size(), label.size()});
}

const std::string* Headings::targetOf(const std::string& name) const
{
    const auto it = crossReferences_.find(name);
    return it == crossReferences_.end() ? nullptr : &it->second;
}

void Headings::label(cmark_node* heading)
{
    if (state_.options.headingShift != 0)
        cmark_node_set_heading_level(heading, std::min(6, heading->as.heading.level + state_.options.headingShift));
    // The body's headings were labelled ahead (but for those whose text
    // gave no label then).
    const auto* known = heading->extension == state_.annotations.extension()
        ? static_cast<const HeadingLabel*>(heading->user_data)
        : nullptr;
    const bool listed =
        state_.part == DialectSource::Part::body && state_.options.dialect && state_.source.mayHaveTableOfContents();
    if (known && !listed) return;
    std::string text;
    for (cmark_node* child = heading->first_child; child; child = child->next) {
        const Mark* mark = state_.annotations.markOf(child);
        if (mark && mark->kind == Mark::Kind::reference) {
            // Note numbers are no part of a label; terms are.
            const NoteKind kind = static_cast<const Reference*>(mark)->noteKind;
            if (kind == NoteKind::footnote || kind == NoteKind::citation) continue;
        }
        if (!appendPlainText(text, child)) break;
    }
    std::string id;
    if (known) id = known->id;
    else if (state_.options.labels) id = uniqueLabel(headingLabel(text));
    if (listed) contentsEntries_.push_back({heading->as.heading.level, id, collapsedSpaces(text)});
    if (known || id.empty()) return;
    state_.annotations.bind(heading, &state_.annotations.newHeadingLabel(std::move(id)));
}

bool Headings::takeContentsPlaceholder(cmark_node* paragraph)
{
    cmark_node* child = paragraph->first_child;
    if (!child || child != paragraph->last_child || child->type != CMARK_NODE_TEXT) return false;
    const std::optional<std::pair<int, int>> levels = contentsLevels(literalOf(child));
    if (!levels) return false;
    contents_.push_back({paragraph, levels->first, levels->second});
    return true;
}

void Headings::fillTablesOfContents()
{
    // Together the tables list each heading a few times at most: a text
    // of many "{{TOC}}" lines must not make output the square of its size.
    size_t budget = 2 * contentsEntries_.size() + 1000;
    for (const ContentsPlaceholder& placeholder : contents_) {
        std::string html = "<div class=\"TOC\">\n\n<ul>\n";
        std::vector<int> levels;
        size_t listed = 0;
        for (const ContentsEntry& entry : contentsEntries_) {
            if (entry.level < placeholder.minimum || entry.level > placeholder.maximum) continue;
            if (++listed > budget) break;
            if (levels.empty()) {
                levels.push_back(entry.level);
            } else if (entry.level > levels.back()) {
                html += "\n<ul>\n";
                levels.push_back(entry.level);
            } else {
                while (levels.size() > 1 && entry.level <= levels[levels.size() - 2]) {
                    html += "</li>\n</ul>\n";
                    levels.pop_back();
                }
                levels.back() = entry.level;
                html += "</li>\n";
            }
            html += "<li>";
            if (!entry.id.empty()) {
                html += "<a href=\"#";
                appendEscapedHtml(html, entry.id);
                html += "\">";
            }
            appendEscapedHtml(html, entry.text);
            if (!entry.id.empty()) html += "</a>";
        }
        if (listed > budget) break;
        budget -= listed;
        if (!levels.empty()) html += "</li>\n";
        for (size_t i = 1; i < levels.size(); ++i) html += "</ul>\n</li>\n";
        html += "</ul>\n</div>";
        cmark_node* paragraph = placeholder.paragraph;
        while (paragraph->first_child) discardNode(paragraph->first_child);
        BlockStyle& style = state_.annotations.newStyle(BlockStyle::Kind::tableOfContents);
        style.html = std::move(html);
        state_.annotations.bind(paragraph, &style);
    }
}

} // namespace lumora::dialect
