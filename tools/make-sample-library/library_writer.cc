#include "tools/make-sample-library/library_writer.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "base/file_util.h"
#include "base/gbk.h"
#include "base/mbstring.h"
#include "core/library/catalogue_edit.h"
#include "core/records/book_def.h"
#include "core/records/index_config.h"
#include "core/settings/settings.h"
#include "core/update/version_check.h"
#include "core/xml/text_scrambler.h"
#include "engine_kms/kms_engine.h"
#include "tools/make-sample-library/corpus.h"
#include "tools/make-sample-library/library_plan.h"
#include "tools/make-sample-library/plain_pdf.h"
#include "tools/make-sample-library/render.h"
#include "tools/make-sample-library/update_signing.h"

namespace tomeva::sample {
namespace {

constexpr char kCrLf[] = "\r\n";
constexpr char kDeclaration[] = "<?xml version=\"1.0\" encoding=\"GB2312\"?>";
constexpr char kPageHead[] =
    "<html>\r\n<head>\r\n"
    "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\">\r\n";

std::string G(std::string_view utf8) { return Utf8ToGbk(utf8); }

// Escapes text for element content and attribute values (the poems hold none of these
// characters, but a scaled or edited corpus might).
std::string Esc(std::string_view text) {
  return ReplaceAll(EscapeRecordValue(text), "\"", "&quot;");
}

// The writer works in a fresh folder it owns and names every file itself: no flush per file and
// no lookup of names without regard to case, which would make each new file cost a folder listing.
class Writer {
 public:
  explicit Writer(std::string* error) : error_(error) {}

  bool Write(const std::string& path, std::string_view bytes) {
    WriteOptions options;
    options.sync = false;
    options.resolve_case = false;
    return ReplaceFileAtomically(path, bytes, options) || Fail("cannot write " + path);
  }

  bool MakeDir(const std::string& path) {
    return MakeDirectories(path) || Fail("cannot create the folder " + path);
  }

  bool Fail(const std::string& message) {
    if (error_->empty()) *error_ = message;
    return false;
  }

