#include "tools/tomeva-tool/text_copy.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cerrno>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "base/fault_injection.h"
#include "base/file_util.h"
#include "base/gbk.h"
#include "support/temp_dir.h"

namespace tomeva::tool {
namespace {

using Page = std::vector<std::u32string>;  // the page's lines, top to bottom

std::string Hex4(unsigned value) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%04X", value & 0xFFFF);
  return buf;
}

// UTF-16BE hex of one character, as a ToUnicode map writes it.
std::string Utf16Hex(char32_t c) {
  if (c < 0x10000) return Hex4(c);
  const char32_t v = c - 0x10000;
  return Hex4(0xD800 + (v >> 10)) + Hex4(0xDC00 + (v & 0x3FF));
}

// A PDF whose pages draw the given lines, one glyph per character, with a font that is not
// embedded and a ToUnicode map that gives each glyph its character: what an extractor reads is
// exactly the lines, whatever characters they hold. `extra_trailer` goes into the trailer (an
// encryption dictionary, say).
std::string MakePdf(const std::vector<Page>& pages, const std::string& extra_trailer = "") {
  std::map<char32_t, unsigned> cids;
  for (const Page& page : pages) {
    for (const std::u32string& line : page) {
      for (char32_t c : line) cids.emplace(c, static_cast<unsigned>(cids.size() + 1));
    }
  }
  std::string cmap =
      "/CIDInit /ProcSet findresource begin 12 dict begin begincmap\n"
      "/CMapName /Test-UCS def /CMapType 2 def\n"
      "1 begincodespacerange <0000> <FFFF> endcodespacerange\n";
  // At most 100 entries a block.
  std::vector<std::pair<char32_t, unsigned>> entries(cids.begin(), cids.end());
  for (size_t i = 0; i < entries.size(); i += 100) {
    const size_t n = std::min<size_t>(100, entries.size() - i);
    cmap += std::to_string(n) + " beginbfchar\n";
    for (size_t k = i; k < i + n; ++k) {
      cmap += "<" + Hex4(entries[k].second) + "> <" + Utf16Hex(entries[k].first) + ">\n";
    }
    cmap += "endbfchar\n";
  }
  cmap += "endcmap CMapName currentdict /CMap defineresource pop end end\n";

  const int n = static_cast<int>(pages.size());
  // Objects: 1 catalogue, 2 pages, 3 font, 4 CID font, 5 descriptor, 6 ToUnicode, then per page
  // a page object and its content.
  std::vector<std::string> objects = {
      "<< /Type /Catalog /Pages 2 0 R >>",
      "",
      "<< /Type /Font /Subtype /Type0 /BaseFont /TestSong /Encoding /Identity-H"
      " /DescendantFonts [4 0 R] /ToUnicode 6 0 R >>",
      "<< /Type /Font /Subtype /CIDFontType2 /BaseFont /TestSong"
      " /CIDSystemInfo << /Registry (Adobe) /Ordering (Identity) /Supplement 0 >>"
      " /FontDescriptor 5 0 R /DW 1000 >>",
      "<< /Type /FontDescriptor /FontName /TestSong /Flags 4 /FontBBox [0 -200 1000 800]"
      " /ItalicAngle 0 /Ascent 800 /Descent -200 /CapHeight 800 /StemV 80 >>",
      "<< /Length " + std::to_string(cmap.size()) + " >>\nstream\n" + cmap + "endstream",
  };
  std::string kids;
  for (int p = 0; p < n; ++p) {
    const int page_obj = 7 + 2 * p;
    kids += std::to_string(page_obj) + " 0 R ";
    std::string content = "BT\n/F1 20 Tf\n";
    int y = 800;
    for (const std::u32string& line : pages[p]) {
      std::string hex;
      for (char32_t c : line) hex += Hex4(cids[c]);
      content += "1 0 0 1 40 " + std::to_string(y) + " Tm <" + hex + "> Tj\n";
      y -= 30;
    }
    content += "ET\n";
    objects.push_back(
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 600 842]"
        " /Resources << /Font << /F1 3 0 R >> >> /Contents " +
        std::to_string(page_obj + 1) + " 0 R >>");
    objects.push_back("<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content +
                      "endstream");
  }
  objects[1] = "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(n) + " >>";

