// Downloading a file from a web address (http, https, or a file:// address) into a local file, for
// the self-update's updater program.
//
// Threads: any thread; the call runs an event loop of its own on the calling thread while the
// transfer runs, which takes no user input, so a window on that thread keeps painting but cannot
// be used meanwhile.
#ifndef TOMEVA_PLATFORM_DOWNLOAD_H_
#define TOMEVA_PLATFORM_DOWNLOAD_H_

#include <string>

namespace tomeva::platform {

struct DownloadOptions {
  // The download is given up when no data arrives for this long (a server that accepts the
  // connection and then says nothing would otherwise hold the program forever).
  int stall_timeout_ms = 60000;
};

// Fetches `url` (GBK), following redirects, into `path` (GBK; "\" and letter case resolved as for
// every file), replacing a file of that name. The data goes to a temporary file in the target's
// folder, every write checked; the file gets the run bits (rwxr-xr-x) and is flushed, then renamed
// over `path`. True only when all of that succeeded. On any failure (an address that cannot be
// fetched, an HTTP error status, a refused connection, a stall, a write error, a full disk, a
// folder that is missing or cannot be written) false, with nothing of the download left and a
// file that was at `path` untouched.
bool DownloadToFile(const std::string& url, const std::string& path,
                    const DownloadOptions& options = {});

}  // namespace tomeva::platform

#endif  // TOMEVA_PLATFORM_DOWNLOAD_H_
