#include "CzechFormat.h"

#include "Localization.h"

#include <QLocale>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <optional>
#include <string>
#include <string_view>

namespace vantro::CzechFormat {

namespace {

struct NumberStyle {
    QString decimalPoint;
    QString groupSeparator;
    QString minusSign;
};

NumberStyle numberStyle(AppLanguage language)
{
    const QLocale locale = language == AppLanguage::en ? QLocale(QLocale::English, QLocale::UnitedStates)
                                                       : QLocale(QLocale::Czech, QLocale::CzechRepublic);
    return {locale.decimalPoint(), locale.groupSeparator(), locale.negativeSign()};
}

// The digits of magnitude * 10^decimals rounded to a whole number, half to
// even, without leading zeros. The rounding works on the shortest decimal form
// that reads back as the same double, so a value typed or computed as 2.675 is
// treated as exactly 2.675 and not as the binary 2.67499999... below it.
std::string scaledRoundedDigits(double magnitude, int decimals)
{
    std::array<char, 64> buffer{};
    const auto result
        = std::to_chars(buffer.data(), buffer.data() + buffer.size(), magnitude, std::chars_format::scientific);
    const std::string_view text(buffer.data(), static_cast<size_t>(result.ptr - buffer.data()));

    // "d.ddde+xx": the significant digits, the first of weight 10^exponent.
    const size_t e = text.find('e');
    std::string significant;
    for (char c : text.substr(0, e))
        if (c != '.')
            significant += c;
    std::string_view exponentText = text.substr(e + 1);
    const bool negativeExponent = exponentText.front() == '-';
    exponentText.remove_prefix(1);
    int exponent = 0;
    std::from_chars(exponentText.data(), exponentText.data() + exponentText.size(), exponent);
    if (negativeExponent)
        exponent = -exponent;

    // After scaling, the first wholeCount significant digits are the whole part.
    const int wholeCount = exponent + decimals + 1;
    std::string whole = "0";
    std::string_view rest;
    if (wholeCount == 0) {
        rest = significant;
    } else if (wholeCount > 0) {
        const size_t taken = std::min(static_cast<size_t>(wholeCount), significant.size());
        whole = significant.substr(0, taken);
        whole.append(static_cast<size_t>(wholeCount) - taken, '0');
        rest = std::string_view(significant).substr(taken);
    } // else below a tenth of the last place: rounds down to zero

    bool roundUp = false;
    if (!rest.empty()) {
        if (rest.front() > '5')
            roundUp = true;
        else if (rest.front() == '5')
            roundUp = rest.find_first_not_of('0', 1) != std::string_view::npos || (whole.back() - '0') % 2 == 1;
    }
    if (roundUp) {
        size_t i = whole.size();
        while (i > 0 && whole[i - 1] == '9')
            whole[--i] = '0';
        if (i == 0)
            whole.insert(whole.begin(), '1');
        else
            ++whole[i - 1];
    }

    const size_t firstNonZero = whole.find_first_not_of('0');
    return firstNonZero == std::string::npos ? std::string("0") : whole.substr(firstNonZero);
}

QString formatNumber(double value, int decimals, const NumberStyle& style)
{
    if (std::isnan(value))
        return QStringLiteral("NaN");
    const QString sign = value < 0 ? style.minusSign : QString();
    if (std::isinf(value))
        return sign + QChar(0x221E);

    std::string digits = scaledRoundedDigits(std::fabs(value), decimals);
    const auto fractionLength = static_cast<size_t>(decimals);
    if (digits.size() < fractionLength + 1)
        digits.insert(0, fractionLength + 1 - digits.size(), '0');

    const size_t wholeLength = digits.size() - fractionLength;
    QString text = sign;
    for (size_t i = 0; i < wholeLength; ++i) {
        if (i > 0 && (wholeLength - i) % 3 == 0)
            text += style.groupSeparator;
        text += QChar(digits[i]);
    }
    if (fractionLength > 0)
        text += style.decimalPoint
            + QString::fromLatin1(digits.data() + wholeLength, static_cast<qsizetype>(fractionLength));
    return text;
}

// Without a fixed count, larger values get fewer decimals: 123 KB, 12.3 KB,
// 1.23 KB.
QString formatted(double value, const QString& suffix, std::optional<int> decimals)
{
    const int d = decimals ? *decimals : value >= 100 ? 0 : value >= 10 ? 1 : 2;
    return formatNumber(value, d, numberStyle(AppLanguage::current())) + u' ' + suffix;
}

} // namespace

QString size(int64_t bytes)
{
    // Through unsigned arithmetic even the most negative count has a magnitude.
    const uint64_t magnitude = bytes < 0 ? 0 - static_cast<uint64_t>(bytes) : static_cast<uint64_t>(bytes);

    struct Unit {
        uint64_t divisor;
        const char* name;
    };
    static constexpr std::array<Unit, 3> units{{{1'000'000'000, "GB"}, {1'000'000, "MB"}, {1'000, "KB"}}};
    for (const Unit& unit : units)
        if (magnitude >= unit.divisor)
            return formatted(static_cast<double>(magnitude) / static_cast<double>(unit.divisor),
                             QString::fromLatin1(unit.name), std::nullopt);
    return formatted(static_cast<double>(magnitude), QStringLiteral("B"), 0);
}

QString percent(double value)
{
    const AppLanguage language = AppLanguage::current();
    const QString number = formatNumber(value, 1, numberStyle(language));
    return language == AppLanguage::en ? number + u'%' : number + QStringLiteral(" %");
}

} // namespace vantro::CzechFormat