  std::string pdf = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
  std::vector<size_t> offsets;
  for (size_t i = 0; i < objects.size(); ++i) {
    offsets.push_back(pdf.size());
    pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
  }
  const size_t xref = pdf.size();
  pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
  for (size_t offset : offsets) {
    char line[24];
    std::snprintf(line, sizeof line, "%010zu 00000 n \n", offset);
    pdf += line;
  }
  pdf += "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R " +
         extra_trailer + " >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
  return pdf;
}

// The text copy as UTF-8, with the marks the extractor puts between lines kept.
std::string CopyUtf8(const TextCopyResult& result) { return GbkToUtf8(result.text); }

// The text of every page, split at the form feeds (the last piece, after the last one, dropped).
std::vector<std::string> PagesOf(const std::string& utf8) {
  std::vector<std::string> pages;
  size_t start = 0;
  for (size_t ff = utf8.find('\f'); ff != std::string::npos; ff = utf8.find('\f', start)) {
    pages.push_back(utf8.substr(start, ff - start));
    start = ff + 1;
  }
  EXPECT_EQ(start, utf8.size()) << "text after the last page's form feed";
  return pages;
}

// A password the empty user password does not open: RC4 40-bit, U and O that no password gives.
const char kLockedTrailer[] =
    "/Encrypt << /Filter /Standard /V 1 /R 2 /P -44"
    " /O <0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF>"
    " /U <FEDCBA9876543210FEDCBA9876543210FEDCBA9876543210FEDCBA9876543210> >>"
    " /ID [<00112233445566778899AABBCCDDEEFF> <00112233445566778899AABBCCDDEEFF>]";

