// Writes the sample installation folder: settings files, the scrambled catalogue, the installed
// books with their tables of contents, pages, PDFs with text copies and record files, the books
// waiting in Update/ with their fragments, and the full-text index of the installed books built
// through core's index build. The layout is described in docs/formats/sample-library.md.
#ifndef TOMEVA_TOOLS_MAKE_SAMPLE_LIBRARY_LIBRARY_WRITER_H_
#define TOMEVA_TOOLS_MAKE_SAMPLE_LIBRARY_LIBRARY_WRITER_H_

#include <string>

namespace tomeva::sample {

struct SampleOptions {
  std::string out;        // installation folder; must not exist or be empty
  // Where the installation will live when `out` is a folder made to be moved there afterwards
  // (a maker's temporary folder): the settings' absolute addresses name it. Empty: `out` itself.
  std::string installed_as;
  int tang_records = -1;  // records of the Tang anthology; -1 = one per poem
  // Records printed in the anthology's whole-book PDF; -1 = its records, at most one per poem.
  // Some 4 records fill a page: 1200 give a PDF of about 300 pages.
  int whole_pdf_records = -1;
  std::string fortunes_dir = "/usr/share/games/fortunes";
  std::string font_path = "/usr/share/fonts/truetype/wqy/wqy-zenhei.ttc";
  std::string viewer_dir;  // the project's viewer/ folder: the viewer page and its plug-in
  std::string help_dir;    // the project's help/ folder: the user's guide
  // Books of the library (PlanLibrary): 4 = the sample's own; more adds small installed books;
  // 0 = settings, an empty catalogue and an empty index.
  int book_count = 4;
  bool verbose = false;  // progress lines on standard error
};

// The publisher's public update key inside a sample, as the publisher hands it to installers. The
// program never reads it there; InstallUpdateKey puts it where the program looks.
inline constexpr char kSampleUpdateKeyFile[] = "updates/update.pub";

// The installer's step for the sample's update key: copies `sample`'s kSampleUpdateKeyFile to
// `key_file` (the user's key file, platform::UpdateKeyFiles()), creating its folder and replacing
// a key there. False, with a message in `error`, when the sample has no key or it cannot be
// written.
bool InstallUpdateKey(const std::string& sample, const std::string& key_file, std::string* error);

// Builds the whole folder. Needs InitRenderer first. False, with a message in `error`, when an
// input is missing or a file cannot be written; what was written so far stays.
bool WriteSampleLibrary(const SampleOptions& options, std::string* error);

}  // namespace tomeva::sample

#endif  // TOMEVA_TOOLS_MAKE_SAMPLE_LIBRARY_LIBRARY_WRITER_H_
