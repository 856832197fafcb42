// make-sample-library OUT [--installed-as DIR] [--records N] [--books N | --empty] [--verbose]
// make-sample-library --register-viewer OUT
// make-sample-library --install-update-key OUT
//
// Builds a complete installation folder with a sample library made of classical Chinese poems:
// settings, catalogue, books, pages, PDFs with text copies, books waiting for import, and the
// full-text index. --records N gives the Tang anthology N records (its poems repeated), for
// benchmarks. --books N makes a library of N books (the sample's four first, then small books
// made from the same poems), --empty one without books; both for the start-up benchmark. The
// output is the same byte for byte on every run, except the index, the update key and the
// signatures made with it (a key pair is made for each sample and its secret half never written).
// --installed-as DIR names the folder OUT is moved to once made (a sample is made in a temporary
// folder and renamed into place): the settings' absolute addresses name DIR, where the program
// will find them. --register-viewer plays the installer's last step for a sample already made:
// it writes the absolute path of OUT/viewer/viewer.html into the registry (the platform's
// registry folder) as the PDF viewer's path, which the program reads at start.
// --install-update-key plays the installer's step for the sample's update key: it copies the
// public key the sample's publisher part holds (updates/update.pub) to the user's key file
// (update.pub in the user's configuration folder, platform/environment.h), replacing one there,
// so that the program verifies the sample's signed updater. The program never reads a key inside
// a library.
#include <cstdio>
#include <cstdlib>
#include <string>

#include <QDir>
#include <QFile>
#include <QGuiApplication>

#include "core/settings/settings.h"
#include "platform/environment.h"
#include "platform/ini_registry.h"

#include "tools/make-sample-library/library_plan.h"
#include "tools/make-sample-library/library_writer.h"
#include "tools/make-sample-library/render.h"

namespace {

constexpr char kUsage[] =
    "usage: make-sample-library OUT [--installed-as DIR] [--records N] [--verbose]\n"
    "                           [--fortunes DIR] [--font FILE]\n"
    "                           [--viewer DIR] [--whole-pdf-records N] [--books N | --empty]\n"
    "       make-sample-library --register-viewer OUT\n"
    "       make-sample-library --install-update-key OUT\n"
    "  OUT        installation folder to create (must not exist or be empty)\n"
    "  --installed-as  the folder OUT will be moved to: the settings' addresses name it\n"
    "             (default: OUT)\n"
    "  --records  number of records of the Tang anthology (1 .. 10000000; default: one per poem)\n"
    "  --viewer   the PDF viewer's source folder (default: the project's viewer/)\n"
    "  --guide    the user's guide's source folder (default: the project's help/)\n"
    "  --whole-pdf-records  records printed in the anthology's whole-book PDF (default: its\n"
    "             records, at most one per poem; 1200 give about 300 pages)\n"
    "  --books    number of books (1 .. 200; default 4, the sample's own; more are small books\n"
    "             made from the same poems)\n"
    "  --empty    a library without books: settings, an empty catalogue and an empty index\n"
    "  --register-viewer  writes OUT's viewer page as the PDF viewer into the registry\n"
    "  --install-update-key  installs OUT's update key as the user's (the configuration folder)\n";

// Whole decimal number in [low, high].
bool ParseCount(const char* text, long low, long high, long* value) {
  char* end = nullptr;
  long n = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || n < low || n > high) return false;
  *value = n;
  return true;
}

// Writes the viewer page of the installation at `out` under the viewer's App Paths key.
int RegisterViewer(const char* out) {
  const QString page =
      QDir(QFile::decodeName(out)).absoluteFilePath(QStringLiteral("viewer/viewer.html"));
  if (!QFile::exists(page)) {
    std::fprintf(stderr, "make-sample-library: no viewer page at %s\n",
                 page.toLocal8Bit().constData());
    return 1;
  }
  tomeva::platform::IniRegistry registry;
  const std::string path = QFile::encodeName(QDir::cleanPath(page)).toStdString();
  if (!registry.WriteValue(tomeva::RegRoot::kLocalMachine, tomeva::kRegAppPathsReader, "",
                           tomeva::RegType::kString, path)) {
    std::fprintf(stderr, "make-sample-library: cannot write %s\n",
                 registry.FilePath(tomeva::RegRoot::kLocalMachine).c_str());
    return 1;
  }
  return 0;
}

// Installs the update key of the sample at `out` as the user's.
int InstallUpdateKey(const char* out) {
  const std::string key_file =
      tomeva::platform::UserConfigDir() + "/" + tomeva::platform::kUpdateKeyName;
  std::string error;
  if (!tomeva::sample::InstallUpdateKey(out, key_file, &error)) {
    std::fprintf(stderr, "make-sample-library: %s\n", error.c_str());
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  tomeva::sample::SampleOptions options;
  options.viewer_dir = TOMEVA_VIEWER_SOURCE_DIR;
  options.help_dir = TOMEVA_HELP_SOURCE_DIR;
  if (argc == 3 && std::string(argv[1]) == "--register-viewer") return RegisterViewer(argv[2]);
  if (argc == 3 && std::string(argv[1]) == "--install-update-key") return InstallUpdateKey(argv[2]);
  bool books_given = false, empty = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    bool has_value = i + 1 < argc;
    if (arg == "--records" && has_value) {
      long n = 0;
      if (!ParseCount(argv[++i], 1, 10000000, &n)) {
        std::fprintf(stderr, "make-sample-library: bad record count %s\n%s", argv[i], kUsage);
        return 2;
      }
      options.tang_records = static_cast<int>(n);
    } else if (arg == "--whole-pdf-records" && has_value) {
      long n = 0;
      if (!ParseCount(argv[++i], 1, 100000, &n)) {
        std::fprintf(stderr, "make-sample-library: bad record count %s\n%s", argv[i], kUsage);
        return 2;
      }
      options.whole_pdf_records = static_cast<int>(n);
    } else if (arg == "--books" && has_value) {
      long n = 0;
      if (!ParseCount(argv[++i], 1, tomeva::sample::kMaxBooks, &n)) {
        std::fprintf(stderr, "make-sample-library: bad book count %s\n%s", argv[i], kUsage);
        return 2;
      }
      options.book_count = static_cast<int>(n);
      books_given = true;
    } else if (arg == "--empty") {
      empty = true;
    } else if (arg == "--fortunes" && has_value) {
      options.fortunes_dir = argv[++i];
    } else if (arg == "--installed-as" && has_value) {
      options.installed_as = argv[++i];
    } else if (arg == "--viewer" && has_value) {
      options.viewer_dir = argv[++i];
    } else if (arg == "--guide" && has_value) {
      options.help_dir = argv[++i];
    } else if (arg == "--font" && has_value) {
      options.font_path = argv[++i];
    } else if (arg == "--verbose") {
      options.verbose = true;
    } else if (!arg.starts_with("--") && options.out.empty()) {
      options.out = arg;
    } else {
      std::fprintf(stderr, "make-sample-library: unexpected argument %s\n%s", arg.c_str(), kUsage);
      return 2;
    }
  }
  if (options.out.empty() || (empty && books_given)) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  if (empty) options.book_count = 0;
  // No display is needed: pictures and PDFs are drawn off screen.
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QGuiApplication app(argc, argv);

  std::string error;
  if (!tomeva::sample::InitRenderer(options.font_path, &error) ||
      !tomeva::sample::WriteSampleLibrary(options, &error)) {
    std::fprintf(stderr, "make-sample-library: %s\n", error.c_str());
    return 1;
  }
  return 0;
}
