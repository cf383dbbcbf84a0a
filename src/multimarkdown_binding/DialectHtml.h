#pragma once

#include <cmark-gfm-extension_api.h>
#include <cmark-gfm.h>

namespace lumora::dialect {

// Writes the nodes a conversion bound to our extension (see
// NodeAnnotations): headings with their ids, our marks (CriticMarkup tags,
// references, raw HTML), and the blocks and links we style (figures, tables
// of contents, code, definition lists, tables and their cells, links with
// attributes). Installed as our extension's HTML hook; cmark writes every
// other node itself.
class DialectHtml {
public:
    DialectHtml() = delete;

    static void renderNode(cmark_syntax_extension* extension, cmark_html_renderer* renderer, cmark_node* node,
                           cmark_event_type event, int options);
};

} // namespace lumora::dialect
