#pragma once

// Number texts of the window commands.

#include <cstdint>
#include <string>
#include <string_view>

namespace vtl {

// General format: at most 15 significant digits, no trailing zeros, fixed
// notation unless the value is below 0.00001 or needs more than 15 digits
// before the separator (then d.ddE±x, as 1.5E-6 or 1E20). `decimalSeparator`
// stands between the integer and the fraction.
std::string FormatGeneralFloat(double value, std::string_view decimalSeparator);

// A real number with "." as the decimal separator, whatever the user's
// regional settings: blanks around it, an optional sign, digits with at most
// one ".", an optional exponent. Infinite and NaN texts are no numbers.
bool TryParseDotFloat(std::string_view text, double& value);

// The leading integer of a text: optional leading blanks, an optional sign,
// then decimal digits, or hexadecimal digits after "$", "x" or "0x" (either
// case). 0 when there are no digits; beyond 32 bits the value saturates.
int32_t LeadingInt32(std::string_view text);

}  // namespace vtl
