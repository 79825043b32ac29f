#pragma once

#include <QString>

#include <cstdint>
#include <optional>

namespace vantro {

// How the stem of an output file is made. Payload texts are kept as typed and
// cleaned with sanitizeComponent at every use.
class RenamingMode {
public:
    enum class Kind { sequence, customBase, prefixSuffix, none };

    RenamingMode() = default; // none
    static RenamingMode sequence(const QString& base, int64_t number) { return {Kind::sequence, base, number, {}, {}}; }
    static RenamingMode customBase(const QString& base) { return {Kind::customBase, base, 0, {}, {}}; }
    static RenamingMode prefixSuffix(const QString& prefix, const QString& suffix)
    {
        return {Kind::prefixSuffix, {}, 0, prefix, suffix};
    }
    static RenamingMode none() { return {}; }

    Kind kind() const { return m_kind; }
    const QString& base() const { return m_base; }
    int64_t number() const { return m_number; }
    const QString& prefix() const { return m_prefix; }
    const QString& suffix() const { return m_suffix; }

    // The one cleaning rule for every user-typed name part.
    static QString sanitizeComponent(const QString& text);

    bool isEffectivelyActive() const;

    // The new stem, or nothing when this rule does not rename.
    std::optional<QString> renamedStem(const QString& originalStem, int64_t sequenceDigits,
                                       const QString& sequenceSeparator) const;

    friend bool operator==(const RenamingMode& a, const RenamingMode& b);

private:
    RenamingMode(Kind kind, QString base, int64_t number, QString prefix, QString suffix)
        : m_kind(kind)
        , m_base(std::move(base))
        , m_number(number)
        , m_prefix(std::move(prefix))
        , m_suffix(std::move(suffix))
    {
    }

    Kind m_kind = Kind::none;
    QString m_base;
    int64_t m_number = 0;
    QString m_prefix;
    QString m_suffix;
};

} // namespace vantro