 private:
  std::string* error_;
};

std::string Page(const std::string& title, const std::string& body) {
  return kPageHead + std::string("<title>") + title + "</title>\r\n</head>\r\n" +
         "<body bgcolor=\"#fdfaf2\">\r\n" + body + "</body>\r\n</html>\r\n";
}

// A poem as page mark-up: title, author, stanzas as paragraphs.
std::string PoemMarkup(const RecordPlan& record) {
  std::string html = "<h3>" + Esc(record.lines[0]) + "</h3>\r\n";
  if (!record.lines[1].empty()) html += "<p><i>" + Esc(record.lines[1]) + "</i></p>\r\n";
  html += "<p>";
  for (size_t i = 2; i < record.lines.size(); ++i) {
    if (record.lines[i].empty()) {
      html += "</p>\r\n<p>";
    } else {
      html += Esc(record.lines[i]);
      if (i + 1 < record.lines.size() && !record.lines[i + 1].empty()) html += "<br>";
      html += kCrLf;
    }
  }
  return html + "</p>\r\n";
}

// ---- settings files ---------------------------------------------------------------------

std::string SystemXml() {
  std::string x = kDeclaration + std::string(kCrLf) + "<System>\r\n";
  auto element = [&x](const char* name, const std::string& value) {
    x += std::string("\t<") + name + ">" + value + "</" + name + ">\r\n";
  };
  // The folder of the user's guide (and of an exit command, which the sample has none of): not
  // the library folder, whose Tomeva.htm is the product page.
  element("path", "./help");
  element("SearchDataDir", "./SearchDB");
  element("EBookDir", ".");
  element("KEY_FIELD1", G("标题"));
  element("KEY_FIELD2", G("作者"));
  element("KEY_FIELD3", G("内容摘要"));
  element("URLBase", "http://127.0.0.1:8321/fulltext?lib=sample");
  element("URLBase2", "&amp;doc=");
  element("user", "reader");
  element("pass", "sample");
  return x + "</System>";
}

// The sample's absolute folder, without a trailing "/", with the links of the part that exists
// resolved: the program reads a file: version page only under the library folder as it finds
// itself running in it, which is the folder's real path.
std::string AbsoluteFolder(const std::string& out) {
  std::error_code ec;
  std::string dir = std::filesystem::absolute(out, ec).lexically_normal().string();
  if (ec) dir = out;
  const std::filesystem::path real = std::filesystem::weakly_canonical(dir, ec);
  if (!ec) dir = real.string();
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return dir;
}

// The version check reads the sample's own version page, which lists no installed version: the
// check is made at every start, without a network and without anything to update. The publisher's
// page is the sample's too. Both are addressed by the absolute path of the installation folder.
std::string ContactInfoXml(const std::string& home) {
  const std::string dir = AbsoluteFolder(home);
  return kDeclaration + std::string(kCrLf) + "<ContactInfo>\r\n\t<CheckVersionUrl> file://" + dir +
         "/version.xml </CheckVersionUrl>\r\n\t<PublisherUrl>file://" + dir +
         "/publisher.htm</PublisherUrl>\r\n</ContactInfo>";
}

// Where the sample keeps the publisher's updater with its manifest, their signatures and the
// publisher's public key, standing for the maker's server.
constexpr char kUpdatesFolder[] = "updates";
constexpr char kUpdaterName[] = "setup.sh";
// The version the sample's updater brings: the one after the program's built-in version, so
// newer than every version an installation of the sample has (that one, and 3.9.0.0, which its
// version page lists).
std::string SampleUpdaterVersion() {
  std::vector<uint32_t> numbers = ParseVersion(kBuiltInVersion).value_or(std::vector<uint32_t>{0});
  ++numbers.back();
  std::string version;
  for (uint32_t number : numbers) {
    version += (version.empty() ? "" : ".") + std::to_string(number);
  }
  return version;
}

// The maker's version page (docs/formats/version-page.md): the sample's signed updater, and only
// versions that no installation of the sample has.
std::string VersionPageXml(const std::string& home) {
  return kDeclaration + std::string(kCrLf) + "<versions>\r\n\t<file>file://" +
         AbsoluteFolder(home) + "/" + kUpdatesFolder + "/" + kUpdaterName +
         "</file>\r\n\t<update version=\"3.9.0.0\"/>\r\n</versions>";
}

// The sample's updater: it installs nothing, and notes in the installation folder (where the
// program starts it) that it ran.
constexpr char kSampleUpdater[] =
    "#!/bin/sh\n"
    "# The sample library's updater. A publisher's updater installs the new version; this one\n"
    "# only notes that the program verified its signature and started it.\n"
    "echo \"sample updater ran\" > updater-ran.txt\n";

// The publisher's part, in the updates folder: the updater, its manifest (docs/formats/
// version-page.md, "The manifest") with the manifest's signature, the updater's own detached
// signature (for checking it by hand with signify-openbsd), and the public key as the publisher
// hands it to installers. The key pair is made for this sample alone; its secret half is never
// written. No key goes into the installation itself: the program trusts only keys installed
// outside every library (make-sample-library --install-update-key).
bool WriteSignedUpdater(const std::string& out, Writer* w) {
  const std::unique_ptr<UpdateSigningKey> key = UpdateSigningKey::Generate();
  if (key == nullptr) return w->Fail("cannot make the sample's update key");
  const std::string digest = Sha256Hex(kSampleUpdater);
  const std::string manifest = std::string(kManifestFirstLine) + "\nfile " + kUpdaterName +
                               "\nversion " + SampleUpdaterVersion() + "\nsha256 " + digest + "\n";
  const std::string public_key = key->PublicKeyFile("sample library update public key");
  const std::string signature = key->SignatureFile(kSampleUpdater, "verify with update.pub");
  const std::string manifest_signature = key->SignatureFile(manifest, "verify with update.pub");
  if (digest.empty() || public_key.empty() || signature.empty() || manifest_signature.empty()) {
    return w->Fail("cannot sign the sample's updater");
  }
  const std::string folder = JoinPath(out, kUpdatesFolder);
  const std::string updater = JoinPath(folder, kUpdaterName);
  if (!w->MakeDir(folder) || !w->Write(JoinPath(out, kSampleUpdateKeyFile), public_key) ||
      !w->Write(updater, kSampleUpdater) || !w->Write(updater + ".sig", signature) ||
      !w->Write(updater + kManifestSuffix, manifest) ||
      !w->Write(updater + kManifestSignatureSuffix, manifest_signature)) {
    return false;
  }
  if (::chmod(updater.c_str(), 0755) != 0) return w->Fail("cannot make " + updater + " runnable");
  return true;
}

// The frame mark-up is stored with its angle brackets written as @&lt@ and @&gt@, and @@dir@@
// standing for the library folder, the way the result pages expect it.
std::string SearchResultConfigXml() {
  auto tags = [](std::string markup) {
    markup = ReplaceAll(markup, "<", "@&lt@");
    return ReplaceAll(markup, ">", "@&gt@");
  };
  std::string top = tags(
      "<table width=\"90%\" align=\"center\"><tr><td><img src=\"@@dir@@images\\banner.png\">"
      "</td><td><font size=4 color=\"#1941a5\">" +
      G("古典诗词示例书库 检索结果") + "</font></td></tr></table>" +
      // The paging buttons of result pages: previous page, previous hit, next hit, next page.
      "<p align=\"center\"><input type=button id=B0 value=\"" + G("上一页") +
      "\"> <input type=button id=B1 value=\"" + G("上一条") +
      "\"> <input type=button id=B2 value=\"" + G("下一条") +
      "\"> <input type=button id=B3 value=\"" + G("下一页") + "\"></p>");
  std::string bottom = tags("<hr><p align=\"center\"><font size=2>" + G("示例书库 仅供测试") +
                            "</font> <img src=\"@@dir@@images\\footer.png\"></p>");
  return kDeclaration + std::string(kCrLf) + "<SearchResultConfig>\r\n" +
         "\t<style>body { font-family: SimSun, serif; } td { font-size: 14px; line-height: "
         "160%; }</style>\r\n" +
         "\t<bodytop>" + top + "</bodytop>\r\n" + "\t<bodybottom>" + bottom + "</bodybottom>\r\n" +
         "\t<bodybkcolor>#fdfaf2</bodybkcolor>\r\n</SearchResultConfig>";
}

std::string HomePage(const std::vector<BookPlan>& books) {
  std::string body = "<h2>" + G("古典诗词示例书库") + "</h2>\r\n<p>" +
                     G("欢迎使用。左边的树列出书库中的书籍；在上方输入字词即可全文检索。") +
                     "</p>\r\n<ul>\r\n";
  for (const BookPlan& book : books) {
    if (book.waiting) continue;
    std::string target = book.root.htm.empty() ? book.root.sections.front().htm : book.root.htm;
    body += "<li><a href=\"" + book.dir + "/" + target + "\">" + book.name + "</a></li>\r\n";
  }
  return Page(G("古典诗词示例书库"), body + "</ul>\r\n");
}

std::string ProductPage() {
  return Page("Tomeva", "<h2>Tomeva " + G("电子书阅读与全文检索") + "</h2>\r\n<p>" +
                            G("版本 4.0.0.1。本书库由诗词示例数据生成，供开发与测试使用。") +
                            "</p>\r\n");
}

// The installation's page about its publisher, which the publisher's-site command opens when
// ContactInfo.xml names no site: who publishes the library and how new books reach it.
std::string PublisherPage(const std::vector<BookPlan>& books) {
  std::string installed, waiting;
  for (const BookPlan& book : books) {
    (book.waiting ? waiting : installed) += "<li>" + Esc(book.name) + "</li>\r\n";
  }
  return Page(
      G("关于出版者"),
      "<h2>" + G("古典诗词示例书库的出版者") + "</h2>\r\n<p>" +
          G("本书库由 Tomeva 项目编成并随程序发行，供试用、开发与测试使用。书中的诗词取自"
            "自由软件 fortunes-zh 收录的唐诗、宋诗与《诗经》，原文属于公有领域。") +
          "</p>\r\n<h3>" + G("已收录的书") + "</h3>\r\n<ul>\r\n" + installed +
          "</ul>\r\n<h3>" + G("如何获得新书") + "</h3>\r\n<p>" +
          G("新书以“书目片段 + 书籍文件夹”的形式发行：书目片段是一个名为 bookconfig*.xml 的文件，"
            "书籍文件夹中有书的目录 chapter.xml、记录文件、网页与 PDF 文件。把两者一起复制到安装"
            "文件夹的 Update 文件夹中，下次启动程序时会自动导入：程序显示导入进度，把新书加入书目"
            "与全文索引，完成后新书即出现在左边的书库树中，可以检索。") +
          "</p>\r\n<p>" + G("本示例书库安装时，Update 文件夹中放有两本书，第一次启动程序时即被导入：") +
          "</p>\r\n<ul>\r\n" + waiting + "</ul>\r\n<h3>" + G("联系方式") +
          "</h3>\r\n<p>" +
          G("示例书库不提供网上服务。正式发行的书库在安装文件夹的 ContactInfo.xml 中以 "
            "PublisherUrl 写明出版者的网址，工具栏上的“出版社”按钮即打开该网址。") +
          "</p>\r\n");
}

// ---- catalogue ------------------------------------------------------------------------------

std::string CatalogueText(const std::vector<BookPlan>& books) {
  std::string text = kDeclaration + std::string(kCrLf) + "<books>\r\n";
  for (const BookPlan& book : books) {
    if (!book.waiting) text += BuildBookLines(book.dir, book.category, Esc(book.name));
  }
  return text + "</books>";
}

// A one-book catalogue fragment; a version on the root marks the newer record format.
std::string FragmentText(const BookPlan& book) {
  return kDeclaration + std::string(kCrLf) +
         (book.older_format ? "<books>" : "<books version=\"2.0\">") + kCrLf + "<book dir=\"" +
         book.dir + "\" name=\"" + Esc(book.name) + "\"/>" + kCrLf + "</books>";
}

// ---- table of contents ------------------------------------------------------------------

void AppendSection(const BookPlan& book, const SectionPlan& section, int depth, std::string* x) {
  std::string indent(depth, '\t');
  for (int r : section.records) {
    const RecordPlan& record = book.records[r];
    *x += indent + "<record title=\"" + Esc(record.values[kTitle]) + "\"";
    if (!record.own_pdf.empty()) *x += " pdf=\"" + record.own_pdf + "\"";
    *x += ">" + record.file + "</record>\r\n";
  }
  for (const SectionPlan& child : section.sections) {
    *x += indent + "<dir name=\"" + Esc(child.name) + "\"";
    if (!child.htm.empty()) *x += " htm=\"" + child.htm + "\"";
    if (!child.pdf.empty()) *x += " pdf=\"" + child.pdf + "\"";
    *x += ">\r\n";
    AppendSection(book, child, depth + 1, x);
    *x += indent + "</dir>\r\n";
  }
}

std::string ChapterXml(const BookPlan& book) {
  std::string x = kDeclaration + std::string(kCrLf) + "<book";
  if (!book.root.pdf.empty()) x += " pdf=\"" + book.root.pdf + "\"";
  if (!book.root.htm.empty()) x += " htm=\"" + book.root.htm + "\"";
  x += ">\r\n";
  AppendSection(book, book.root, 1, &x);
  return x + "</book>";
}

// ---- record files of waiting books ------------------------------------------------------

std::string WaitingRecordXml(const BookPlan& book, const RecordPlan& record) {
  std::string x = kDeclaration + std::string("\n<record>\n");
  auto element = [&x](const char* name, const std::string& value) {
    if (!value.empty())
      x += std::string("\t<") + name + ">" + EscapeRecordValue(value) + "</" + name + ">\n";
  };
  if (book.older_format) {
    element("f0", record.values[kTitle]);
    element("f2", record.values[kImageInfo]);
    element("f5", record.values[kContent]);
    element("f15", book.dir);
  } else {
    element("FdName", record.values[kTitle]);
    element("FdAuthor", record.values[kAuthor]);
    element("FdContent", record.values[kContent]);
    element("KeyWords", record.values[kKeywords]);
    element("FdImgInfo", record.values[kImageInfo]);
    element("FdHtmlFile", record.values[kHtmlFile]);
    element("FdLink", record.values[kLink]);
  }
  return x + "</record>\n";
}

// ---- one book folder --------------------------------------------------------------------

class BookWriter {
 public:
  BookWriter(const BookPlan& book, std::string folder, Writer* w, int* pdf_count)
      : book_(book), folder_(std::move(folder)), w_(w), pdf_count_(pdf_count) {}

