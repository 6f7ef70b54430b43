// Splitting a row into fields and reading numbers from them, locale-independently.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qvr {

// The delimiter a header or first row uses: a tab if it has one, else a comma if it has one,
// else ' ' (runs of blanks).
char delimiterOf(std::string_view line);

// Splits at `delimiter` (' ': runs of blanks); on a comma or tab, RFC 4180 quotes ("" for a
// quote, delimiters inside quotes). Every field is trimmed. False when a quote is never closed.
bool splitRow(std::string_view line, char delimiter, std::vector<std::string>& fields);

std::string_view trim(std::string_view text);

// A whole field as a finite number; with decimalComma, "512,5" reads as 512.5.
bool parseNumber(std::string_view text, bool decimalComma, double& value);
bool parseInteger(std::string_view text, long& value);

} // namespace qvr
