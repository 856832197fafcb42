#include "core/records/field_def.h"

#include <gtest/gtest.h>

#include "base/gbk.h"

namespace tomeva {
namespace {

TEST(DateValue, NormalisesTheRecognisedForms) {
  struct Case {
    const char* in;  // UTF-8
    const char* want;
  };
  const Case cases[] = {
      {"2005-3-7", "20050307"},   {"3/7/2005", "20050307"},    {"2005.03.07", "20050307"},
      {"20050307", "20050307"},   {"980307", "19980307"},      {"200503", "20050300"},
      {"9803", "19980300"},       {"2005", "20050000"},        {"0", "0"},
      {"2005年", "0"},            {"2005-3", "20050300"},      {"", "00000000"},
      {"05-3-7", "20050307"},     {"123-3-7", "0"},            {"10-1-1", "19100101"},
      {"09-1-1", "20090101"},     {" 2005 3 7 ", "20050307"},  {"2005-13-40", "20051340"},
      {"2005-123-1", "0"},        {"3/7", "00000307"},         {"12345", "00000000"},
      {"abc", "0"},               {"2005/3/7", "0"},           {"1-2-3-4", "0"},
      {"050307", "20050307"},     {"0503", "20050300"},        {"2005.03./.", "0"},
      {"3/7-2005", "0"},
  };
  for (const Case& c : cases) {
    CFieldDef f;
    f.Init("FdDate", 0, 1, "date", "date");
    f.SetValue(Utf8ToGbk(c.in));
    EXPECT_EQ(f.GetDateValue(), c.want) << "value: " << c.in;
  }
}

TEST(DateValue, DateFieldKeepsTenBytesOtherFieldsKeepAll) {
  CFieldDef date;
  date.Init("FdDate", 0, 1, "", "");
  date.SetValue("2005-03-07 10:30");
  EXPECT_EQ(date.GetValue(), "2005-03-07");
  EXPECT_EQ(date.GetDateValue(), "20050307");

  // A cut that would fall inside a double-byte character keeps the character out.
  date.SetValue("200503071" + Utf8ToGbk("年"));
  EXPECT_EQ(date.GetValue(), "200503071");

  CFieldDef plain;
  plain.Init("FdName", 1, 0, "title", "title");
  plain.SetValue("2005-03-07 10:30");
  EXPECT_EQ(plain.GetDateValue(), "2005-03-07 10:30");
}

}  // namespace
}  // namespace tomeva