TEST(TextCopyTest, PagesLinesAndStandIns) {
  struct Case {
    const char* name;
    std::vector<Page> pages;
    std::vector<std::string> expected_pages;  // UTF-8; lines end in "\n"
    int replaced;
  } cases[] = {
      {"a word broken between two lines is joined",
       {{U"中华人民共", U"和国成立"}},
       {"中华人民共和国成立\n"},
       0},
      {"breaks beside punctuation, Latin text or a blank line stay",
       {{U"第一句。", U"第二句", U"abc", U"中文", U"def"}},
       {"第一句。\n第二句\nabc\n中文\ndef\n"},
       0},
      {"kana is joined like Han", {{U"日本語のテキ", U"スト"}}, {"日本語のテキスト\n"}, 0},
      {"one form feed after each page, an empty page kept",
       {{U"第一页"}, {}, {U"第三页"}},
       {"第一页\n", "", "第三页\n"},
       0},
      {"characters GBK lacks get a stand-in and are counted",
       // ﬁ (ligature) and ⼈ (Kangxi radical) by compatibility; • and the minus sign by a like
       // sign; é and 丟 are in GBK and stay; 𠀀 has no stand-in.
       {{U"\uFB01ne \u2F08 \u2022 caf\u00E9 \u4E1F \U00020000 x\u22121"}},
       {"fine 人 · café 丟 ? x-1\n"},
       5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TextCopyResult result = MakeTextCopy(MakePdf(c.pages));
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(result.pages, static_cast<int>(c.pages.size()));
    EXPECT_EQ(PagesOf(CopyUtf8(result)), c.expected_pages);
    EXPECT_EQ(result.replaced, c.replaced);
    EXPECT_EQ(result.text.find('\0'), std::string::npos);
  }
}

// The page text as extractors give it, with what they may leave in: other line ends, blanks
// around a break, controls.
TEST(TextCopyTest, PageTextConverterJoinsAndReplaces) {
  struct Case {
    const char* name;
    std::u16string page;
    std::string expected;  // UTF-8
    int replaced;
  } cases[] = {
      {"blanks around a joined break go with it", u"\u4E2D\u534E \u00A0\r\n\u3000 \u4EBA\u6C11",
       "中华人民", 0},
      {"a blank line between CJK lines stays", u"\u4E2D\n\n\u6587", "中\n\n文", 0},
      {"a break after the last character stays", u"\u4E2D\n", "中\n", 0},
      {"a lone carriage return is a break", u"ab\rcd", "ab\ncd", 0},
      {"a form feed and a NUL would shift the pages or cut the text",
       std::u16string(u"\u4E0A\f\u4E0B\0x", 5), "上 下 x", 2},
      {"the euro sign, which GBK's converter gives as one high byte; a real ? is no stand-in",
       u"?5\u20AC", "?5?", 1},
      {"a lone surrogate is a character GBK lacks", {u'a', char16_t{0xD800}, u'b'}, "a?b", 1},
      {"a character beyond the first plane is read whole",
       {char16_t{0xD840}, char16_t{0xDC00}},
       "?",
       1},
      {"invisible format characters go, accents alone go", u"co\u00ADop\u200B e\u0301", "coop e",
       3},
      {"a simplified form GBK lacks becomes the traditional one it has", u"\u39D1\u8C26", "撝谦",
       1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PageTextConverter converter;
    int replaced = 0;
    EXPECT_EQ(GbkToUtf8(converter.Convert(c.page, &replaced)), c.expected);
    EXPECT_EQ(replaced, c.replaced);
  }
}

TEST(TextCopyTest, OutsideInputIsRefusedAndTheOldCopyKept) {
  testing::TempDir dir;
  const std::string good = MakePdf({{U"正文"}});
  std::string truncated = good.substr(0, 40);
  struct Case {
    const char* name;
    std::string pdf_name;  // written into the folder unless `pdf` is empty
    std::string pdf;
    std::string out_name;
    const char* error;  // part of the message
    bool write_fails = false;
  } cases[] = {
      {"not a PDF", "junk.pdf", "hello, this is no PDF at all\n", "junk.txt",
       "not a PDF, or damaged"},
      {"cut off before its first object", "cut.pdf", truncated, "cut.txt", "not a PDF, or damaged"},
      {"without a page", "empty.pdf", MakePdf({}), "empty.txt", "no pages"},
      {"locked by a password", "locked.pdf", MakePdf({{U"机密"}}, kLockedTrailer), "locked.txt",
       "encrypted"},
      {"missing", "none.pdf", "", "none.txt", "no such file"},
      {"a PDF named like its own text copy", "book.txt", good, "book.txt", "the PDF itself"},
      {"copy into a folder that does not exist", "fine.pdf", good, "missing/fine.txt",
       "cannot write"},
      {"the disk refuses the copy", "full.pdf", good, "full.txt", "cannot write", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string pdf_path = dir / c.pdf_name;
    const std::string out_path = dir / c.out_name;
    if (!c.pdf.empty()) {
      ASSERT_TRUE(ReplaceFileAtomically(pdf_path, c.pdf));
    }
    const bool had_out = out_path != pdf_path && DirectoryExists(DirName(out_path));
    if (had_out) {
      ASSERT_TRUE(ReplaceFileAtomically(out_path, "old copy\f"));
    }

    if (c.write_fails) ArmFault(FaultSite::kFileWrite, 1, ENOSPC);
    const TextCopyResult result = WriteTextCopy(pdf_path, out_path);
    ClearFaults();
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.error.find(c.error), std::string::npos) << result.error;
    std::string after;
    if (had_out) {
      EXPECT_TRUE(ReadWholeFile(out_path, &after));
      EXPECT_EQ(after, "old copy\f");
    } else if (out_path == pdf_path) {
      EXPECT_TRUE(ReadWholeFile(pdf_path, &after));
      EXPECT_EQ(after, c.pdf);
    } else {
      EXPECT_FALSE(FileExists(out_path));
    }
    // No temporary is left beside it.
    for (const std::string& name : ListDirectory(dir.path())) EXPECT_NE(name[0], '.') << name;
  }
  // A good PDF replaces the old copy whole.
  ASSERT_TRUE(ReplaceFileAtomically(dir / "good.pdf", good));
  ASSERT_TRUE(ReplaceFileAtomically(dir / "good.txt", "old copy\f"));
  const TextCopyResult result = WriteTextCopy(dir / "good.pdf", dir / "good.txt");
  ASSERT_TRUE(result.ok) << result.error;
  std::string after;
  ASSERT_TRUE(ReadWholeFile(dir / "good.txt", &after));
  EXPECT_EQ(GbkToUtf8(after), "正文\n\f");
}

#ifdef TOMEVA_TOOL_PATH
// What a maintainer sees: one line of JSON and status 0, the copy at the PDF's default name; a
// damaged PDF gives a message and status 1.
std::string RunTool(const std::string& args, int* status, const std::string& before = "") {
  const std::string command = before + " " + TOMEVA_TOOL_PATH + " " + args + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  std::string out;
  if (pipe == nullptr) return out;
  char buf[4096];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;) out.append(buf, n);
  const int raw = pclose(pipe);
  *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return out;
}

TEST(TextCopyTest, ToolPrintsCountsAndRefusesDamage) {
  testing::TempDir dir;
  ASSERT_TRUE(ReplaceFileAtomically(dir / "poem.pdf", MakePdf({{U"床前明", U"月光\u2022"}, {}})));
  ASSERT_TRUE(ReplaceFileAtomically(dir / "bad.pdf", "%PDF-1.4 nothing else"));
  int status = -1;
  EXPECT_EQ(RunTool("text-copy '" + (dir / "poem.pdf") + "'", &status),
            "{\"pages\":2,\"bytes\":15,\"replaced\":1}\n");
  EXPECT_EQ(status, 0);
  std::string copy;
  ASSERT_TRUE(ReadWholeFile(dir / "poem.txt", &copy));
  EXPECT_EQ(GbkToUtf8(copy), "床前明月光·\n\f\f");

  std::string message = RunTool("text-copy '" + (dir / "bad.pdf") + "'", &status);
  EXPECT_EQ(status, 1);
  EXPECT_NE(message.find("bad.pdf: not a PDF"), std::string::npos) << message;
  EXPECT_FALSE(FileExists(dir / "bad.txt"));

  // A disk that takes only part of the copy (a file size limit of 512 bytes): the write fails
  // midway, the old copy stays whole and no temporary is left.
  Page long_page(25, U"\u4E00\u4E8C\u4E09\u56DB\u4E94\u516D\u4E03\u516B\u4E5D\u5341\u3002");
  ASSERT_TRUE(ReplaceFileAtomically(dir / "long.pdf", MakePdf({long_page})));
  ASSERT_TRUE(ReplaceFileAtomically(dir / "long.txt", "old copy\f"));
  message =
      RunTool("text-copy '" + (dir / "long.pdf") + "'", &status, "trap '' XFSZ; ulimit -f 1;");
  EXPECT_EQ(status, 1);
  EXPECT_NE(message.find("cannot write"), std::string::npos) << message;
  std::string old_copy;
  ASSERT_TRUE(ReadWholeFile(dir / "long.txt", &old_copy));
  EXPECT_EQ(old_copy, "old copy\f");
  for (const std::string& name : ListDirectory(dir.path())) EXPECT_NE(name[0], '.') << name;
  // Without the limit the same copy is written: the failure above was the disk's.
  EXPECT_EQ(RunTool("text-copy '" + (dir / "long.pdf") + "'", &status),
            "{\"pages\":1,\"bytes\":" + std::to_string(25 * 23 + 1) + ",\"replaced\":0}\n");
}
#endif

}  // namespace
}  // namespace tomeva::tool
