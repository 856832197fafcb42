// The version check and self-update. Once per start, after the main window is shown, the program
// reads a page published by the maker (docs/formats/version-page.md) that lists the installed
// versions which must be updated. When the installed version is listed, the updater named on the
// page is downloaded into the installation folder, the user is told, the updater is started and
// the program ends at once.
//
// Everything here is the logic; the desktop's parts (the reader that fetches the page, the
// download, the signature and digest checks, where the update keys are installed, the message
// box, starting the updater, ending the process) come in through UpdateServices and
// BrowserDriver, which the program implements with Qt and the tests with fakes.
//
// Threads: the user-interface thread, which is blocked while the check runs.
#ifndef TOMEVA_CORE_UPDATE_VERSION_CHECK_H_
#define TOMEVA_CORE_UPDATE_VERSION_CHECK_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/settings/registry.h"
#include "core/update/updater_manifest.h"

namespace tomeva {

// Where the installed version is kept: HKLM "SOFTWARE\lumq", value "version".
inline constexpr char kRegKeyProduct[] = "SOFTWARE\\lumq";
inline constexpr char kRegValueVersion[] = "version";
// The version an installation without a recorded version is taken to be (and records).
inline constexpr char kBuiltInVersion[] = "4.0.0.1";
// The updater is started shown and waited for at most this long before the program ends.
inline constexpr uint32_t kUpdaterWaitSeconds = 3;

// The updater's manifest (core/update/updater_manifest.h) is at the updater's address with
// kManifestSuffix added, and the manifest's detached signify signature at the updater's address
// with kManifestSignatureSuffix added.
inline constexpr char kManifestSuffix[] = ".manifest";
inline constexpr char kManifestSignatureSuffix[] = ".manifest.sig";

// What a check of the manifest's signature against one key found.
enum class UpdaterSignature {
  kGood,       // made over the manifest's bytes with this key
  kBad,        // made with this key's number, but not over these bytes
  kOtherKey,   // made with another key
  kMalformed,  // the signature file is not a signature
  kBadKey,     // the key file is not a key
};

// What the check asks of the desktop. Texts and paths are GBK.
class UpdateServices {
 public:
  // Asked once the whole updater has arrived, before it is put in place (see DownloadToFile).
  using Acceptor = std::function<bool(const std::string& part_path, bool over_https)>;

