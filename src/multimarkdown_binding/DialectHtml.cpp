#include "multimarkdown_binding/DialectHtml.h"

#include "multimarkdown_binding/EngineText.h"
#include "multimarkdown_binding/NodeAnnotations.h"
#include "multimarkdown_binding/SourceLines.h"

// The renderer structure of the installed cmark-gfm: our HTML hook writes
// into its buffer.
#include <cmark-gfm/render.h>

#include <string>
#include <string_view>

namespace lumora::dialect {

namespace {

void putHtml(cmark_strbuf* html, std::string_view text)
{
    cmark_strbuf_put(html, reinterpret_cast<const unsigned char*>(text.data()), bufsize_t(text.size()));
}

// Text with &, <, > and " escaped, as appendEscapedHtml writes it.
void putEscapedHtml(cmark_strbuf* html, std::string_view text)
{
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        std::string_view entity;
        switch (text[i]) {
        case '&': entity = "&amp;"; break;
        case '<': entity = "&lt;"; break;
        case '>': entity = "&gt;"; break;
        case '"': entity = "&quot;"; break;
        default: continue;
        }
        putHtml(html, text.substr(start, i - start));
        putHtml(html, entity);
        start = i + 1;
    }
    putHtml(html, text.substr(start));
}

void newLine(cmark_strbuf* html)
{
    if (html->size > 0 && html->ptr[html->size - 1] != '\n') cmark_strbuf_putc(html, '\n');
}

// A destination as an attribute value: characters a URL may not hold
// percent-encoded, as cmark writes them.
void appendHref(std::string& out, std::string_view url)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    for (char c : url) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (c == '&') {
            out += "&amp;";
        } else if (c == '\'') {
            out += "&#x27;";
        } else if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')
                   || std::string_view("-_.+!*(),%#@?=;:/,$~").find(c) != std::string_view::npos) {
            out += c;
        } else {
            out += '%';
            out += hex[u >> 4];
            out += hex[u & 15];
        }
    }
}

// An image's width or height in pixels ("40px" or "40"): the number the
// HTML attribute takes; empty for another unit ("50%", "3em").
std::string_view pixelCount(std::string_view value)
{
    if (value.size() > 2 && value.substr(value.size() - 2) == "px") value.remove_suffix(2);
    if (value.empty() || value.find_first_not_of("0123456789") != std::string_view::npos) return {};
    return value;
}

void appendAttribute(std::string& out, std::string_view key, std::string_view value)
{
    out += ' ';
    appendEscapedHtml(out, key);
    out += "=\"";
    appendEscapedHtml(out, value);
    out += '"';
}

// Attributes of a link definition; an image's width and height in pixels
// are its width and height attributes, in other units its style: added to
// the writer's own style where there is one, since an element keeps only
// one style attribute.
void appendAttributes(std::string& out, const std::vector<LinkAttribute>& attributes, bool image)
{
    const auto isSize = [image](const LinkAttribute& attribute) {
        return image && (attribute.key == "width" || attribute.key == "height");
    };
    std::string sizes; // in other units than pixels
    for (const LinkAttribute& attribute : attributes)
        if (isSize(attribute) && pixelCount(attribute.value).empty())
            sizes += attribute.key + ":" + attribute.value + ";";
    bool styleWritten = sizes.empty();
    for (const LinkAttribute& attribute : attributes) {
        if (isSize(attribute)) {
            const std::string_view pixels = pixelCount(attribute.value);
            if (!pixels.empty()) appendAttribute(out, attribute.key, pixels);
        } else if (!styleWritten && attribute.key.size() == 5 && startsWithCaseless(attribute.key, "style")) {
            styleWritten = true;
            std::string style = attribute.value;
            const size_t last = style.find_last_not_of(" \t\n");
            if (last != std::string::npos && style[last] != ';') style += ';';
            appendAttribute(out, attribute.key, style + sizes);
        } else {
            appendAttribute(out, attribute.key, attribute.value);
        }
    }
    if (!styleWritten) appendAttribute(out, "style", sizes);
}