  bool Run() {
    if (!w_->MakeDir(folder_) || !w_->MakeDir(JoinPath(folder_, "img")) ||
        !w_->MakeDir(JoinPath(folder_, "pdf"))) {
      return false;
    }
    int seed = 0;
    for (const PicturePlan& picture : book_.pictures) {
      if (!WritePicture(JoinPath(folder_, picture.path), ++seed + std::stoi(book_.dir) * 7,
                        picture.label)) {
        return w_->Fail("cannot draw " + JoinPath(folder_, picture.path));
      }
    }
    if (!w_->Write(JoinPath(folder_, "chapter.xml"), ChapterXml(book_))) return false;
    if (!WritePages() || !WritePdfs()) return false;
    if (book_.waiting) {
      for (const RecordPlan& record : book_.records) {
        if (!w_->Write(JoinPath(folder_, record.file), WaitingRecordXml(book_, record))) {
          return false;
        }
      }
    }
    return true;
  }

 private:
  bool WritePages() {
    if (!book_.root.htm.empty()) {
      std::string body = "<h2>" + Esc(book_.name) + "</h2>\r\n";
      if (!book_.cover.empty()) body += "<p><img src=\"" + book_.cover + "\"></p>\r\n";
      body += "<ul>\r\n";
      for (const SectionPlan& s : book_.root.sections) {
        body += "<li><a href=\"" + s.htm + "\">" + Esc(s.name) + "</a></li>\r\n";
      }
      if (!w_->Write(JoinPath(folder_, book_.root.htm), Page(book_.name, body + "</ul>\r\n"))) {
        return false;
      }
    }
    if (!WriteSectionPages(book_.root)) return false;
    for (const RecordPlan& record : book_.records) {
      const std::string& html = record.values[kHtmlFile];
      if (html.empty() || !EndsWith(ToLowerAscii(html), ".htm")) continue;
      if (!w_->Write(JoinPath(folder_, html), Page(record.values[kTitle], PoemMarkup(record)))) {
        return false;
      }
    }
    for (const LinkPagePlan& page : book_.link_pages) {
      if (!w_->Write(
              JoinPath(folder_, page.path),
              Page(page.title, "<h2>" + page.title + "</h2>\r\n<p>" + page.text + "</p>\r\n"))) {
        return false;
      }
    }
    return true;
  }

