#pragma once
// The numeric test and the integer conversions applied to settings values and to the
// validators' arguments.
//
// A numeric text, with blanks (spaces, tabs) allowed before and after, is either
//   [sign] digits-with-commas [ "." [digits] ] [ exponent ]    or    [sign] "." digits [ exponent ]
// where digits-with-commas is digits optionally grouped by single commas ("1,000",
// "12,34"), the exponent is E or D (either case), an optional sign and digits; or a
// hexadecimal integer "&H" followed by hexadecimal digits (either case, no sign).
// The empty text and a text of blanks only are not numeric.

#include <cstdint>
#include <string_view>

namespace ostrel {

bool IsNumericText(std::string_view text);

// The value of a hexadecimal digit, either case; -1 for any other character.
int HexDigitValue(char c);

// The value of a numeric text rounded to the nearest integer, halves to even
// (2.5 gives 2, 3.5 gives 4, -2.5 gives -2). A hexadecimal text of up to eight
// significant digits is a 32-bit two's-complement value (&HFFFFFFFF is -1).
// Raises RunTimeError(desc::kOverflow) when the value lies outside the target type,
// and RunTimeError(desc::kTypeMismatch) when the text is not numeric.
int32_t TextToLong(std::string_view text);
int16_t TextToInteger(std::string_view text);

}  // namespace ostrel