void renderStyled(cmark_html_renderer* renderer, cmark_node* node, const BlockStyle& style, bool entering)
{
    cmark_strbuf* html = renderer->html;
    std::string out;
    switch (style.kind) {
    case BlockStyle::Kind::figure:
        if (entering) {
            newLine(html);
            putHtml(html, "<figure>\n");
        } else {
            newLine(html);
            if (!style.html.empty()) putHtml(html, "<figcaption>" + style.html + "</figcaption>\n");
            putHtml(html, "</figure>\n");
        }
        return;
    case BlockStyle::Kind::tableOfContents:
        if (entering) {
            newLine(html);
            putHtml(html, style.html);
            putHtml(html, "\n");
        }
        return;
    case BlockStyle::Kind::code:
        newLine(html);
        out = "<pre><code class=\"";
        appendEscapedHtml(out, style.html);
        out += "\">";
        appendEscapedHtml(out, viewOf(node->as.code.literal));
        out += "</code></pre>\n";
        putHtml(html, out);
        return;
    case BlockStyle::Kind::rawCode:
        newLine(html);
        putHtml(html, viewOf(node->as.code.literal));
        return;
    case BlockStyle::Kind::hiddenCode:
        return;
    case BlockStyle::Kind::term:
        if (entering) newLine(html);
        putHtml(html, entering ? "<dt>" : "</dt>\n");
        return;
    case BlockStyle::Kind::definitions:
        return;
    case BlockStyle::Kind::definition:
        if (entering) newLine(html);
        putHtml(html, entering ? "<dd>" : "</dd>\n");
        return;
    case BlockStyle::Kind::table:
        newLine(html);
        putHtml(html, entering ? std::string_view(style.html) : std::string_view("</table>\n"));
        // The table extension keeps its state in the renderer, for the
        // tables it writes itself: ours start and end with it cleared.
        renderer->opaque = nullptr;
        return;
    case BlockStyle::Kind::row:
        newLine(html);
        if (entering) {
            if (style.opensSection) putHtml(html, style.header ? "<thead>\n" : "<tbody>\n");
            putHtml(html, "<tr>");
        } else {
            putHtml(html, "</tr>\n");
            if (style.closesSection) putHtml(html, style.header ? "</thead>\n" : "</tbody>\n");
        }
        return;
    case BlockStyle::Kind::cell:
        if (entering) {
            newLine(html);
            out = style.header ? "<th" : "<td";
            out += alignmentStyle(style.alignment);
            if (style.span > 1) out += " colspan=\"" + std::to_string(style.span) + "\"";
            out += '>';
        } else {
            out = style.header ? "</th>\n" : "</td>\n";
        }
        putHtml(html, out);
        return;
    case BlockStyle::Kind::linkAttributes:
        break;
    }
    const bool image = node->type == CMARK_NODE_IMAGE;
    if (entering) {
        out = image ? "<img src=\"" : "<a href=\"";
        appendHref(out, viewOf(node->as.link.url));
        if (image) {
            out += "\" alt=\"";
            // The description is written as plain text up to the image's
            // end, as cmark does.
            renderer->plain = node;
        } else {
            out += '"';
            if (node->as.link.title.len > 0) {
                out += " title=\"";
                appendEscapedHtml(out, viewOf(node->as.link.title));
                out += '"';
            }
            appendAttributes(out, *style.attributes, false);
            out += '>';
        }
    } else if (image) {
        out = "\"";
        if (node->as.link.title.len > 0) {
            out += " title=\"";
            appendEscapedHtml(out, viewOf(node->as.link.title));
            out += '"';
        }
        appendAttributes(out, *style.attributes, true);
        out += " />";
    } else {
        out = "</a>";
    }
    putHtml(html, out);
}

} // namespace

void DialectHtml::renderNode(cmark_syntax_extension*, cmark_html_renderer* renderer, cmark_node* node,
                             cmark_event_type event, int)
{
    cmark_strbuf* html = renderer->html;
    if (node->type == CMARK_NODE_HEADING) {
        const char level = char('0' + node->as.heading.level);
        if (event == CMARK_EVENT_ENTER) {
            newLine(html);
            const char open[] = {'<', 'h', level};
            putHtml(html, std::string_view(open, sizeof open));
            if (const auto* label = static_cast<const HeadingLabel*>(node->user_data)) {
                putHtml(html, " id=\"");
                putEscapedHtml(html, label->id);
                cmark_strbuf_putc(html, '"');
            }
            cmark_strbuf_putc(html, '>');
        } else {
            const char close[] = {'<', '/', 'h', level, '>', '\n'};
            putHtml(html, std::string_view(close, sizeof close));
        }
        return;
    }
    if (node->type != CMARK_NODE_HTML_INLINE) {
        if (const auto* style = static_cast<const BlockStyle*>(node->user_data))
            renderStyled(renderer, node, *style, event == CMARK_EVENT_ENTER);
        return;
    }
    const auto* mark = static_cast<const Mark*>(node->user_data);
    if (!mark) return;
    if (mark->kind == Mark::Kind::tag) {
        putHtml(html, static_cast<const Tag*>(mark)->html);
        return;
    }
    if (mark->kind == Mark::Kind::raw) {
        putHtml(html, static_cast<const Raw*>(mark)->html);
        return;
    }
    const auto& reference = *static_cast<const Reference*>(mark);
    if (reference.hidden) return;
    std::string out;
    const std::string_view shown = literalOf(node);
    if (reference.noteKind == NoteKind::abbreviation) {
        if (reference.firstUse) {
            appendEscapedHtml(out, reference.title);
            out += " (";
        }
        out += "<abbr title=\"";
        appendEscapedHtml(out, reference.title);
        out += "\">";
        appendEscapedHtml(out, shown);
        out += "</abbr>";
        if (reference.firstUse) out += ")";
        putHtml(html, out);
        return;
    }
    const bool footnote = reference.noteKind == NoteKind::footnote;
    const NoteNames names = noteNames(reference.noteKind, reference.language);
    const char* prefix = names.prefix;
    const char* name = names.name;
    if (reference.insideLink) {
        // A link may not hold another: the reference shows without its own.
        out = footnote ? "<sup>" : std::string("<span class=\"") + name + "\">";
        appendEscapedHtml(out, shown);
        out += footnote ? "</sup>" : "</span>";
        putHtml(html, out);
        return;
    }
    const std::string number = std::to_string(reference.number);
    out = std::string("<a href=\"#") + prefix + ":" + number + "\" id=\"" + prefix + "ref:" + number;
    if (reference.occurrence > 1) {
        out += '-';
        out += std::to_string(reference.occurrence);
    }
    out += std::string("\" title=\"") + names.seeTitle + "\" class=\"" + name + "\">";
    if (footnote) out += "<sup>";
    appendEscapedHtml(out, shown);
    if (footnote) out += "</sup>";
    out += "</a>";
    putHtml(html, out);
}

} // namespace lumora::dialect
