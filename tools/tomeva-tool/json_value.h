// A small JSON reader for the tool's input files (UTF-8 JSON).
#ifndef TOMEVA_TOOLS_TOMEVA_TOOL_JSON_VALUE_H_
#define TOMEVA_TOOLS_TOMEVA_TOOL_JSON_VALUE_H_

#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tomeva::tool {

struct JsonValue {
  enum class Kind { kNull, kBool, kNumber, kString, kArray, kObject } kind = Kind::kNull;
  bool boolean = false;
  double number = 0;
  std::string string;                                     // UTF-8
  std::vector<JsonValue> array;
  // Members in file order, as two parallel lists (a pair holding the value type itself cannot be
  // declared inside it).
  std::vector<std::string> member_names;
  std::vector<JsonValue> member_values;
};

// Parses a whole JSON text. On failure returns false and sets `error` (with the byte offset).
bool ParseJson(std::string_view text, JsonValue* value, std::string* error);

}  // namespace tomeva::tool

#endif  // TOMEVA_TOOLS_TOMEVA_TOOL_JSON_VALUE_H_
