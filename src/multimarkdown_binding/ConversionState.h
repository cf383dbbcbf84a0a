#pragma once

#include "multimarkdown_binding/DialectRenderer.h"
#include "multimarkdown_binding/DialectSource.h"
#include "multimarkdown_binding/NodeAnnotations.h"

#include <cmark-gfm.h>

#include <cstddef>

namespace lumora::dialect {

// The options every parse and render of a conversion uses. Smart typography
// is ours (see SmartTypography.h): cmark's knows neither the quotes of other
// languages nor MultiMarkdown's rules.
inline constexpr int cmarkOptions = CMARK_OPT_UNSAFE | CMARK_OPT_STRIKETHROUGH_DOUBLE_TILDE;

// What the parts of one conversion share: the prepared source, the options,
// the annotations of the tree and where the pass over the tree stands.
struct ConversionState {
    ConversionState(const DialectSource& source, const DialectRenderer::Options& options,
                    cmark_syntax_extension* extension)
        : source(source), options(options), annotations(extension, options.language)
    {
    }

    ConversionState(const ConversionState&) = delete;
    ConversionState& operator=(const ConversionState&) = delete;

    const DialectSource& source;
    const DialectRenderer::Options options;
    NodeAnnotations annotations;
    // The document the pass is reading: the body, then the notes.
    DialectSource::Part part = DialectSource::Part::body;
    // How many links the node the pass is at lies in.
    int linkDepth = 0;
    // Bytes that variables and abbreviation titles may copy into the output
    // in all.
    size_t copyBudget = 0;
};

} // namespace lumora::dialect
