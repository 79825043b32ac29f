#include "Localization.h"
#include "CzechFormat.h"
#include "TestDoubles.h"

#include <limits>

using namespace vantro;
using namespace vantro::testing;

class LocalizationTest : public QObject {
    Q_OBJECT

    // English and Czech formatting of one value, the Czech group separator
    // written as "_" for the no-break space it is.
    template <typename Format>
    static void compareInBothLanguages(Format format, const QString& english, QString czech)
    {
        QLocale::setDefault(kEnglish);
        QCOMPARE(format(), english);
        QLocale::setDefault(kCzech);
        QCOMPARE(format(), czech.replace(u'_', QChar(0x00A0)));
    }

private Q_SLOTS:
    void cleanup() { QLocale::setDefault(kEnglish); }

    // Only the language counts, not the region.
    void languageFollowsTheLocaleAtEveryUse_data()
    {
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<bool>("czech");
        QTest::newRow("cs_CZ") << kCzech << true;
        QTest::newRow("cs") << QLocale(QLocale::Czech, QLocale::AnyTerritory) << true;
        QTest::newRow("en_CZ") << QLocale(QLocale::English, QLocale::CzechRepublic) << false;
        QTest::newRow("sk_SK") << QLocale(QLocale::Slovak, QLocale::Slovakia) << false;
        QTest::newRow("C") << QLocale::c() << false;
    }

    void languageFollowsTheLocaleAtEveryUse()
    {
        QFETCH(QLocale, locale);
        QFETCH(bool, czech);
        QLocale::setDefault(locale);
        QCOMPARE(AppLanguage::current(), czech ? AppLanguage::cs : AppLanguage::en);
        QCOMPARE(Strings(AppLanguage::current()).supportOnKofi,
                 czech ? QStringLiteral(u"Podpořit na Ko-fi") : QStringLiteral("Support on Ko-fi"));
    }

    // The rule's boundaries: one, two to four, everything else, whole numbers.
    void countsTakeTheRightPlural_data()
    {
        QTest::addColumn<qint64>("count");
        QTest::addColumn<QString>("english");
        QTest::addColumn<QString>("czech");
        QTest::newRow("0") << qint64{0} << "Optimized 0 images" << QStringLiteral(u"Optimalizováno 0 obrázků");
        QTest::newRow("1") << qint64{1} << "Optimized 1 image" << QStringLiteral(u"Optimalizováno 1 obrázek");
        QTest::newRow("2") << qint64{2} << "Optimized 2 images" << QStringLiteral(u"Optimalizováno 2 obrázky");
        QTest::newRow("4") << qint64{4} << "Optimized 4 images" << QStringLiteral(u"Optimalizováno 4 obrázky");
        QTest::newRow("5") << qint64{5} << "Optimized 5 images" << QStringLiteral(u"Optimalizováno 5 obrázků");
        QTest::newRow("21") << qint64{21} << "Optimized 21 images" << QStringLiteral(u"Optimalizováno 21 obrázků");
        QTest::newRow("22") << qint64{22} << "Optimized 22 images" << QStringLiteral(u"Optimalizováno 22 obrázků");
        QTest::newRow("-1") << qint64{-1} << "Optimized -1 images" << QStringLiteral(u"Optimalizováno -1 obrázků");
    }

    void countsTakeTheRightPlural()
    {
        QFETCH(qint64, count);
        QFETCH(QString, english);
        QFETCH(QString, czech);
        QCOMPARE(Strings(AppLanguage::en).optimizedCount(count), english);
        QCOMPARE(Strings(AppLanguage::cs).optimizedCount(count), czech);
    }

    // A value built in one language keeps it when the locale changes.
    void textsWithNumbersKeepTheirOwnLanguage()
    {
        QLocale::setDefault(kCzech);
        const Strings cs(AppLanguage::current());
        QLocale::setDefault(kEnglish);
        QCOMPARE(cs.quality(80), QStringLiteral("Kvalita: 80"));
        QCOMPARE(cs.digitsCount(2), QStringLiteral(u"2 čísl."));
        QCOMPARE(cs.aggregateNoChange(QStringLiteral("3,20 MB")), QStringLiteral(u"beze změny velikosti (3,20 MB)"));
        QCOMPARE(cs.aggregateAdded(QStringLiteral("12 KB"), QStringLiteral("100 KB"), QStringLiteral("12,0 %")),
                 QStringLiteral(u"12 KB z 100 KB přidáno, 12,0 % nárůst"));
    }

    void sizes_data()
    {
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<QString>("english");
        QTest::addColumn<QString>("czech");
        const auto row = [](const char* name, qint64 bytes, const char* english, const char* czech) {
            QTest::newRow(name) << bytes << QString::fromUtf8(english) << QString::fromUtf8(czech);
        };
        row("largest bytes", 999, "999 B", "999 B");
        row("first kilobyte", 1000, "1.00 KB", "1,00 KB");
        row("half rounds up to ten", 9'995, "10.00 KB", "10,00 KB");
        row("one decimal from ten", 10'000, "10.0 KB", "10,0 KB");
        row("decimal half, down to even", 1'005, "1.00 KB", "1,00 KB");
        row("decimal half, up to even", 1'015, "1.02 KB", "1,02 KB");
        row("half to even, up to a hundred", 99'950, "100.0 KB", "100,0 KB");
        row("whole kilobytes, half down", 100'500, "100 KB", "100 KB");
        row("whole kilobytes, half up", 101'500, "102 KB", "102 KB");
        row("unit chosen before rounding", 999'999, "1,000 KB", "1_000 KB");
        row("first megabyte", 1'000'000, "1.00 MB", "1,00 MB");
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
        compareInBothLanguages([&] { return CzechFormat::size(bytes); }, english, czech);
    }

    void percentages_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("english");
        QTest::addColumn<QString>("czech");
        QTest::newRow("half to even, down") << 0.25 << "0.2%"
                                            << "0,2 %";
        QTest::newRow("half to even, up") << 0.35 << "0.4%"
                                          << "0,4 %";
        QTest::newRow("half up to a hundred") << 99.95 << "100.0%"
                                              << "100,0 %";
        QTest::newRow("negative half down") << -12.25 << "-12.2%"
                                            << "-12,2 %";
        QTest::newRow("negative half up") << -12.35 << "-12.4%"
                                          << "-12,4 %";
        QTest::newRow("grouped") << 1234.5 << "1,234.5%"
                                 << "1_234,5 %";
    }

    void percentages()
    {
        QFETCH(double, value);
        QFETCH(QString, english);
        QFETCH(QString, czech);
        compareInBothLanguages([&] { return CzechFormat::percent(value); }, english, czech);
    }
};

QTEST_GUILESS_MAIN(LocalizationTest)
#include "LocalizationTest.moc"
