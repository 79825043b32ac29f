#pragma once

#include "CompressionResult.h"
#include "CompressionSettings.h"
#include "DecodedImage.h"
#include "ImageFormat.h"
#include "OutputPlacement.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>

namespace vantro {

namespace CompressionEngineInfo {
inline constexpr const char* version = "0.1.0";
}

// Compresses one file per call of compress(). The queue makes one engine per
// job; an engine keeps no state that changes, so a call may run on any thread.
class CompressionEngine {
public:
    // Moves the listed files to the Trash; throws on failure.
    using Trasher = std::function<void(const QStringList& paths)>;

    CompressionEngine();
    CompressionEngine(const QString& backupRoot, Trasher trasher, int64_t maxCollisionAttempts);

    // Throws CompressionError, or passes file-system and Trash errors through.
    CompressionResult compress(const QString& path, const CompressionSettings& settings) const;

    const QString& backupRoot() const { return m_placement.backupRoot(); }
    int64_t maxCollisionAttempts() const { return m_placement.maxCollisionAttempts(); }

private:
    struct Encoded {
        QByteArray data;
        bool lossyFallbackApplied = false;
        bool resized = false;
    };

    Encoded encode(const QString& path, ImageFormat format, const CompressionMode& mode,
                   const ResizeMode& resize) const;
    QByteArray encodeConversion(const DecodedImage& image, ImageFormat target, const CompressionMode& mode,
                                const QString& fileName) const;

    OutputPlacement m_placement;
    Trasher m_trasher;
};

// The image composited over white, rounded to nearest; without alpha.
DecodedImage flattenAlphaOntoWhite(const DecodedImage& image);

// The image resampled to the size the resize gives, or unchanged when it gives none.
DecodedImage scaledImage(DecodedImage image, const ResizeMode& resize);

} // namespace vantro
