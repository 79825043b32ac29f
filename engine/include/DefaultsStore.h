#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <cstdint>
#include <memory>
#include <optional>

class QSettings;

namespace vantro {

// The key-value store the settings persist in. Implementations only keep raw
// values; the typed readings below are shared so every store converts alike.
//
// A typed reading gives nothing when the key is absent or when its value has
// no reading of that type, so a caller can tell "absent" (contains() false)
// from "present but of the wrong type". INI files keep every scalar as text,
// so the readings accept the text forms the setters produce: an integer
// written with setInteger reads back as that integer and a flag written with
// setFlag reads back as that flag, whether the value still sits in memory
// typed or was parsed back from text.
class DefaultsStore {
public:
    virtual ~DefaultsStore() = default;

    // The stored value as it is, or an invalid QVariant when the key is absent.
    virtual QVariant rawValue(const QString& key) const = 0;
    virtual void setRawValue(const QString& key, const QVariant& value) = 0;

    bool contains(const QString& key) const { return rawValue(key).isValid(); }

    // Text values as they are; integers and flags in their text form ("80",
    // "true"). Nothing for byte arrays, lists and other compound values.
    std::optional<QString> string(const QString& key) const;
    // Integers; a decimal text, surrounding white space allowed, saturating at
    // the 64-bit limits; a finite floating-point value or text, truncated.
    // Nothing for flags, texts that are no number and everything else.
    std::optional<int64_t> integer(const QString& key) const;
    // Flags; the texts "true"/"yes" and "false"/"no" in any letter case;
    // numbers and integer texts as "not zero".
    std::optional<bool> flag(const QString& key) const;
    // Byte arrays only.
    std::optional<QByteArray> data(const QString& key) const;

    void setString(const QString& key, const QString& value);
    void setInteger(const QString& key, int64_t value);
    void setFlag(const QString& key, bool value);
    void setData(const QString& key, const QByteArray& value);

protected:
    DefaultsStore() = default;
    DefaultsStore(const DefaultsStore&) = default;
    DefaultsStore& operator=(const DefaultsStore&) = default;
};

// Keeps the values in memory, typed as they were written.
class MemoryDefaultsStore final : public DefaultsStore {
public:
    QVariant rawValue(const QString& key) const override;
    void setRawValue(const QString& key, const QVariant& value) override;

    QStringList keys() const { return m_values.keys(); }

private:
    QMap<QString, QVariant> m_values;
};

// Keeps the values in an INI file through QSettings. When the file reaches the
// disk is QSettings' affair (at the latest when the store is destroyed).
class QSettingsDefaultsStore final : public DefaultsStore {
public:
    // The user's own file under the XDG configuration folder:
    // <config>/<organization>/<application>.ini.
    QSettingsDefaultsStore(const QString& organization, const QString& application);
    // A file at the given path.
    explicit QSettingsDefaultsStore(const QString& iniFilePath);
    ~QSettingsDefaultsStore() override;

    QSettingsDefaultsStore(const QSettingsDefaultsStore&) = delete;
    QSettingsDefaultsStore& operator=(const QSettingsDefaultsStore&) = delete;

    QVariant rawValue(const QString& key) const override;
    void setRawValue(const QString& key, const QVariant& value) override;

    QString fileName() const;

private:
    std::unique_ptr<QSettings> m_settings;
};

} // namespace vantro
