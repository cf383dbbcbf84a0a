#pragma once

#include <QString>

#include <exception>
#include <optional>
#include <string>

namespace lumora {

// The program's error: what went wrong and what the user can do about it,
// both already localised. Shown through the error presentation of the window
// that ran the command.
class LumoraError : public std::exception {
public:
    LumoraError() = default;
    LumoraError(std::optional<QString> errorDescription, std::optional<QString> recoverySuggestion = std::nullopt);

    std::optional<QString> errorDescription;
    std::optional<QString> recoverySuggestion;

    // The description, or a generic sentence when there is none.
    const char* what() const noexcept override;

private:
    std::string m_what;
};

} // namespace lumora
