#include "RenamingMode.h"

#include <gtest/gtest.h>

using namespace vantro;

namespace {

struct SanitizeCase {
    const char* name;
    QString input;
    QString expected;
};

void PrintTo(const SanitizeCase& row, std::ostream* out)
{
    *out << row.name;
}

class SanitizeTest : public ::testing::TestWithParam<SanitizeCase> {};

const QString kFamily = QString::fromUtf8("\U0001F468\u200D\U0001F469\u200D\U0001F467");
const QString kAccented = QString::fromUtf8("e\u0301");

} // namespace

TEST_P(SanitizeTest, Cleans)
{
    EXPECT_EQ(RenamingMode::sanitizeComponent(GetParam().input), GetParam().expected);
}

// Controls go, separators become dashes, white space (no-break, ideographic,
// NEL too) is trimmed at the ends only, dot-only names are empty, and the
// length limit counts grapheme clusters; nothing is trimmed after the cut.
INSTANTIATE_TEST_SUITE_P(
    , SanitizeTest,
    ::testing::Values(SanitizeCase{"Controls", QString("a\tb") + QChar(0x7f) + "b\nc", "abbc"},
                      SanitizeCase{"Separators", "/a/b:c", "-a-b-c"},
                      SanitizeCase{"WhiteSpaceAtTheEnds",
                                   QChar(0x00a0) + QString(" a b") + QChar(0x3000) + QChar(0x0085), "a b"},
                      SanitizeCase{"OnlyControls", "\t\x01\x02", ""}, SanitizeCase{"DotsAndSpaces", " .. ", ""},
                      SanitizeCase{"InnerDotsStay", ".a.", ".a."},
                      SanitizeCase{"CutAt100", QString(150, u'a'), QString(100, u'a')},
                      SanitizeCase{"SpaceAt100Kept", QString(99, u'b') + " c", QString(99, u'b') + " "},
                      SanitizeCase{"JoinedEmojiCountOnce", kFamily.repeated(101), kFamily.repeated(100)},
                      SanitizeCase{"CombiningAccentCountsOnce", kAccented.repeated(101), kAccented.repeated(100)}),
    [](const ::testing::TestParamInfo<SanitizeCase>& row) { return std::string(row.param.name); });

TEST(RenamingTest, StemsAndEffectiveActivity)
{
    EXPECT_FALSE(RenamingMode::none().renamedStem("photo", 3, "_").has_value());
    EXPECT_EQ(RenamingMode::sequence("trip", 7).renamedStem("x", 3, "_"), QString("trip_007"));
    EXPECT_EQ(RenamingMode::sequence("trip", 1234).renamedStem("x", 2, " - "), QString("trip - 1234"));
    // The separator is used as given, not cleaned.
    EXPECT_EQ(RenamingMode::sequence(" a/b ", 1).renamedStem("x", 2, "/"), QString("a-b/01"));
    EXPECT_EQ(RenamingMode::customBase(" cover ").renamedStem("photo", 5, "_"), QString("cover"));
    // The original stem is never cleaned.
    EXPECT_EQ(RenamingMode::prefixSuffix("p:", "_s").renamedStem(" a:b ", 3, "_"), QString("p- a:b _s"));

    EXPECT_FALSE(RenamingMode::customBase("..").isEffectivelyActive());
    EXPECT_FALSE(RenamingMode::sequence("   ", 1).isEffectivelyActive());
    EXPECT_FALSE(RenamingMode::prefixSuffix(" ", "..").isEffectivelyActive());
    EXPECT_FALSE(RenamingMode::customBase("\n").renamedStem("x", 3, "_").has_value());
    EXPECT_FALSE(RenamingMode::prefixSuffix("", "").renamedStem("photo", 3, "_").has_value());
}

TEST(RenamingTest, EqualityUsesCanonicalEquivalence)
{
    EXPECT_EQ(RenamingMode::customBase(QString::fromUtf8("caf\u00e9")),
              RenamingMode::customBase(QString::fromUtf8("cafe\u0301")));
    EXPECT_NE(RenamingMode::customBase("a"), RenamingMode::sequence("a", 0));
    EXPECT_NE(RenamingMode::sequence("a", 1), RenamingMode::sequence("a", 2));
    EXPECT_NE(RenamingMode::prefixSuffix("a", "b"), RenamingMode::prefixSuffix("b", "a"));
}
