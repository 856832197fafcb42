// Feeds arbitrary bytes to the version page's reader under each kind and character set a server
// could claim, parses what it reads as the version check does, and reads the bytes as an
// updater's manifest and as a version.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/update/page_text.h"
#include "core/update/updater_manifest.h"
#include "core/xml/xml_document.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  for (const char* type : {"", "text/html", "text/html; charset=utf-8", "text/xml",
                           "application/xml; charset=gbk", "text/plain"}) {
    const std::string text = tomeva::VersionPageText(bytes, type, "version");
    tomeva::CXmlDocument page;
    page.ParseText(text);
    page.GetText("file");
  }
  tomeva::HtmlShownText(bytes);
  if (const auto manifest = tomeva::ParseUpdaterManifest(bytes)) {
    tomeva::CompareVersions(*tomeva::ParseVersion(manifest->version),
                            *tomeva::ParseVersion("4.0.0.1"));
  }
  tomeva::ParseVersion(bytes);
  return 0;
}
