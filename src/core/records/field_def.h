// One field definition of the field definition file, with the current record's value for it.
#ifndef TOMEVA_CORE_RECORDS_FIELD_DEF_H_
#define TOMEVA_CORE_RECORDS_FIELD_DEF_H_

#include <string>
#include <string_view>

namespace tomeva {

class CFieldDef {
 public:
  void Init(std::string_view name, int search_flag, int date_flag, std::string_view column,
            std::string_view column_tag);

  // Stores the value; a date field keeps only the first 10 bytes (cut on a character boundary,
  // so that a double-byte character is never split).
  void SetValue(std::string_view text);

  const std::string& GetValue() const { return value_; }
  const std::string& GetName() const { return name_; }
  const std::string& GetColumn() const { return column_; }
  const std::string& GetColumnTag() const { return column_tag_; }
  int IsForSearch() const { return search_flag_; }
  int IsDate() const { return date_flag_; }

  // The value for a non-date field; for a date field the normalised date: "YYYYMMDD", or "0" when
  // the value is not a recognisable date. Never throws.
  std::string GetDateValue() const;

 private:
  int search_flag_ = 0;
  std::string name_;
  std::string value_;
  int date_flag_ = 0;
  std::string column_;
  std::string column_tag_;
};

// The date normalisation used by GetDateValue for date fields, on its own.
std::string NormalizeDateValue(std::string_view value);

}  // namespace tomeva

#endif  // TOMEVA_CORE_RECORDS_FIELD_DEF_H_
