#pragma once

#include <QString>

#include <cstdint>

// Byte sizes and percentages as the job list shows them, in the number style
// of the interface language: despite its name, CzechFormat formats for both
// languages (en_US or cs_CZ conventions). Values are rounded half to even on
// their shortest decimal form, so 0.25 gives 0.2 and 0.35 gives 0.4 in both.
namespace vantro::CzechFormat {

// Decimal units in steps of 1000: B, KB, MB, GB. The sign is dropped; the unit
// is chosen on the exact count, so 999,999 bytes gives 1,000 KB.
QString size(int64_t bytes);

// A value already on the 0 to 100 scale, kept with its sign, with exactly one
// decimal; "%" follows directly in English and after a space in Czech.
QString percent(double value);

} // namespace vantro::CzechFormat
