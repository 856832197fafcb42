// Date normalisation of record values: arbitrary bytes go through a date field exactly as an
// imported record's value does, and through a plain field for comparison.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/records/field_def.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view value(reinterpret_cast<const char*>(data), size);
  tomeva::CFieldDef date;
  date.Init("date", 1, 1, "date", "date");
  date.SetValue(value);
  std::string normalised = date.GetDateValue();
  // Either "0" or eight characters taken from the value after its separators became "-": a
  // token of the right length is kept as written, so "20/5" or "/-" may appear in it.
  if (normalised != "0") {
    if (normalised.size() != 8) std::abort();
    for (char c : normalised) {
      if ((c < '0' || c > '9') && c != '/' && c != '-') std::abort();
    }
  }
  if (date.GetValue().size() > 10) std::abort();
  tomeva::CFieldDef plain;
  plain.Init("title", 1, 0, "title", "title");
  plain.SetValue(value);
  if (plain.GetDateValue() != plain.GetValue()) std::abort();
  tomeva::NormalizeDateValue(value);
  return 0;
}
