#pragma once
// Header fields of an HTTP answer, read as HTTP defines them.
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace hanabira {

// The values of every header field called name, in the order they came. The text is the status
// line and the header lines joined by line breaks. Field names match in any letter case; blanks
// around a value (and before the colon) are dropped; a line that begins with a blank continues
// the field above it (obsolete folding), joined with one blank. Lines without a colon, such as the
// status line, are no fields.
std::vector<std::string> HeaderFieldValues(std::string_view statusAndHeaders, std::string_view name);

// How long a server asks to be left alone by its Retry-After field (seconds, or an HTTP date
// measured from now), never below 0; -1 when there is no such field or it does not read.
long RetryAfterSeconds(std::string_view statusAndHeaders, std::time_t now);

}  // namespace hanabira