  // A section with sub-sections lists them; a section of records shows the poems.
  bool WriteSectionPages(const SectionPlan& section) {
    for (const SectionPlan& child : section.sections) {
      if (!child.htm.empty() && !EqualsNoCase(child.htm, "home.htm")) {
        std::string body = "<h2>" + Esc(child.name) + "</h2>\r\n";
        if (!child.sections.empty()) {
          body += "<ul>\r\n";
          for (const SectionPlan& s : child.sections) {
            body += "<li><a href=\"" + s.htm + "\">" + Esc(s.name) + "</a>";
            for (int r : s.records) body += " " + Esc(book_.records[r].values[kTitle]);
            body += "</li>\r\n";
          }
          body += "</ul>\r\n";
        }
        for (int r : child.records) body += PoemMarkup(book_.records[r]);
        if (!w_->Write(JoinPath(folder_, child.htm), Page(Esc(child.name), body))) return false;
      }
      if (!WriteSectionPages(child)) return false;
    }
    return true;
  }

  bool WritePdfs() {
    std::vector<int> whole;
    for (int i = 0; i < book_.whole_book_pdf_records; ++i) whole.push_back(i);
    if (!book_.root.pdf.empty() && !WriteOnePdf(book_.root.pdf, book_.name, whole)) return false;
    if (!WriteSectionPdfs(book_.root)) return false;
    for (int i = 0; i < static_cast<int>(book_.records.size()); ++i) {
      const RecordPlan& record = book_.records[i];
      if (!record.own_pdf.empty() && !WriteOnePdf(record.own_pdf, record.values[kTitle], {i})) {
        return false;
      }
    }
    return true;
  }

