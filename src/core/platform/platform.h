// Platform: everything the program asks of the desktop it runs on, behind one interface. The
// registry, starting and ending programs, opening a document or a web address with the desktop's
// handler, the desktop's special folders, the guard that keeps a single instance running, and
// the conversations with other programs' servers (the PDF viewer's highlight service).
// src/platform implements it for Linux; tests implement it with fakes. Core reaches the desktop
// only through it, so that no core file starts a program or guards the instance by itself.
//
// Texts and paths are GBK, as everywhere in core. Calls are made on the user-interface thread,
// except for the registry, KillProcessByName and the special folders, which the migration of an
// older installation calls from its worker while the user-interface thread waits (one thread at a
// time), and DdeExecute, which the highlight workers call from any thread at any time.
#ifndef TOMEVA_CORE_PLATFORM_PLATFORM_H_
#define TOMEVA_CORE_PLATFORM_PLATFORM_H_

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "core/settings/registry.h"

namespace tomeva {

// What taking the single-instance guard came to (Platform::AcquireSingleInstance).
enum class InstanceGuardResult {
  kAcquired,
  kHeldElsewhere,
  kFailed,
};

// How one execute transaction of a conversation ended. kBusy: the server had as many conversations open as it
// keeps, each with a frame waiting, and turned this one away before reading it.
enum class DdeResult { kDone, kNoServer, kRefused, kTimedOut, kBusy };

class Platform {
 public:
  virtual ~Platform() = default;

  // The registry the settings and the maintenance read and write. Owned by the platform.
  virtual Registry& registry() = 0;

  // Starts `command_line` (program and arguments, split into words as core/platform/
  // command_line.h says) with `dir` as its working directory (the present one when empty),
  // without waiting for it and without a terminal. False when it could not be started (no words,
  // an open quote, no such program or folder).
  virtual bool RunCommandLine(const std::string& command_line, const std::string& dir) = 0;
  // Starts `command_line` in the `dir` folder (the present one when empty) shown (`show` != 0) or
  // hidden (no terminal; standard input, output and error on /dev/null), and blocks the caller
  // until the program has ended or `timeout_seconds` have passed (kWaitForever: no limit). A
  // program still running at the time-out keeps running. 1 once the wait is over, also when the
  // program could not be started; 0 only when the job could not be set up. The caller cannot tell
  // a time-out from the program's end.
  static constexpr uint32_t kWaitForever = 4294967295u;
  virtual int Wait(const std::string& command_line, int show, uint32_t timeout_seconds,
                   const std::string& dir) = 0;
  // Starts `command_line` shown, without waiting, with the command line as its title where the
  // desktop shows one (Linux has none to set). False when it could not be started.
  virtual bool RunCommandLineTitled(const std::string& command_line) = 0;
  // The path of a program shipped beside this program's own executable (the help viewer
  // "tomeva-help", the browser window "tomeva-browser"), whether or not it exists.
  virtual std::string CompanionProgram(std::string_view name) = 0;
  // Ends every other process of this user whose executable file name equals `name` exactly
  // (bytes) and whose program file lies inside `folder` (a path, GBK; links resolved on both
  // sides), and gives the files they held a moment to be released. Processes of other users, and
  // programs of the same name elsewhere, are left alone; nothing is ended when `folder` is not
  // an existing folder.
  virtual void KillProcessByName(std::string_view name, const std::string& folder) = 0;

  // Opens a file (a help page) with the desktop's handler for it, without waiting. A relative
  // path is taken from the working directory. False when no handler could be started.
  virtual bool OpenDocument(const std::string& path) = 0;
  // Opens a web address in a browser window, without waiting. False when none could be started.
  virtual bool OpenInBrowserWindow(const std::string& url) = 0;

  // The desktop's special folders, as the file system spells them, without a trailing "/".
  virtual std::string DesktopFolder() = 0;
  virtual std::string ProgramsFolder() = 0;  // the menu of installed programs
  virtual std::string SystemFolder() = 0;    // where shared engine files were installed

  // Takes the single-instance guard named `name` for as long as the platform object lives.
  //   kAcquired: held; `on_raise_request` runs (on the user-interface thread) each time a later
  //     start asks this instance to show itself.
  //   kHeldElsewhere: a running instance holds it; that instance was asked to raise its window.
  //     Only a live holder gives this answer: a guard left behind by an instance that was killed
  //     is taken over.
  //   kFailed: the guard could not be set up in full (its folder cannot be created or written,
  //     a leftover of a dead instance cannot be removed, later starts cannot reach this one).
  //     `*failure` (GBK, one line) names the folder and says what went wrong and what it means.
  //     Whatever part of the guard could be taken is kept.
  // `failure` may be null; it is left alone unless the answer is kFailed.
  virtual InstanceGuardResult AcquireSingleInstance(const std::string& name,
                                                    std::function<void()> on_raise_request,
                                                    std::string* failure) = 0;

  // One execute transaction: connects to the server registered as (service, topic) (GBK),
  // sends `data`, and waits at most `timeout_ms` for its acknowledgement. Any thread.
  virtual DdeResult DdeExecute(const std::string& service, const std::string& topic,
                               const std::string& data, int timeout_ms) = 0;
};

}  // namespace tomeva

#endif  // TOMEVA_CORE_PLATFORM_PLATFORM_H_
