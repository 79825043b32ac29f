#include "RenamingMode.h"

#include <gtest/gtest.h>

using namespace vantro;

namespace {
QString sanitize(const QString& s)
{
    return RenamingMode::sanitizeComponent(s);
}
} // namespace

TEST(RenamingTest, SanitizeRemovesControlsReplacesSeparatorsAndTrims)
{
    EXPECT_EQ(sanitize("a\tb"), "ab");
    EXPECT_EQ(sanitize(QString("a") + QChar(0x7f) + "b\nc"), "abc");
    EXPECT_EQ(sanitize("a/b:c"), "a-b-c");
    EXPECT_EQ(sanitize("/lead"), "-lead");
    EXPECT_EQ(sanitize("  holiday  "), "holiday");
    // No-break space, ideographic space and NEL count as white space at the ends.
    EXPECT_EQ(sanitize(QString(QChar(0x00a0)) + "x" + QChar(0x3000) + QChar(0x0085)), "x");
    // Spaces inside stay.
    EXPECT_EQ(sanitize(" a b "), "a b");
}

TEST(RenamingTest, SanitizeEmptiesBlankAndDotOnlyNames)
{
    EXPECT_EQ(sanitize(""), "");
    EXPECT_EQ(sanitize("    "), "");
    EXPECT_EQ(sanitize("."), "");
    EXPECT_EQ(sanitize("..."), "");
    EXPECT_EQ(sanitize(" .. "), "");
    EXPECT_EQ(sanitize("\t\x01\x02"), "");
    EXPECT_EQ(sanitize(".a."), ".a.");
    EXPECT_FALSE(RenamingMode::customBase("..").isEffectivelyActive());
    EXPECT_FALSE(RenamingMode::sequence("   ", 1).isEffectivelyActive());
    EXPECT_FALSE(RenamingMode::customBase("\n").renamedStem("x", 3, "_").has_value());
}

TEST(RenamingTest, SanitizeCountsGraphemeClustersForTheLengthLimit)
{
    const QString ascii = QString(150, u'a');
    EXPECT_EQ(sanitize(ascii), QString(100, u'a'));

    // The 100th character is a space: it is kept, nothing is trimmed after the cut.
    const QString spaced = QString(99, u'b') + " " + QString(50, u'c');
    EXPECT_EQ(sanitize(spaced), QString(99, u'b') + " ");

    // A family emoji (several code points joined) and e + combining accent each count once.
    const QString family = QString::fromUtf8("\U0001F468\u200D\U0001F469\u200D\U0001F467");
    QString emojis;
    for (int i = 0; i < 120; ++i)
        emojis += family;
    EXPECT_EQ(sanitize(emojis), emojis.left(family.size() * 100));

    const QString accented = QString::fromUtf8("e\u0301");
    QString many;
    for (int i = 0; i < 101; ++i)
        many += accented;
    EXPECT_EQ(sanitize(many).size(), accented.size() * 100);
}

TEST(RenamingTest, EffectiveActivityAndStems)
{
    EXPECT_FALSE(RenamingMode::none().isEffectivelyActive());
    EXPECT_FALSE(RenamingMode::none().renamedStem("photo", 3, "_").has_value());

    EXPECT_EQ(RenamingMode::sequence("trip", 7).renamedStem("x", 3, "_"), QString("trip_007"));
    EXPECT_EQ(RenamingMode::sequence("trip", 7).renamedStem("x", 0, "_"), QString("trip_7"));
    EXPECT_EQ(RenamingMode::sequence("trip", 1234).renamedStem("x", 2, " - "), QString("trip - 1234"));
    // The separator is used as given, not cleaned.
    EXPECT_EQ(RenamingMode::sequence(" a/b ", 1).renamedStem("x", 2, "/"), QString("a-b/01"));

    EXPECT_EQ(RenamingMode::customBase(" cover ").renamedStem("photo", 5, "_"), QString("cover"));

    EXPECT_EQ(RenamingMode::prefixSuffix("", "_small").renamedStem("photo", 3, "_"), QString("photo_small"));
    EXPECT_EQ(RenamingMode::prefixSuffix("web-", "").renamedStem("photo", 3, "_"), QString("web-photo"));
    // The original stem is never cleaned.
    EXPECT_EQ(RenamingMode::prefixSuffix("p:", "").renamedStem(" a:b ", 3, "_"), QString("p- a:b "));
    EXPECT_FALSE(RenamingMode::prefixSuffix(" ", "..").isEffectivelyActive());
    EXPECT_FALSE(RenamingMode::prefixSuffix("", "").renamedStem("photo", 3, "_").has_value());
}

TEST(RenamingTest, EqualityUsesCanonicalEquivalence)
{
    EXPECT_EQ(RenamingMode::customBase(QString::fromUtf8("caf\u00e9")),
              RenamingMode::customBase(QString::fromUtf8("cafe\u0301")));
    EXPECT_NE(RenamingMode::customBase("a"), RenamingMode::sequence("a", 0));
    EXPECT_NE(RenamingMode::sequence("a", 1), RenamingMode::sequence("a", 2));
    EXPECT_EQ(RenamingMode::prefixSuffix("a", "b"), RenamingMode::prefixSuffix("a", "b"));
    EXPECT_NE(RenamingMode::prefixSuffix("a", "b"), RenamingMode::prefixSuffix("b", "a"));
    EXPECT_EQ(RenamingMode::none(), RenamingMode());
}
