// Downloading a file from a web address (http, https, or a file:// address) into a local file or
// into memory, for the self-update's updater program and its signature.
//
// Threads: any thread; the call runs an event loop of its own on the calling thread while the
// transfer runs, which takes no user input, so a window on that thread keeps painting but cannot
// be used meanwhile.
#ifndef TOMEVA_PLATFORM_DOWNLOAD_H_
#define TOMEVA_PLATFORM_DOWNLOAD_H_

#include <cstdint>
#include <functional>
#include <string>

namespace tomeva::platform {

struct DownloadOptions {
  // The download is given up when no data arrives for this long (a server that accepts the
  // connection and then says nothing would otherwise hold the program forever).
  int stall_timeout_ms = 60000;
  // The whole transfer is given up after this long, however steadily data arrives: a server
  // that sends a byte now and then never stalls, and would hold the start for ever.
  int deadline_ms = 120000;
  // A file larger than this is refused: at once when the server announces its length, else as
  // soon as more has arrived.
  int64_t max_bytes = int64_t{256} << 20;
  // When set, a file: address is read only from inside this folder (plain POSIX path), under
  // ReadFileInside's rules, so that an address a page names cannot bring a file of the user's
  // from elsewhere on the machine into the library, not even for a moment. Empty: any regular
  // file the address names.
  std::string file_folder;
};

// Asked once the whole file has arrived, before anything is put in place: `part_path` is the
// complete temporary file (plain POSIX path, not yet runnable) and `over_https` is true when the
// address and every redirect were https, so that every byte came over TLS with a certificate Qt
// verified. The file is put in place only when this answers true.
using DownloadCheck = std::function<bool(const std::string& part_path, bool over_https)>;

// Fetches `url` (GBK) into `path` (GBK; "\" and letter case resolved as for every file),
// replacing a file of that name. Addresses are http, https or file; a redirect is followed only
// from https to https (an http address is never followed elsewhere, and https never leads to
// http). The data goes to a temporary file in the target's folder, every write checked; when it
// is whole and `check` (if given) accepts it, the file gets the run bits (rwxr-xr-x) and is
// flushed, then renamed over `path`. True only when all of that succeeded. On any failure (an
// address that cannot be fetched or has another scheme, an HTTP error status, a refused
// redirect, a refused connection or certificate, a stall, the deadline, a file over max_bytes, a
// write error, a full disk, a folder that is missing or cannot be written, a file `check`
// refused) false, with nothing of the download left and a file that was at `path` untouched.
bool DownloadToFile(const std::string& url, const std::string& path,
                    const DownloadOptions& options = {}, const DownloadCheck& check = nullptr);

// Fetches `url` (GBK) into `*bytes`, under the same rules for addresses, redirects, time and
// size. True with the whole body; false with `*bytes` empty on any failure. `*over_https` (may be
// null) tells, as for DownloadCheck, whether the address and every redirect were https.
bool DownloadToMemory(const std::string& url, std::string* bytes,
                      const DownloadOptions& options = {}, bool* over_https = nullptr);

// Reads the file at `path` (a plain POSIX path, as a file: address names it) into `*bytes`, but
// only a regular file inside `folder` (the library folder, a plain POSIX path): `path` must be
// absolute, hold no "." or ".." component and, as written, lie below `folder` as written or as
// its real path; its folder, with every link resolved (realpath), must be `folder`'s real path or
// lie below it; and the file itself must be no link (O_NOFOLLOW), no folder, FIFO or device, and
// at most `max_bytes` long. So an address that leads elsewhere (/proc/self/cwd/..., a link in the
// library to a file outside, /etc/...) is refused without reading anything. True with the whole
// file; false with `*bytes` empty otherwise.
bool ReadFileInside(const std::string& path, const std::string& folder, int64_t max_bytes,
                    std::string* bytes);

}  // namespace tomeva::platform

#endif  // TOMEVA_PLATFORM_DOWNLOAD_H_