  virtual ~UpdateServices() = default;
  // The page's text as a browser shows it as the page body, read without running the page
  // (FetchPageText below); "" when it could not be read.
  virtual std::string FetchPageText(const std::string& url) = 0;
  // Fetches `url` into a temporary file beside `path`. When the whole file has arrived, `accept`
  // is called with that file's path and whether the address and every redirect were https with
  // a verified certificate; only when it answers true is the file made runnable and put at
  // `path`, replacing a file of that name. True only when the whole file is in place; on false
  // nothing of the download is left behind and a file at `path` is untouched.
  virtual bool DownloadToFile(const std::string& url, const std::string& path,
                              const Acceptor& accept) = 0;
  // The small file at `url` (the manifest or its signature), at most kMaxManifestBytes; nullopt
  // when it cannot be fetched or is larger. `*over_https` tells, as for DownloadToFile, whether
  // every byte came over https with a verified certificate.
  virtual std::optional<std::string> FetchSmallFile(const std::string& url, bool* over_https) = 0;
  // Checks the signify signature `signature` (the .sig file's text) of `message` against
  // `public_key` (the text of a key file).
  virtual UpdaterSignature VerifySignature(std::string_view message, const std::string& signature,
                                           const std::string& public_key) = 0;
  // The SHA-256 digest of the file at `path` as 64 lowercase hexadecimal digits; nullopt when
  // it cannot be read.
  virtual std::optional<std::string> FileSha256(const std::string& path) = 0;
  // The files an update key may be installed in, outside every library: the package's, the
  // administrator's and the user's (platform/environment.h). Files that are not there are
  // skipped; a signature by any key among those there verifies.
  virtual std::vector<std::string> UpdateKeyFiles() = 0;
  // A plain modal message box; returns when the user has answered it.
  virtual void ShowMessage(const std::string& text) = 0;
  // Platform::Wait: starts `command_line` in the installation folder and waits at most
  // `timeout_seconds` for it.
  virtual int Wait(const std::string& command_line, int show, uint32_t timeout_seconds) = 0;
  // Ends the process at once with `code`, without the normal shut-down (the document is not
  // destroyed, so the exit command does not run). The program's version does not return; a
  // test's may.
  virtual void ExitProcess(int code) = 0;
};

// Whether `name`, the part of the updater's address after its last "/", may be written into the
// installation folder. Refused: an empty name, "." and "..", a name holding a "\" (which the file
// helpers would take as a folder separator) or a control character, and the names of the
// installation's own files and folders (settings, catalogue, pages, help, the program and its
// companions, and update.pub, where older versions looked for their key), compared without regard
// to ASCII case. A page that could make the download replace the library's files is thereby
// answered like a failed download.
bool IsAcceptableUpdaterName(std::string_view name);

// The version check against the page at `check_version_url` (GBK), with `app_dir` the
// installation folder with its trailing separator:
//  1. The installed version is read from the registry; when it is missing, kBuiltInVersion is
//     written (a failed write is ignored) and used.
//  2. The page is fetched and parsed as XML; an empty or malformed page has no elements.
//  3. The updater's address is the text of the first `file` element; each `update` element whose
//     `version` attribute equals the installed version exactly, in document order, tries once:
//     an address without "/" or with a refused name (IsAcceptableUpdaterName) goes on with the
//     next element; otherwise the updater is downloaded to app_dir + name; a failed download
//     goes on with the next element.
//  4. The downloaded updater must come with its manifest (updater address + kManifestSuffix).
//     The manifest must be signed (updater address + kManifestSignatureSuffix) by a key in one of
//     UpdateKeyFiles(), unless the version page's address and the updater's address are https
//     and the updater and the manifest both came over https all the way (the page, read under
//     TLS, named the updater, and TLS brought both). Never is a key inside a library read. The
//     manifest must then name the updater's file name, the updater's SHA-256 digest, and a
//     version newer than the installed one (CompareVersions). An updater that fails any of this
//     is not put in place and not run: the user is told why (no manifest, no signature, no key
//     installed, a damaged key, a bad signature, another key's signature, a malformed manifest,
//     a manifest of another file, a version not newer, an installed version that is not a
//     dotted number) and the check ends with the program going on.
//  5. A trusted updater shows the new-version message, is started (its path quoted as one word)
//     shown and waited for kUpdaterWaitSeconds, and the process ends with code 0.
// Returns true when the program goes on, false when it asked for the process to end.
bool CheckForUpdate(Registry& registry, const std::string& app_dir,
                    const std::string& check_version_url, UpdateServices& services);

// The reader through which the page is read, in the place of the browser the check was first
// written for: it fetches the page's bytes and reads their text without running anything in
// them (gui/app/page_fetcher.h, core/update/page_text.h). One object serves one FetchPageText
// call.
class BrowserDriver {
 public:
  virtual ~BrowserDriver() = default;
  // Starts fetching `url` without reading or writing a cache. False when the fetch could not be
  // started (an address refused as it stands).
  virtual bool Navigate(const std::string& url) = 0;
  // True while the page is still loading.
  virtual bool IsBusy() = 0;
  // Stops the loading or the page.
  virtual void Stop() = 0;
  // The fetched page's text (GBK): "" for a page without text; nullopt when there is no page
  // (the fetch failed).
  virtual std::optional<std::string> ReadBodyText() = 0;
  // Waits; the program keeps its window painted meanwhile.
  virtual void Sleep(int milliseconds) = 0;
  // Ends the reader; called once, last.
  virtual void Close() = 0;
};

// The attempts and waits of FetchPageText. With the defaults an attempt whose page never finishes
// loading is given up 7 s after its fetch began, and an unreachable page costs at most
// 5 * 7 s + 2 s of waiting in all.
struct PageFetchTiming {
  int attempts = 5;
  int poll_ms = 1000;          // between two readings of the busy state
  // The attempt is given up when this reading still finds it busy: the first reading comes at
  // once and six more follow a second apart, so a page that never loads is given up after 7 s.
  int max_busy_readings = 7;
  int settle_ms = 300;  // after the load, before the document is read
  int final_ms = 2000;  // after the last attempt, before the reader is closed
};

// Reads the page at `url` through `browser`: up to `timing.attempts` attempts, stopping at the
// first that reads a document. An attempt navigates, reads the busy state and waits poll_ms
// after each reading until a reading finds the page loaded (at the max_busy_readings-th busy
// reading it stops the page and fails), waits settle_ms, reads the text (no page: the attempt
// fails) and stops the page. Then it waits final_ms and closes the reader. Returns the text, ""
// when no attempt read one.
std::string FetchPageText(BrowserDriver& browser, const std::string& url,
                          const PageFetchTiming& timing = {});

}  // namespace tomeva

#endif  // TOMEVA_CORE_UPDATE_VERSION_CHECK_H_