  bool WriteSectionPdfs(const SectionPlan& section) {
    for (const SectionPlan& child : section.sections) {
      if (!child.pdf.empty() &&
          !WriteOnePdf(child.pdf, book_.name + " " + child.name, RecordsUnder(child))) {
        return false;
      }
      if (!WriteSectionPdfs(child)) return false;
    }
    return true;
  }

  // The PDF and, beside it, its text copy: the drawn lines in GBK, each ended by CR LF, and a
  // form feed after each page's lines, as text extractors write page breaks; the viewer's
  // plug-in then looks for each run on its own page.
  bool WriteOnePdf(const std::string& relative, const std::string& heading,
                   const std::vector<int>& records) {
    std::vector<std::string> lines = {heading, ""};
    for (int r : records) {
      lines.insert(lines.end(), book_.records[r].lines.begin(), book_.records[r].lines.end());
      lines.emplace_back();
    }
    std::vector<std::vector<std::string>> drawn;
    std::string path = JoinPath(folder_, relative);
    if (!WritePdf(path, heading, lines, &drawn)) return w_->Fail("cannot write " + path);
    std::string text;
    for (const std::vector<std::string>& page : drawn) {
      for (const std::string& line : page) text += line + kCrLf;
      text += '\f';
    }
    ++*pdf_count_;
    return w_->Write(path.substr(0, path.size() - 3) + "txt", text);
  }

