// Writing the JSON snapshots: strings from the wire (class names, survey texts)
// may hold quotes, control characters or bytes that are not UTF-8, and must
// still come out as valid JSON.
#ifndef TESSARON_UI_JSON_TEXT_H
#define TESSARON_UI_JSON_TEXT_H

#include <string>

namespace tessaron_ui {

// s as a quoted JSON string; invalid UTF-8 bytes become U+FFFD.
std::string JsonString(const std::string& s);

// A finite number with the given decimals, or null.
std::string JsonNumber(double value, int decimals);

}  // namespace tessaron_ui

#endif  // TESSARON_UI_JSON_TEXT_H
