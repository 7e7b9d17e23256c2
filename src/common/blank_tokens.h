#pragma once
// Texts typed as tokens separated by blanks: hexadecimal send data, answer patterns.

#include <string_view>
#include <vector>

namespace ostrel {

// Whether `ch` separates tokens: space, tab, carriage return or line feed.
bool IsTokenBlank(char ch);

// The tokens of `text`, in order, each a view into it; none for a text of blanks.
std::vector<std::string_view> BlankSeparatedTokens(std::string_view text);

}  // namespace ostrel