  const BookPlan& book_;
  std::string folder_;
  Writer* w_;
  int* pdf_count_;
};

// ---- PDF viewer ---------------------------------------------------------------------------

// What the installer puts in place for the PDF viewer: the viewer page in viewer/ with an empty
// plug_ins/ folder, and the highlight plug-in in the installation folder, from where the
// program's start-up copies it into plug_ins/ (never over a copy already there).
bool InstallViewer(const std::string& source, const std::string& out, Writer* w) {
  const std::string folder = JoinPath(out, "viewer");
  if (!w->MakeDir(JoinPath(folder, "plug_ins"))) return false;
  auto copy = [&](const std::string& from, const std::string& to) {
    std::string bytes;
    return (ReadWholeFile(from, &bytes) || w->Fail("cannot read the viewer file " + from)) &&
           w->Write(to, bytes);
  };
  for (const char* name : {"viewer.html", "viewer.js", "viewer.css"}) {
    if (!copy(JoinPath(source, name), JoinPath(folder, name))) return false;
  }
  return copy(JoinPath(source, "plugin/VazeZududi.js"), JoinPath(out, kPluginFileName));
}

// The user's guide: every file of the project's help folder, into the `path` folder (help/),
// where the help command looks for Tomeva.htm.
bool InstallGuide(const std::string& source, const std::string& out, Writer* w) {
  const std::string folder = JoinPath(out, "help");
  if (!w->MakeDir(folder)) return false;
  std::error_code ec;
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(source, ec)) {
    if (entry.is_regular_file(ec)) names.push_back(entry.path().filename().string());
  }
  if (ec) return w->Fail("cannot list the guide's folder " + source);
  if (std::find(names.begin(), names.end(), "Tomeva.htm") == names.end()) {
    return w->Fail("no Tomeva.htm in the guide's folder " + source);
  }
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    std::string bytes;
    if (!ReadWholeFile(JoinPath(source, name), &bytes)) {
      return w->Fail("cannot read the guide's file " + JoinPath(source, name));
    }
    if (!w->Write(JoinPath(folder, name), bytes)) return false;
  }
  return true;
}

// A PDF whose Chinese font is not embedded, and its text copy.
bool WriteUnembeddedFontPdf(const std::string& out, Writer* w) {
  const std::vector<std::string> lines = {"静夜思",     "李白",       "床前明月光",
                                          "疑是地上霜", "举头望明月", "低头思故乡"};
  QStringList shown;
  std::string text;
  for (const std::string& line : lines) {
    shown << QString::fromStdString(line);
    text += G(line) + kCrLf;
  }
  text += '\f';  // its one page's end
  const QByteArray pdf = UnembeddedFontPdf(shown);
  const std::string folder = JoinPath(out, "pdf");
  return w->MakeDir(folder) &&
         w->Write(JoinPath(folder, "unembedded.pdf"), std::string_view(pdf.data(), pdf.size())) &&
         w->Write(JoinPath(folder, "unembedded.txt"), text);
}

// ---- index ----------------------------------------------------------------------------------

class QuietProgress : public ProgressSink {
 public:
  void SetRange(int) override {}
  void SetPosition(int) override {}
};

