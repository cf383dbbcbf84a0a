#include "settings/LumoraError.h"

namespace lumora {

LumoraError::LumoraError(std::optional<QString> description, std::optional<QString> suggestion)
    : errorDescription(std::move(description)), recoverySuggestion(std::move(suggestion))
{
    m_what = errorDescription ? errorDescription->toStdString() : std::string("The operation could not be completed.");
}

const char* LumoraError::what() const noexcept
{
    return m_what.empty() ? "The operation could not be completed." : m_what.c_str();
}

} // namespace lumora
