// The settings of the installation: System.xml and ContactInfo.xml in the application directory,
// the PDF viewer found through the registry, and the installation of the viewer's highlight
// plug-in. Loaded once when the document is constructed; plain values afterwards.
#ifndef TOMEVA_CORE_SETTINGS_SETTINGS_H_
#define TOMEVA_CORE_SETTINGS_SETTINGS_H_

#include <string>
#include <string_view>
#include <vector>

#include "core/settings/registry.h"
#include "core/xml/xml_document.h"

namespace tomeva {

// Registry keys the settings read (HKLM).
inline constexpr char kRegAppPathsReader[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\AcroRd32.exe";
inline constexpr char kRegAppPathsAcrobat[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Acrobat.exe";
// The viewer's highlight plug-in, shipped in the application directory.
inline constexpr char kPluginFileName[] = "VazeZududi.api";

struct Settings {
  std::string app_dir;          // working directory with a trailing separator
  std::string pdf_viewer_path;  // App Paths of the reader, else of the full viewer; may be ""
  std::string exit_dir;         // System.xml `path`, "." rule applied
  std::string index_dir;        // `SearchDataDir`, "." rule applied
  std::string ebook_dir;        // `EBookDir`, "." rule applied
  std::string exit_command;     // `EndFlash`, as written
};

// The process's working directory with "/" appended (unless it already ends in a separator);
// "" when it cannot be read.
std::string CurrentApplicationDirectory();

// The "." rule: a value beginning with "." is prefixed with the application directory (".\x"
// becomes app_dir + ".\x"); any other value, absolute or relative, is used unchanged.
std::string ApplyDotRule(std::string_view value, std::string_view app_dir);

// Text of the first element named `name` (ASCII case ignored), depth first from the root, or "".
std::string ReadSettingText(CXmlDocument& doc, std::string_view name);

// The names of the advanced-search fields: KEY_FIELD1 .. KEY_FIELD10 in order, stopping at the
// first missing or empty one.
std::vector<std::string> ReadKeyFieldNames(CXmlDocument& system_xml);

// ContactInfo.xml's CheckVersionUrl, trimmed; "" when the file or the element is missing.
std::string ReadCheckVersionUrl(std::string_view app_dir);

// True when `address` is a web site's address: "http://" or "https://" (any case) and a host,
// with no white space, control character, quote, "<", ">", backslash or "`" in it.
bool IsWebSiteAddress(std::string_view address);

// ContactInfo.xml's PublisherUrl (the publisher's site, command 57359), trimmed; "" when the
// file or the element is missing, or when the value is not a web site's address
// (IsWebSiteAddress): a file:, data: or javascript: address, or anything else, counts as none.
std::string ReadPublisherUrl(std::string_view app_dir);

// The installation's own page about its publisher, used when ContactInfo.xml names no site.
inline constexpr char kPublisherPageFileName[] = "publisher.htm";
// The last resort when the installation has neither: a page of its own, as a "data:" address,
// that says so and where the address is set. Never another site, which would be taken for the
// publisher's.
std::string NoPublisherSitePage();

// The address the publisher's-site command opens: ReadPublisherUrl when it gives one; else, when
// the application directory (absolute, with its trailing separator) holds publisher.htm, that file
// as a "file://" address; else NoPublisherSitePage(). Never "".
std::string PublisherSiteAddress(std::string_view app_dir);

// The PDF viewer's path from the App Paths keys: the reader's entry, else the full viewer's.
std::string FindPdfViewerPath(Registry& registry);

// Copies app_dir + VazeZududi.api into the "plug_ins" folder beside the viewer unless a file of
// that name is already there (never overwritten). Nothing happens for a viewer path without a
// separator. Returns true when the plug-in was copied now; failures are otherwise silent.
bool InstallViewerPlugin(std::string_view viewer_path, std::string_view app_dir);

// The whole settings load: application directory, viewer path, plug-in installation, then the
// four System.xml values when `system_xml` is given (null = no main window document, or
// System.xml missing: they stay empty).
Settings LoadSettings(Registry& registry, std::string_view app_dir, CXmlDocument* system_xml);

}  // namespace tomeva

#endif  // TOMEVA_CORE_SETTINGS_SETTINGS_H_