// A folder in memory (tmpfs) where the index build writes the record files of a batch before
// they move into the book folder. Core replaces every record file atomically with a flush to
// disk; on a real disk that costs milliseconds per file and a scaled book of 200,000 records
// would take most of an hour, in memory it costs nothing. Removed with everything in it when
// the object goes away. Empty path = no memory file system: the build writes in place.
class StagingFolder {
 public:
  StagingFolder() {
    std::string pattern = "/dev/shm/make-sample-library-XXXXXX";
    if (std::filesystem::is_directory("/dev/shm") && mkdtemp(pattern.data()) != nullptr) {
      path_ = pattern;
    }
  }
  ~StagingFolder() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  StagingFolder(const StagingFolder&) = delete;
  StagingFolder& operator=(const StagingFolder&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Indexes the book's records through core's index build, which also writes the record files.
// Batches keep the carriers of a scaled book from all being in memory at once.
bool IndexBook(Engine& engine, const BookPlan& book, const std::string& out, const std::string& index_dir,
               Writer* w, bool verbose) {
  const std::string temp = JoinPath(out, "temp.xml");
  if (!w->Write(temp, BuildFieldDefinitionText(book.dir, book.name))) return false;
  const std::string folder = JoinPath(out, book.dir);
  StagingFolder staging;
  const std::string& build_folder = staging.path().empty() ? folder : staging.path();
  constexpr size_t kBatch = 20000;
  QuietProgress progress;
  bool ok = true;
  for (size_t start = 0; ok && start < book.records.size(); start += kBatch) {
    size_t end = std::min(start + kBatch, book.records.size());
    std::vector<std::unique_ptr<CBookDef>> carriers;
    std::vector<CBookDef*> list;
    for (size_t i = start; i < end; ++i) {
      // The record file is created empty first: core resolves a path that does not exist yet
      // by listing its folder, which for a folder of many thousand records would make the
      // build quadratic. The build then replaces the empty file.
      std::string record_path = JoinPath(build_folder, book.records[i].file);
      if (!w->Write(record_path, "")) return false;
      auto carrier = std::make_unique<CBookDef>();
      for (int p = 0; p < kValueCount; ++p) carrier->SetValueAt(p, book.records[i].values[p]);
      carrier->set_record_file_path(record_path);
      list.push_back(carrier.get());
      carriers.push_back(std::move(carrier));
    }
    CIndexConfig config;
    config.Set(temp, index_dir);
    ok = config.Build(engine, list, &progress) == 1 || w->Fail("the index build could not load " + temp);
    for (size_t i = start; ok && i < end && build_folder != folder; ++i) {
      std::string from = JoinPath(build_folder, book.records[i].file), bytes;
      ok = (ReadWholeFile(from, &bytes) &&
            w->Write(JoinPath(folder, book.records[i].file), bytes)) ||
           w->Fail("cannot move " + from + " into " + folder);
      std::remove(from.c_str());
    }
    if (verbose) std::fprintf(stderr, "  indexed %zu of %zu records\n", end, book.records.size());
  }
  std::remove(temp.c_str());
  if (!ok) return false;
  for (const RecordPlan& record : book.records) {
    std::error_code ec;
    if (std::filesystem::file_size(JoinPath(folder, record.file), ec) == 0 || ec) {
      return w->Fail("the index build did not write " + JoinPath(folder, record.file));
    }
  }
  return true;
}

bool FolderIsEmptyOrMissing(const std::string& path) {
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) return true;
  return std::filesystem::is_directory(path, ec) && std::filesystem::is_empty(path, ec);
}

}  // namespace

bool InstallUpdateKey(const std::string& sample, const std::string& key_file, std::string* error) {
  const std::string source = JoinPath(sample, kSampleUpdateKeyFile);
  std::string key;
  if (!ReadWholeFile(source, &key, kSmallFileLimit)) {
    *error = "no update key at " + source;
    return false;
  }
  if (!MakeDirectories(DirName(key_file)) || !ReplaceFileAtomically(key_file, key)) {
    *error = "cannot write " + key_file;
    return false;
  }
  return true;
}

