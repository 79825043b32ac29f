#include "CompressionError.h"
#include "CompressionSettings.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace vantro;

TEST(ValueTypesTest, EqualityComparesCaseAndPayload)
{
    EXPECT_NE(ResizeMode::maxWidth(800), ResizeMode::exactWidth(800));
    EXPECT_NE(ResizeMode::maxWidth(800), ResizeMode::maxWidth(801));
    EXPECT_EQ(ResizeMode::percentage(0.0), ResizeMode::percentage(-0.0));
    const auto nan = ResizeMode::percentage(std::nan(""));
    EXPECT_FALSE(nan == nan);
    EXPECT_NE(CompressionError::corruptFile("x"), CompressionError::encoderFailed("x"));
    EXPECT_NE(CompressionError::ioFailure("a"), CompressionError::ioFailure("b"));
    // "é" precomposed and as e + combining acute accent.
    EXPECT_EQ(CompressionError::ioFailure(QString::fromUtf8("caf\u00e9")),
              CompressionError::ioFailure(QString::fromUtf8("cafe\u0301")));
}

TEST(ValueTypesTest, ErrorTextEscapesTheMessage)
{
    EXPECT_STREQ(CompressionError::unsupportedFormat().what(), "unsupportedFormat");
    EXPECT_EQ(CompressionError::ioFailure("Cannot open a\"b's\\c").text(),
              "ioFailure(\"Cannot open a\\\"b\\'s\\\\c\")");
    EXPECT_EQ(CompressionError::corruptFile(QString("t\tn\nr\r") + QChar(u'\0')).text(),
              "corruptFile(\"t\\tn\\nr\\r\\0\")");
    const QString accented = QString::fromUtf8("Soubor \u2019\u017elu\u0165ou\u010dk\u00fd\u2019");
    EXPECT_EQ(CompressionError::invalidConfiguration(accented).text(), "invalidConfiguration(\"" + accented + "\")");
}
