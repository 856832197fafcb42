#include "core/records/field_def.h"

#include <vector>

#include "base/mbstring.h"

namespace tomeva {
namespace {

constexpr size_t kDateValueBytes = 10;

bool AllDigits(std::string_view s) {
  for (char c : s) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// A two-digit year above 09 is read as 19xx, otherwise as 20xx; four digits stay; any other
// length makes the date unrecognisable (empty).
std::string NormalizeYear(std::string_view y) {
  if (y.size() == 4) return std::string(y);
  if (y.size() == 2) {
    int value = (y[0] - '0') * 10 + (y[1] - '0');
    return (value > 9 ? "19" : "20") + std::string(y);
  }
  return std::string();
}

std::string NormalizeMonthOrDay(std::string_view s) {
  if (s.size() == 1) return "0" + std::string(s);
  if (s.size() == 2) return std::string(s);
  return std::string();
}

// Splits at `sep`, skipping empty pieces, keeping at most three pieces (the third takes the rest).
std::vector<std::string> SplitTokens(std::string_view text, char sep) {
  std::vector<std::string> tokens;
  size_t pos = 0;
  while (pos < text.size() && tokens.size() < 3) {
    while (pos < text.size() && text[pos] == sep) ++pos;
    if (pos >= text.size()) break;
    size_t end = tokens.size() == 2 ? text.size() : text.find(sep, pos);
    if (end == std::string_view::npos) end = text.size();
    tokens.emplace_back(text.substr(pos, end - pos));
    pos = end;
  }
  return tokens;
}

}  // namespace

std::string NormalizeDateValue(std::string_view raw) {
  std::string value = Trim(raw);
  for (char c : value) {
    bool ok = (c >= '0' && c <= '9') || c == ' ' || c == '.' || c == '-' || c == '/';
    if (!ok) return "0";
  }
  std::string year = "0000", month = "00", day = "00";
  for (char& c : value) {
    if (c == '.') c = ' ';
  }
  for (char& c : value) {
    if (c == ' ') c = '-';
  }
  // Each part is normalised as it is taken; the first one that comes out empty makes the whole
  // value unrecognisable.
  auto take = [](std::string* part, std::string normalized) {
    if (normalized.empty()) return false;
    *part = std::move(normalized);
    return true;
  };
  if (value.find('-') != std::string::npos) {
    std::vector<std::string> t = SplitTokens(value, '-');
    if (t.size() > 0 && !take(&year, NormalizeYear(t[0]))) return "0";
    if (t.size() > 1 && !take(&month, NormalizeMonthOrDay(t[1]))) return "0";
    if (t.size() > 2 && !take(&day, NormalizeMonthOrDay(t[2]))) return "0";
  } else if (value.find('/') != std::string::npos) {
    std::vector<std::string> t = SplitTokens(value, '/');
    if (t.size() > 0 && !take(&month, NormalizeMonthOrDay(t[0]))) return "0";
    if (t.size() > 1 && !take(&day, NormalizeMonthOrDay(t[1]))) return "0";
    if (t.size() > 2 && !take(&year, NormalizeYear(t[2]))) return "0";
  } else {
    if (value == "0") return "0";
    if (!AllDigits(value)) return "0";
    std::string_view v = value;
    bool century = v.size() >= 2 && (v.substr(0, 2) == "19" || v.substr(0, 2) == "20");
    switch (v.size()) {
      case 8:
        if (!take(&year, NormalizeYear(v.substr(0, 4))) ||
            !take(&month, NormalizeMonthOrDay(v.substr(4, 2))) ||
            !take(&day, NormalizeMonthOrDay(v.substr(6, 2)))) {
          return "0";
        }
        break;
      case 6:
        if (century) {
          if (!take(&year, NormalizeYear(v.substr(0, 4))) ||
              !take(&month, NormalizeMonthOrDay(v.substr(4, 2)))) {
            return "0";
          }
        } else if (!take(&year, NormalizeYear(v.substr(0, 2))) ||
                   !take(&month, NormalizeMonthOrDay(v.substr(2, 2))) ||
                   !take(&day, NormalizeMonthOrDay(v.substr(4, 2)))) {
          return "0";
        }
        break;
      case 4:
        if (century) {
          if (!take(&year, NormalizeYear(v))) return "0";
        } else if (!take(&year, NormalizeYear(v.substr(0, 2))) ||
                   !take(&month, NormalizeMonthOrDay(v.substr(2, 2)))) {
          return "0";
        }
        break;
      default:
        break;
    }
  }
  // Mixed separators such as "2005.03./." leave a slash or dash inside a part; such a value is not
  // a date, and indexing "200503/-" under the date field would only mislead range queries.
  std::string result = year + month + day;
  if (!AllDigits(result)) return "0";
  return result;
}

void CFieldDef::Init(std::string_view name, int search_flag, int date_flag,
                     std::string_view column, std::string_view column_tag) {
  name_ = std::string(name);
  search_flag_ = search_flag;
  date_flag_ = date_flag;
  column_ = std::string(column);
  column_tag_ = std::string(column_tag);
}

void CFieldDef::SetValue(std::string_view text) {
  if (date_flag_ && text.size() > kDateValueBytes) {
    text = text.substr(0, GbkBoundaryAtOrBefore(text, kDateValueBytes));
  }
  value_ = std::string(text);
}

std::string CFieldDef::GetDateValue() const {
  if (!date_flag_) return value_;
  return NormalizeDateValue(value_);
}

}  // namespace tomeva
