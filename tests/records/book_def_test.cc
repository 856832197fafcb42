#include "core/records/book_def.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "base/gbk.h"
#include "core/records/index_config.h"
#include "support/temp_dir.h"

namespace tomeva {
namespace {

AttributeMap Attrs(std::initializer_list<std::pair<const std::string, std::string>> l) {
  return AttributeMap(l);
}

TEST(FieldDefinition, AttributesAreTrimmedAndFlagsExact) {
  struct Case {
    AttributeMap attrs;
    std::string name, column, tag;
    int search, date;
  };
  const Case cases[] = {
      {Attrs({{"Name", " FdName "}, {"Is4Search", "TRUE"}, {"Column", "title"},
              {"ColTag", " title"}}),
       "FdName", "title", "title", 1, 0},
      {Attrs({{"Name", "A"}, {"Is4Search", "true"}}), "A", "", "", 0, 0},
      {Attrs({{"Name", "A"}, {"Is4Search", " TRUE "}}), "A", "", "", 1, 0},
      {Attrs({{"name", "lower-case attribute name is not Name"}}), "", "", "", 0, 0},
      {Attrs({{"Name", "D"}, {"IsDateSearch", "TRUE"}, {"Column", "d"}}), "D", "d", "", 0, 1},
  };
  for (const Case& c : cases) {
    CBookDef book;
    book.AddFieldDefinition(c.attrs);
    ASSERT_EQ(book.field_count(), 1);
    const CFieldDef& f = book.field(0);
    EXPECT_EQ(f.GetName(), c.name);
    EXPECT_EQ(f.GetColumn(), c.column);
    EXPECT_EQ(f.GetColumnTag(), c.tag);
    EXPECT_EQ(f.IsForSearch(), c.search);
    EXPECT_EQ(f.IsDate(), c.date);
  }
}

TEST(RecordXml, EscapesTrimsAndLeavesOutEmptyValues) {
  CBookDef book;
  for (const char* name : {"FdName", "FdAuthor", "FdContent", ""}) {
    book.AddFieldDefinition(Attrs({{"Name", name}}));
  }
  book.field(0).SetValue("  a<b & c> ");
  book.field(1).SetValue(" \t ");
  book.field(2).SetValue(Utf8ToGbk("床前明月光"));
  book.field(3).SetValue("value of a field without a name");
  EXPECT_EQ(book.BuildRecordXml(),
            "<?xml version=\"1.0\" encoding=\"GB2312\"?>\n<record>\n"
            "\t<FdName>a&lt;b &amp; c&gt;</FdName>\n"
            "\t<FdContent>" + Utf8ToGbk("床前明月光") + "</FdContent>\n</record>\n");
  book.ClearValues();
  EXPECT_EQ(book.BuildRecordXml(),
            "<?xml version=\"1.0\" encoding=\"GB2312\"?>\n<record>\n</record>\n");
}

class IndexConfigTest : public ::testing::Test {
 protected:
  std::string WriteFile(const std::string& name, const std::string& bytes) {
    std::string path = dir_ / name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }
  testing::TempDir dir_;
};

TEST_F(IndexConfigTest, TemplateDefinitionsLoadInOrder) {
  std::string text = BuildFieldDefinitionText("838", Utf8ToGbk("唐诗"));
  // Twelve lines, CR LF between them, none after the last.
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 11);
  EXPECT_TRUE(text.starts_with("<?xml version=\"1.0\" encoding=\"GB2312\"?> \r\n <Library><Book "
                               "Dir=\"838\"  name=\""));
  EXPECT_TRUE(text.ends_with("\"/>\r\n</Book>\r\n</Library>"));

  CIndexConfig config;
  config.Set(WriteFile("temp.xml", text), dir_ / "SearchDB");
  ASSERT_EQ(config.LoadDefinitions(), 1);
  ASSERT_EQ(config.book_definitions().size(), 1u);
  const CBookDef& book = *config.book_definitions()[0];
  ASSERT_EQ(book.field_count(), 8);
  const char* names[] = {"FdName", "FdAuthor", "FdContent", "KeyWords",
                         "FdImgInfo", "FdCat", "FdHtmlFile", "FdLink"};
  const char* tags[] = {"title", "author", "", "KeyWords", "", "f15", "", ""};
  const int search[] = {1, 1, 1, 1, 0, 1, 0, 0};
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(book.field(i).GetName(), names[i]);
    EXPECT_EQ(book.field(i).GetColumnTag(), tags[i]);
    EXPECT_EQ(book.field(i).IsForSearch(), search[i]) << names[i];
  }
}

TEST_F(IndexConfigTest, TwoBooksGiveTwoDefinitionsAndReloadKeepsTheOldDocument) {
  std::string two =
      "<?xml version=\"1.0\"?><Library><Book><Field Name=\"a\"/></Book>"
      "<Book><Field Name=\"b\"/><Field Name=\"c\"/></Book></Library>";
  CIndexConfig config;
  ASSERT_EQ(config.SetConfigFile(WriteFile("defs.xml", two)), 1);
  ASSERT_EQ(config.LoadDefinitions(), 1);
  ASSERT_EQ(config.book_definitions().size(), 2u);
  EXPECT_EQ(config.book_definitions()[1]->field_count(), 2);

  // A file that does not load leaves the previous document and path in place.
  std::string old_path = config.config_path();
  EXPECT_EQ(config.SetConfigFile(WriteFile("bad.xml", "<Library/>")), 0);
  EXPECT_EQ(config.config_path(), old_path);
  EXPECT_NE(config.document(), nullptr);
  EXPECT_EQ(config.SetConfigFile(""), 0);

  CIndexConfig missing;
  missing.Set(dir_ / "absent.xml", dir_.path());
  EXPECT_EQ(missing.config_path(), "");
  EXPECT_EQ(missing.LoadDefinitions(), 0);
}

}  // namespace
}  // namespace tomeva
