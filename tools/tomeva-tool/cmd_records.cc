// Subcommands over record definitions: `date` and `record-xml`.
#include <cstdio>
#include <string>
#include <vector>

#include "base/gbk.h"
#include "core/records/field_def.h"
#include "core/records/index_config.h"
#include "json_value.h"
#include "tool_io.h"

namespace tomeva::tool {
namespace {

int RunDate(const std::vector<std::string>& args) {
  ParsedArgs a = ParseArgs(args, {"--file"}, {});
  if (!a.error.empty()) return UsageError(a.error);
  std::string value;
  if (a.Has("--file")) {
    if (!a.positional.empty()) return UsageError("date takes VALUE or --file F, not both");
    if (!ReadInputFile(a.Get("--file"), &value)) return 1;
  } else if (a.positional.size() == 1) {
    value = ArgToGbk(a.positional[0]);
  } else {
    return UsageError("usage: date VALUE | --file F");
  }
  // Through a date field, so that the 10-byte cut applies exactly as when indexing.
  CFieldDef field;
  field.Init("date", 0, 1, "date", "date");
  field.SetValue(value);
  std::printf("{\"value\":%s,\"date\":%s}\n", JsonGbk(value).c_str(),
              JsonGbk(field.GetDateValue()).c_str());
  return 0;
}

int RunRecordXml(const std::vector<std::string>& args) {
  ParsedArgs a = ParseArgs(args, {"--book"}, {});
  if (!a.error.empty()) return UsageError(a.error);
  if (a.positional.size() != 2) return UsageError("usage: record-xml DEFS.xml VALUES.json");
  CIndexConfig config;
  config.SetConfigFile(a.positional[0]);
  if (!config.LoadDefinitions() || config.book_definitions().empty()) {
    return Failure("cannot load field definitions from " + a.positional[0]);
  }
  long long book_index = 0;
  if (a.Has("--book") && (!ParseInt(a.Get("--book"), &book_index) || book_index < 0 ||
                          book_index >= static_cast<long long>(config.book_definitions().size()))) {
    return UsageError("--book must name a book definition by position from 0");
  }
  std::string json_text, error;
  if (!ReadInputFile(a.positional[1], &json_text)) return 1;
  JsonValue values;
  if (!ParseJson(json_text, &values, &error)) return Failure(a.positional[1] + ": " + error);

  CBookDef& book = *config.book_definitions()[book_index];
  book.ClearValues();
  // Values by field name (an object) or by value position (an array), as the import supplies them.
  if (values.kind == JsonValue::Kind::kObject) {
    for (size_t m = 0; m < values.member_names.size(); ++m) {
      const std::string& name = values.member_names[m];
      const JsonValue& v = values.member_values[m];
      std::string gbk_name = Utf8ToGbk(name);
      bool known = false;
      for (int i = 0; i < book.field_count(); ++i) {
        if (book.field(i).GetName() == gbk_name) {
          book.field(i).SetValue(Utf8ToGbk(v.string));
          known = true;
        }
      }
      if (!known) std::fprintf(stderr, "tomeva-tool: no field named %s\n", name.c_str());
    }
  } else if (values.kind == JsonValue::Kind::kArray) {
    for (size_t i = 0; i < values.array.size() && i < static_cast<size_t>(book.field_count()) &&
                       i < static_cast<size_t>(CBookDef::kValueCount);
         ++i) {
      if (!values.array[i].string.empty()) book.field(i).SetValue(Utf8ToGbk(values.array[i].string));
    }
  } else {
    return Failure("VALUES.json must hold an object (by field name) or an array (by position)");
  }
  std::printf("{\"xml\":%s}\n", JsonGbk(book.BuildRecordXml()).c_str());
  return 0;
}

CommandRegistrar date_cmd("date", "VALUE | --file F   normalised date of a date field", &RunDate);
CommandRegistrar record_cmd("record-xml", "DEFS.xml VALUES.json [--book N]   record file text",
                            &RunRecordXml);

}  // namespace
}  // namespace tomeva::tool
