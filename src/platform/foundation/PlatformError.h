#pragma once

#include <QString>

#include <optional>
#include <utility>
#include <variant>

namespace lumora {

// A failure of a platform service, ready to show to the user: what went
// wrong and what to do about it. The application's own error value carries
// the same two texts, so converting is a matter of copying them.
struct PlatformError {
    enum class Code {
        generic,
        cancelled,          // the user said no; nothing to show
        fileNotFound,
        permissionDenied,
        notText,            // binary data, or no encoding fits
        cannotDecode,       // bytes that are not valid in the encoding
        cannotEncode,       // a character the encoding cannot hold
        readFailed,
        writeFailed,
        fileExists,         // something is already at a path that must be new
        locked,             // the document is locked and is never written
        noFile,             // an operation that needs a file on an untitled document
        notAFile,           // a folder, device, pipe or socket where a file was expected
        tooLarge,           // a file larger than what can be opened
    };

    Code code = Code::generic;
    QString errorDescription;
    QString recoverySuggestion;
    // The file the failure is about, when there is one.
    QString filePath;

    PlatformError() = default;
    PlatformError(Code c, QString description, QString suggestion = {}, QString path = {})
        : code(c), errorDescription(std::move(description)), recoverySuggestion(std::move(suggestion)),
          filePath(std::move(path))
    {
    }

    bool isCancellation() const { return code == Code::cancelled; }

    // Description and suggestion on one line, for logs and test output.
    QString message() const
    {
        return recoverySuggestion.isEmpty() ? errorDescription
                                            : errorDescription + QLatin1Char(' ') + recoverySuggestion;
    }

    static PlatformError cancelled() { return PlatformError(Code::cancelled, QString()); }
};

// A value or the error that kept it from being made.
template <typename T>
class PlatformResult {
public:
    PlatformResult(T value) : m_state(std::in_place_index<0>, std::move(value)) {}
    PlatformResult(PlatformError error) : m_state(std::in_place_index<1>, std::move(error)) {}

    bool ok() const { return m_state.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& value() & { return std::get<0>(m_state); }
    const T& value() const& { return std::get<0>(m_state); }
    T&& value() && { return std::get<0>(std::move(m_state)); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }

    const PlatformError& error() const { return std::get<1>(m_state); }

private:
    std::variant<T, PlatformError> m_state;
};

// Success, or the error of a failure.
template <>
class PlatformResult<void> {
public:
    PlatformResult() = default;
    PlatformResult(PlatformError error) : m_error(std::move(error)) {}

    bool ok() const { return !m_error.has_value(); }
    explicit operator bool() const { return ok(); }
    const PlatformError& error() const { return *m_error; }

private:
    std::optional<PlatformError> m_error;
};

using PlatformStatus = PlatformResult<void>;

// A user-visible text from the localisation table, or the given English
// text while the table has no entry for the key.
QString platformText(const char* key, const char* english);

} // namespace lumora
