#pragma once

#include "RenamingMode.h"
#include "ResizeMode.h"

#include <QString>

#include <cstdint>

namespace vantro {

// Lossy re-encoding at a quality, or lossless optimisation.
class CompressionMode {
public:
    static CompressionMode lossy(int64_t quality) { return CompressionMode(false, quality); }
    static CompressionMode lossless() { return CompressionMode(true, 0); }

    bool isLossless() const { return m_lossless; }
    // Only meaningful when lossy.
    int64_t quality() const { return m_quality; }

private:
    CompressionMode(bool lossless, int64_t quality) : m_lossless(lossless), m_quality(quality) {}

    bool m_lossless;
    int64_t m_quality;
};

// Where the output goes.
class OutputMode {
public:
    enum class Kind { inPlace, customFolder, copyAlongside };

    static OutputMode inPlace(bool backup) { return OutputMode(Kind::inPlace, backup, {}); }
    static OutputMode customFolder(const QString& folder) { return OutputMode(Kind::customFolder, false, folder); }
    static OutputMode copyAlongside() { return OutputMode(Kind::copyAlongside, false, {}); }

    Kind kind() const { return m_kind; }
    // inPlace only.
    bool backup() const { return m_backup; }
    // customFolder only: the folder's absolute path.
    const QString& folder() const { return m_folder; }

private:
    OutputMode(Kind kind, bool backup, QString folder) : m_kind(kind), m_backup(backup), m_folder(std::move(folder)) {}

    Kind m_kind;
    bool m_backup;
    QString m_folder;
};

enum class TargetFormat { keepOriginal, webp, jpeg, png };

enum class OriginalFileHandling { keep, moveToTrash };

// The engine's input besides the file. A plain value without equality.
struct CompressionSettings {
    CompressionMode mode;
    OutputMode outputMode;
    TargetFormat targetFormat;
    OriginalFileHandling originalFileHandling;
    RenamingMode renaming;
    ResizeMode resize;
    int64_t sequenceDigits;
    QString sequenceSeparator;
};

} // namespace vantro
