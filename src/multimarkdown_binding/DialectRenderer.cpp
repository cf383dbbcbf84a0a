#include "multimarkdown_binding/DialectRenderer.h"

#include "multimarkdown_binding/DialectConversion.h"

#include <cmark-gfm.h>

namespace lumora {

void DialectRenderer::renderHtml(const DialectSource& source, const Options& options,
                                 const std::function<void(std::string_view html)>& take)
{
    dialect::DialectConversion conversion(source, options);
    conversion.run(take);
}

std::string DialectRenderer::engineVersion()
{
    return std::string("cmark-gfm ") + cmark_version_string();
}

} // namespace lumora
