// Feeds untrusted bytes through format detection, measuring and decoding,
// as a file dropped on the window would go. Any exception other than the
// engine's own error and a file-system error, any crash and any sanitizer
// report is a finding.
//
// The plain build is the CMake target decode_fuzz. For libFuzzer, build from
// the repository root against an engine library built with the
// same sanitizers (BUILD is its build folder; LIBS is
// `pkg-config --cflags --libs Qt6Core vips libwebp libwebpmux`):
//   libFuzzer: clang++ -std=c++20 -fPIC -g -fsanitize=fuzzer,address,undefined -DVANTRO_LIBFUZZER
//              -Iengine tests/fuzz/decode_fuzz.cpp BUILD/engine/libvantro_engine.a LIBS -o decode_fuzz
//   plain:     g++ -std=c++20 -fPIC -g -Iengine tests/fuzz/decode_fuzz.cpp BUILD/engine/libvantro_engine.a
//              LIBS -o decode_fuzz
// Without libFuzzer the target runs every file named on the command line: ./decode_fuzz FILE...

#include "CompressionError.h"
#include "FormatDetector.h"
#include "ImageDecoder.h"
#include "ImageDimensions.h"

#include <QTemporaryFile>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    using namespace vantro;
    try {
        const std::optional<ImageFormat> format = FormatDetector::detectFormat(data, size);
        if (!format)
            return 0;

        QTemporaryFile file;
        if (!file.open()
            || file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size)) != static_cast<qint64>(size)
            || !file.flush()) {
            std::fprintf(stderr, "cannot write the temporary input file\n");
            std::abort();
        }
        const QString path = file.fileName();

        try {
            ImageDimensions::read(path);
        } catch (const CompressionError&) {
        }
        const DecodedImage image = ImageDecoder::decode(path, *format);
        const auto expected = static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height)
            * static_cast<std::size_t>(image.channels());
        if (image.width < 1 || image.height < 1 || image.pixels.size() != expected) {
            std::fprintf(stderr, "decoded image breaks its size invariant\n");
            std::abort();
        }
    } catch (const CompressionError&) {
    } catch (const std::system_error&) {
    }
    return 0;
}

#ifndef VANTRO_LIBFUZZER
int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        std::ifstream in(argv[i], std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "%s: cannot open\n", argv[i]);
            return 1;
        }
        const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
        std::printf("%s: done\n", argv[i]);
    }
    return 0;
}
#endif
