#pragma once

#include <QString>

#include <exception>
#include <string>

namespace vantro {

// The one error type of the engine and its codecs. Four cases carry an English
// message built by the thrower; unsupportedFormat carries none.
class CompressionError : public std::exception {
public:
    enum class Kind { corruptFile, encoderFailed, ioFailure, invalidConfiguration, unsupportedFormat };

    static CompressionError corruptFile(const QString& message) { return {Kind::corruptFile, message}; }
    static CompressionError encoderFailed(const QString& message) { return {Kind::encoderFailed, message}; }
    static CompressionError ioFailure(const QString& message) { return {Kind::ioFailure, message}; }
    static CompressionError invalidConfiguration(const QString& message)
    {
        return {Kind::invalidConfiguration, message};
    }
    static CompressionError unsupportedFormat() { return {Kind::unsupportedFormat, QString()}; }

    Kind kind() const { return m_kind; }
    // Empty for unsupportedFormat.
    const QString& message() const { return m_message; }

    // The text form shown wherever an error becomes text: the case name, then
    // for the cases with a message `("escaped message")`.
    QString text() const;

    const char* what() const noexcept override { return m_what.c_str(); }

    // Same case and canonically equivalent messages.
    friend bool operator==(const CompressionError& a, const CompressionError& b);

private:
    CompressionError(Kind kind, const QString& message);

    Kind m_kind;
    QString m_message;
    std::string m_what;
};

QString caseName(CompressionError::Kind kind);

// Canonical-equivalence comparison of two texts (NFC on both sides).
bool canonicallyEqual(const QString& a, const QString& b);

} // namespace vantro