bool WriteSampleLibrary(const SampleOptions& options, std::string* error) {
  Writer w(error);
  const std::string& out = options.out;
  // The folder the program will run in: the settings' absolute addresses name it, not a
  // temporary folder that is renamed into place once the whole sample is made.
  const std::string& home = options.installed_as.empty() ? out : options.installed_as;
  auto log = [&options](const std::string& message) {
    if (options.verbose) std::fprintf(stderr, "%s\n", message.c_str());
  };
  std::vector<Poem> tang =
      ReadPoems(JoinPath(options.fortunes_dir, "tang300"), ParseAnthologyEntry);
  std::vector<Poem> song =
      ReadPoems(JoinPath(options.fortunes_dir, "song100"), ParseAnthologyEntry);
  std::vector<Poem> classics =
      ReadPoems(JoinPath(options.fortunes_dir, "chinese"), ParseClassicEntry);
  if (tang.empty() || song.empty() || classics.empty()) {
    return w.Fail("cannot read the poems in " + options.fortunes_dir +
                  " (tang300, song100, chinese)");
  }
  if (!FolderIsEmptyOrMissing(out)) return w.Fail(out + " exists and is not empty");

  const int tang_records =
      options.tang_records < 0 ? static_cast<int>(tang.size()) : options.tang_records;
  const std::vector<BookPlan> books = PlanLibrary(tang, song, classics, options.book_count,
                                                  tang_records, options.whole_pdf_records);

  const std::string update = JoinPath(out, "Update");
  const std::string index_dir = JoinPath(out, "SearchDB");
  if (!w.MakeDir(out) || !w.MakeDir(update) || !w.MakeDir(JoinPath(out, "images"))) return false;
  // The guide first: a guide folder given wrongly is told before any library file is written.
  if (!InstallGuide(options.help_dir, out, &w)) return false;
  if (!w.Write(JoinPath(out, "System.xml"), SystemXml()) ||
      !w.Write(JoinPath(out, "ContactInfo.xml"), ContactInfoXml(home)) ||
      !w.Write(JoinPath(out, "version.xml"), VersionPageXml(home)) ||
      !WriteSignedUpdater(out, &w) ||
      !w.Write(JoinPath(out, "SearchResultConfig.xml"), SearchResultConfigXml()) ||
      !w.Write(JoinPath(out, "home.htm"), HomePage(books)) ||
      !w.Write(JoinPath(out, "Tomeva.htm"), ProductPage()) ||
      !w.Write(JoinPath(out, "publisher.htm"), PublisherPage(books))) {
    return false;
  }
  if (!WritePicture(JoinPath(out, "images/banner.png"), 1, G("古典诗词")) ||
      !WritePicture(JoinPath(out, "images/footer.png"), 2, G("示例书库"))) {
    return w.Fail("cannot draw the pictures in " + JoinPath(out, "images"));
  }
  if (!WriteScrambledFile(JoinPath(out, "bookconfig.xml"), CatalogueText(books))) {
    return w.Fail("cannot write " + JoinPath(out, "bookconfig.xml"));
  }
  if (!InstallViewer(options.viewer_dir, out, &w) || !WriteUnembeddedFontPdf(out, &w)) {
    return false;
  }

  for (const BookPlan& book : books) {
    auto started = std::chrono::steady_clock::now();
    std::string folder = JoinPath(book.waiting ? update : out, book.dir);
    int pdfs = 0;
    BookWriter writer(book, folder, &w, &pdfs);
    if (!writer.Run()) return false;
    if (book.waiting && !WriteScrambledFile(JoinPath(update, "bookconfig" + book.dir + ".xml"),
                                            FragmentText(book))) {
      return w.Fail("cannot write the fragment of book " + book.dir);
    }
    log("book " + book.dir + ": " + std::to_string(book.records.size()) + " records, " +
        std::to_string(pdfs) + " PDFs, " +
        std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now() - started)
                           .count()) +
        " ms");
  }

  KmsEngine engine;
  bool indexed = false;
  for (const BookPlan& book : books) {
    if (book.waiting) continue;
    log("indexing book " + book.dir);
    if (!IndexBook(engine, book, out, index_dir, &w, options.verbose)) return false;
    indexed = true;
  }
  log("optimising the index");
  // Without an installed book the index is created here, empty.
  std::string reason;
  if (!engine.OpenIndex(index_dir, indexed ? 0 : 1, &reason)) {
    return w.Fail("cannot open the index: " + GbkToUtf8(reason));
  }
  const bool optimized = engine.OptimizeIndex(index_dir, &reason);
  std::string close_reason;
  if (!engine.CloseIndex(index_dir, &close_reason)) {
    return w.Fail("cannot commit the index: " + GbkToUtf8(close_reason));
  }
  return optimized || w.Fail("cannot optimise the index: " + GbkToUtf8(reason));
}

}  // namespace tomeva::sample
