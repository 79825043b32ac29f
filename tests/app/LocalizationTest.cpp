#include "CzechFormat.h"
#include "Localization.h"

#include <QLocale>
#include <QTest>

#include <cstdint>
#include <limits>

using namespace vantro;

namespace {

const QLocale kEnglish(QLocale::English, QLocale::UnitedStates);
const QLocale kCzech(QLocale::Czech, QLocale::CzechRepublic);

// The Czech group separator is a no-break space.
QString cz(QString text)
{
    return text.replace(u'_', QChar(0x00A0));
}

} // namespace

class LocalizationTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void cleanup() { QLocale::setDefault(kEnglish); }

    void languageFollowsTheLocaleAtEveryUse()
    {
        QLocale::setDefault(kCzech);
        QCOMPARE(AppLanguage::current(), AppLanguage::cs);
        QLocale::setDefault(QLocale(QLocale::Czech, QLocale::AnyTerritory));
        QCOMPARE(AppLanguage::current(), AppLanguage::cs);

        // Only the language counts, not the region.
        QLocale::setDefault(QLocale(QLocale::English, QLocale::CzechRepublic));
        QCOMPARE(AppLanguage::current(), AppLanguage::en);
        QLocale::setDefault(QLocale(QLocale::Slovak, QLocale::Slovakia));
        QCOMPARE(AppLanguage::current(), AppLanguage::en);
        QLocale::setDefault(QLocale::c());
        QCOMPARE(AppLanguage::current(), AppLanguage::en);

        QLocale::setDefault(kCzech);
        QCOMPARE(AppLanguage::current(), AppLanguage::cs);
    }

    void textsKeepTheirTypography()
    {
        const Strings en(AppLanguage::en);
        const Strings cs(AppLanguage::cs);
        QCOMPARE(en.language, AppLanguage::en);
        QCOMPARE(cs.language, AppLanguage::cs);

        QCOMPARE(en.dropFilesHere, QStringLiteral("Drop files here"));
        QCOMPARE(cs.dropFilesHere, QStringLiteral(u"P\u0159et\u00E1hn\u011Bte soubory sem"));
        QCOMPARE(en.chooseFilesEllipsis, QStringLiteral(u"Choose Files\u2026"));
        QCOMPARE(cs.chooseFilesEllipsis, QStringLiteral(u"Vybrat soubory\u2026"));
        QCOMPARE(en.exportNameDialogMessage,
                 QStringLiteral(u"Applies only to the files being added right now. "
                                u"The \u201CBase Name\u201D in Settings stays unchanged."));
        QCOMPARE(cs.exportNameDialogMessage,
                 QStringLiteral(u"Plat\u00ED jen pro pr\u00E1v\u011B p\u0159id\u00E1van\u00E9 soubory. "
                                u"\u201EZ\u00E1kladn\u00ED n\u00E1zev\u201C v nastaven\u00ED z\u016Fstane beze zm\u011Bny."));
        QCOMPARE(en.doubleClickOpensSettingsSuffix, QStringLiteral("\n\nDouble-click opens Settings."));
        QCOMPARE(en.presetsHelp, QStringLiteral(u"Saved settings presets \u2014 select one to apply it"));
        QCOMPARE(cs.resizeCaptionPercentage,
                 QStringLiteral(u"Rozsah 1\u20131000 %. Nad 100 % se obr\u00E1zek zv\u011Bt\u0161\u00ED."));
        QCOMPARE(en.resizeCaptionMaxLongEdge,
                 QStringLiteral(u"Longest side, max 1\u201320000 px. Never enlarges a smaller image."));
        QCOMPARE(en.prefixSuffixExample,
                 QStringLiteral(u"photo.jpg \u2192 prefix-photo.webp, photo-suffix.webp, \u2026"));
        QCOMPARE(en.sequenceExamplePlaceholderBase, QStringLiteral("product"));
        QCOMPARE(cs.sequenceExamplePlaceholderBase, QStringLiteral("produkt"));

        // Czech keeps the English mode names.
        QCOMPARE(cs.lossless, QStringLiteral("Lossless"));
        QCOMPARE(cs.summaryModeLossy, QStringLiteral("Lossy"));

        // The Help command's title follows the locale when the value is built.
        QLocale::setDefault(kCzech);
        QCOMPARE(Strings(AppLanguage::current()).supportOnKofi, QStringLiteral("Podpořit na Ko-fi"));
        QLocale::setDefault(kEnglish);
        QCOMPARE(Strings(AppLanguage::current()).supportOnKofi, QStringLiteral("Support on Ko-fi"));
    }

    void countsTakeTheRightPlural()
    {
        const Strings en(AppLanguage::en);
        QCOMPARE(en.optimizedCount(1), QStringLiteral("Optimized 1 image"));
        QCOMPARE(en.optimizedCount(0), QStringLiteral("Optimized 0 images"));
        QCOMPARE(en.optimizedCount(2), QStringLiteral("Optimized 2 images"));
        QCOMPARE(en.optimizedCount(21), QStringLiteral("Optimized 21 images"));
        QCOMPARE(en.optimizedCount(-1), QStringLiteral("Optimized -1 images"));
        QCOMPARE(en.optimizedCount(1000), QStringLiteral("Optimized 1000 images"));

        const Strings cs(AppLanguage::cs);
        const QString one = QStringLiteral("obrázek");
        const QString few = QStringLiteral("obrázky");
        const QString many = QStringLiteral("obrázků");
        const struct {
            int64_t count;
            QString noun;
        } cases[] = {{1, one}, {2, few}, {3, few}, {4, few}, {0, many}, {5, many}, {11, many}, {21, many},
                     {22, many}, {24, many}, {25, many}, {101, many}, {-1, many}, {-2, many}, {1000, many}};
        for (const auto& c : cases)
            QCOMPARE(cs.optimizedCount(c.count),
                     QStringLiteral("Optimalizováno ") + QString::number(c.count) + u' ' + c.noun);
    }

    void textsWithNumbersKeepTheirOwnLanguage()
    {
        QLocale::setDefault(kCzech);
        const Strings cs(AppLanguage::current());
        QLocale::setDefault(kEnglish);
        const Strings en(AppLanguage::current());

        QCOMPARE(cs.optimizedCount(3), QStringLiteral("Optimalizováno 3 obrázky"));
        QCOMPARE(en.quality(80), QStringLiteral("Quality: 80"));
        QCOMPARE(cs.quality(80), QStringLiteral("Kvalita: 80"));
        QCOMPARE(en.digitsCount(2), QStringLiteral("2 dig."));
        QCOMPARE(cs.digitsCount(2), QStringLiteral("2 čísl."));
        QCOMPARE(en.aggregateNoChange(QStringLiteral("3.20 MB")), QStringLiteral("no size change (3.20 MB)"));
        QCOMPARE(cs.aggregateNoChange(QStringLiteral("3,20 MB")), QStringLiteral("beze změny velikosti (3,20 MB)"));
        QCOMPARE(en.aggregateSaved(QStringLiteral("1.20 MB"), QStringLiteral("4.00 MB"), QStringLiteral("30.0%")),
                 QStringLiteral("1.20 MB of 4.00 MB saved, 30.0% decrease"));
        QCOMPARE(cs.aggregateSaved(QStringLiteral("1,20 MB"), QStringLiteral("4,00 MB"), QStringLiteral("30,0 %")),
                 QStringLiteral("1,20 MB z 4,00 MB ušetřeno, 30,0 % úbytek"));
        QCOMPARE(en.aggregateAdded(QStringLiteral("12 KB"), QStringLiteral("100 KB"), QStringLiteral("12.0%")),
                 QStringLiteral("12 KB of 100 KB added, 12.0% increase"));
        QCOMPARE(cs.aggregateAdded(QStringLiteral("12 KB"), QStringLiteral("100 KB"), QStringLiteral("12,0 %")),
                 QStringLiteral("12 KB z 100 KB přidáno, 12,0 % nárůst"));
    }

    void sizes_data()
    {
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<QString>("english");
        QTest::addColumn<QString>("czech");

        const auto row = [](const char* name, qint64 bytes, const char* english, const char* czech) {
            QTest::newRow(name) << bytes << QString::fromUtf8(english) << cz(QString::fromUtf8(czech));
        };
        row("zero", 0, "0 B", "0 B");
        row("largest bytes", 999, "999 B", "999 B");
        row("first kilobyte", 1000, "1.00 KB", "1,00 KB");
        row("two decimals below ten", 9'984, "9.98 KB", "9,98 KB");
        row("half rounds up to ten", 9'995, "10.00 KB", "10,00 KB");
        row("one decimal", 12'345, "12.3 KB", "12,3 KB");
        row("half to even, down", 99'850, "99.8 KB", "99,8 KB");
        row("half to even, up to a hundred", 99'950, "100.0 KB", "100,0 KB");
        row("whole kilobytes, half down", 100'500, "100 KB", "100 KB");
        row("whole kilobytes, half up", 101'500, "102 KB", "102 KB");
        row("decimal half, down to even", 1'005, "1.00 KB", "1,00 KB");
        row("decimal half, up to even", 1'015, "1.02 KB", "1,02 KB");
        row("half to even below a thousand", 998'500, "998 KB", "998 KB");
        row("just under the half", 999'499, "999 KB", "999 KB");
        row("half rounds to a grouped thousand", 999'500, "1,000 KB", "1_000 KB");
        row("unit chosen before rounding", 999'999, "1,000 KB", "1_000 KB");
        row("first megabyte", 1'000'000, "1.00 MB", "1,00 MB");
        row("megabytes", 1'500'000, "1.50 MB", "1,50 MB");
        row("whole megabytes", 150'000'000, "150 MB", "150 MB");
        row("largest megabytes", 999'999'999, "1,000 MB", "1_000 MB");
        row("first gigabyte", 1'000'000'000, "1.00 GB", "1,00 GB");
        row("gigabytes", 2'345'678'901, "2.35 GB", "2,35 GB");
        row("no unit above GB", 2'000'000'000'000, "2,000 GB", "2_000 GB");
        row("sign dropped", -2'500, "2.50 KB", "2,50 KB");
        row("most negative count", std::numeric_limits<qint64>::min(), "9,223,372,037 GB", "9_223_372_037 GB");
    }

    void sizes()
    {
        QFETCH(qint64, bytes);
        QFETCH(QString, english);
        QFETCH(QString, czech);
        QLocale::setDefault(kEnglish);
        QCOMPARE(CzechFormat::size(bytes), english);
        QLocale::setDefault(kCzech);
        QCOMPARE(CzechFormat::size(bytes), czech);
    }

    void percentages_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("english");
        QTest::addColumn<QString>("czech");

        const auto row = [](const char* name, double value, const char* english, const char* czech) {
            QTest::newRow(name) << value << QString::fromUtf8(english) << cz(QString::fromUtf8(czech));
        };
        row("zero", 0, "0.0%", "0,0 %");
        row("hundred", 100, "100.0%", "100,0 %");
        row("one decimal", 12.345, "12.3%", "12,3 %");
        row("half to even, down", 0.25, "0.2%", "0,2 %");
        row("half to even, up", 0.35, "0.4%", "0,4 %");
        row("half of the first place", 0.05, "0.0%", "0,0 %");
        row("half up to a hundred", 99.95, "100.0%", "100,0 %");
        row("half down below a hundred", 99.85, "99.8%", "99,8 %");
        row("negative", -5, "-5.0%", "-5,0 %");
        row("negative half down", -12.25, "-12.2%", "-12,2 %");
        row("negative half up", -12.35, "-12.4%", "-12,4 %");
        row("grouped", 1234.5, "1,234.5%", "1_234,5 %");
        row("not scaled or clamped", -250, "-250.0%", "-250,0 %");
    }

    void percentages()
    {
        QFETCH(double, value);
        QFETCH(QString, english);
        QFETCH(QString, czech);
        QLocale::setDefault(kEnglish);
        QCOMPARE(CzechFormat::percent(value), english);
        QLocale::setDefault(kCzech);
        QCOMPARE(CzechFormat::percent(value), czech);
    }
};

QTEST_GUILESS_MAIN(LocalizationTest)

#include "LocalizationTest.moc"
