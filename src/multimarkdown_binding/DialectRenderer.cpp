#include "multimarkdown_binding/DialectRenderer.h"

#include "multimarkdown_binding/DialectConversion.h"

#include <cmark-gfm.h>

namespace lumora {

std::string DialectRenderer::renderHtml(const DialectSource& source, const Options& options)
{
    dialect::DialectConversion conversion(source, options);
    return conversion.run();
}

std::string DialectRenderer::engineVersion()
{
    return std::string("cmark-gfm ") + cmark_version_string();
}

} // namespace lumora
