// `init DIR [--data-dir D]`: writes an empty library into DIR, which must not exist or be empty:
// the settings files, an empty catalogue, the start and product pages, an empty Update/ folder
// and an empty index, and registers the program's PDF viewer page. The program opens it with an
// empty book tree; books copied into DIR/Update are imported by `import DIR` or at the program's
// next start. What the program ships itself (the viewer, its plug-in, the guide) stays in the
// data folder: System.xml's `path` names the guide there, the registry names the viewer page.
//
// The data folder is --data-dir, else $TOMEVA_DATA_DIR, else the build tree's copy (a tool run
// from the build), else the installed one. Exit code 0 on success; 1 when DIR is refused, a file
// cannot be written or the viewer cannot be registered, with the reason on standard error. When
// writing the library fails, what was written is removed again (DIR was empty before), so that a
// second attempt can start over.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "base/file_util.h"
#include "base/gbk.h"
#include "core/settings/settings.h"
#include "core/xml/text_scrambler.h"
#include "engine_kms/kms_engine.h"
#include "platform/ini_registry.h"
#include "tool_io.h"

namespace tomeva::tool {
namespace {

namespace fs = std::filesystem;

constexpr char kDeclaration[] = "<?xml version=\"1.0\" encoding=\"GB2312\"?>\r\n";
constexpr char kPageHead[] =
    "<html>\r\n<head>\r\n"
    "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\">\r\n";

std::string G(std::string_view utf8) { return Utf8ToGbk(utf8); }

// Element text and attribute values: a folder name may hold any of these.
std::string XmlEscape(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string DataDir(const ParsedArgs& a) {
  if (a.Has("--data-dir")) return a.Get("--data-dir");
  if (const char* env = std::getenv("TOMEVA_DATA_DIR"); env != nullptr && *env != '\0') return env;
  const std::string build_tree = TOMEVA_BUILD_DATA_DIR;
  if (!build_tree.empty() && FileExists(JoinPath(build_tree, "viewer/viewer.html"))) {
    return build_tree;
  }
  return TOMEVA_DATA_DIR;
}

std::string Absolute(const std::string& path) {
  std::error_code ec;
  fs::path absolute = fs::absolute(path, ec).lexically_normal();
  std::string text = ec ? path : absolute.string();
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  return text;
}

// The guide's folder is the settings' `path`, absolute: the library does not carry a copy.
std::string SystemXml(const std::string& guide_dir) {
  std::string x = std::string(kDeclaration) + "<System>\r\n";
  auto element = [&x](const char* name, const std::string& value) {
    x += std::string("\t<") + name + ">" + value + "</" + name + ">\r\n";
  };
  element("path", XmlEscape(guide_dir));
  element("SearchDataDir", "./SearchDB");
  element("EBookDir", ".");
  element("KEY_FIELD1", G("标题"));
  element("KEY_FIELD2", G("作者"));
  element("KEY_FIELD3", G("内容摘要"));
  return x + "</System>";
}

// No version page and no publisher's site: a library of one's own is updated by its package.
std::string ContactInfoXml() {
  return std::string(kDeclaration) + "<ContactInfo>\r\n</ContactInfo>";
}

// The record pages' frame: the paging buttons B0-B3 above the record, a rule below it. Angle
// brackets are stored as @&lt@ and @&gt@, the way the result pages read them.
std::string SearchResultConfigXml() {
  auto tags = [](std::string markup) {
    std::string out;
    for (char c : markup) {
      if (c == '<') out += "@&lt@";
      else if (c == '>') out += "@&gt@";
      else out += c;
    }
    return out;
  };
  const std::string top = tags(
      "<p align=\"center\"><input type=button id=B0 value=\"" + G("上一页") +
      "\"> <input type=button id=B1 value=\"" + G("上一条") +
      "\"> <input type=button id=B2 value=\"" + G("下一条") +
      "\"> <input type=button id=B3 value=\"" + G("下一页") + "\"></p>");
  return std::string(kDeclaration) + "<SearchResultConfig>\r\n" +
         "\t<style>td { font-size: 14px; line-height: 160%; }</style>\r\n" + "\t<bodytop>" + top +
         "</bodytop>\r\n" + "\t<bodybottom>" + tags("<hr>") + "</bodybottom>\r\n" +
         "\t<bodybkcolor>#ffffff</bodybkcolor>\r\n</SearchResultConfig>";
}

std::string Page(const std::string& title, const std::string& body) {
  return kPageHead + std::string("<title>") + title + "</title>\r\n</head>\r\n<body>\r\n" + body +
         "</body>\r\n</html>\r\n";
}

std::string HomePage() {
  return Page(G("我的书库"),
              "<h2>" + G("我的书库") + "</h2>\r\n<p>" +
                  G("左边的树列出书库中的书；在上方输入字词即可全文检索。") + "</p>\r\n<p>" +
                  G("新书以“书目片段 bookconfig*.xml + 书籍文件夹”的形式发行：把两者一起复制到书库"
                    "文件夹的 Update 文件夹中，下次启动程序时即被导入，也可以用命令 "
                    "tomeva-tool import 书库文件夹 导入。") +
                  "</p>\r\n");
}

std::string ProductPage() {
  return Page("Tomeva", "<h2>Tomeva " + G("电子书阅读与全文检索") + "</h2>\r\n<p>" + G("版本 ") +
                            TOMEVA_VERSION + "</p>\r\n");
}

// True when `path` does not exist or is an empty folder.
bool MissingOrEmptyFolder(const std::string& path, std::string* why) {
  std::error_code ec;
  const fs::file_status status = fs::symlink_status(path, ec);
  if (ec || status.type() == fs::file_type::not_found) return true;
  if (status.type() != fs::file_type::directory) {
    *why = path + " exists and is not a folder";
    return false;
  }
  if (!fs::is_empty(path, ec) || ec) {
    *why = path + " is not empty: a new library is made only in an empty or new folder";
    return false;
  }
  return true;
}

// Writes the library into `dir` (missing or empty). False with the reason in `error`.
bool WriteLibrary(const std::string& dir, const std::string& guide_dir, std::string* error) {
  auto write = [&](const char* name, const std::string& bytes) {
    const std::string path = JoinPath(dir, name);
    if (ReplaceFileAtomically(path, bytes)) return true;
    *error = "cannot write " + path;
    return false;
  };
  for (const char* folder : {"", "Update"}) {
    if (!MakeDirectories(JoinPath(dir, folder))) {
      *error = "cannot create the folder " + JoinPath(dir, folder);
      return false;
    }
  }
  if (!write("System.xml", SystemXml(guide_dir)) || !write("ContactInfo.xml", ContactInfoXml()) ||
      !write("SearchResultConfig.xml", SearchResultConfigXml()) ||
      !write("home.htm", HomePage()) || !write("Tomeva.htm", ProductPage())) {
    return false;
  }
  const std::string catalogue = JoinPath(dir, "bookconfig.xml");
  if (!WriteScrambledFile(catalogue, std::string(kDeclaration) + "<books>\r\n</books>")) {
    *error = "cannot write " + catalogue;
    return false;
  }
  // The empty index: opened for writing (which creates it) and committed.
  const std::string index = JoinPath(dir, "SearchDB");
  KmsEngine engine;
  std::string reason;
  if (!engine.OpenIndex(index, 1, &reason)) {
    *error = "cannot create the index " + index + ": " + GbkToUtf8(reason);
    return false;
  }
  if (!engine.CloseIndex(index, &reason)) {
    *error = "cannot commit the index " + index + ": " + GbkToUtf8(reason);
    return false;
  }
  return true;
}

// Takes back a failed WriteLibrary: DIR was empty or missing before.
void RemoveWritten(const std::string& dir, bool dir_existed) {
  std::error_code ec;
  if (!dir_existed) {
    fs::remove_all(dir, ec);
    return;
  }
  for (const auto& entry : fs::directory_iterator(dir, ec)) fs::remove_all(entry.path(), ec);
}

int RunInit(const std::vector<std::string>& args) {
  ParsedArgs a = ParseArgs(args, {"--data-dir"}, {});
  if (!a.error.empty()) return UsageError(a.error);
  if (a.positional.size() != 1) return UsageError("usage: init DIR [--data-dir D]");
  const std::string dir = Absolute(a.positional[0]);
  const std::string data_dir = Absolute(DataDir(a));
  const std::string viewer = JoinPath(data_dir, "viewer/viewer.html");
  const std::string guide_dir = JoinPath(data_dir, "help");
  // Nothing is written when the program's own files are not where the library will look.
  if (!FileExists(viewer) || !FileExists(JoinPath(guide_dir, "Tomeva.htm"))) {
    return Failure("the program's data folder " + data_dir +
                   " lacks viewer/viewer.html or help/Tomeva.htm (is the program installed?)");
  }
  std::string why;
  if (!MissingOrEmptyFolder(dir, &why)) return Failure(why);
  std::error_code ec;
  const bool existed = fs::exists(dir, ec);
  std::string error;
  if (!WriteLibrary(dir, guide_dir, &error)) {
    RemoveWritten(dir, existed);
    return Failure(error + "; nothing was kept in " + dir);
  }
  // The installer's step: the viewer page becomes the PDF viewer of this user's registry.
  platform::IniRegistry registry;
  if (!registry.WriteValue(RegRoot::kLocalMachine, kRegAppPathsReader, "", RegType::kString,
                           viewer)) {
    return Failure("the library " + dir + " was made, but the PDF viewer could not be registered in " +
                   registry.FilePath(RegRoot::kLocalMachine) + ": PDFs will not open");
  }
  std::printf("{\"library\":%s,\"viewer\":%s,\"guide\":%s}\n", JsonUtf8(dir).c_str(),
              JsonUtf8(viewer).c_str(), JsonUtf8(guide_dir).c_str());
  return 0;
}

CommandRegistrar init_cmd("init", "DIR [--data-dir D]   write an empty library into DIR (new or empty)",
                          &RunInit);

}  // namespace
}  // namespace tomeva::tool
