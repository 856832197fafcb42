// A platform that records what the program asked of it instead of doing it: the commands it
// started, the documents and addresses it opened, the processes it ended. The registry is in
// memory and the special folders lie under a folder the test chooses.
#ifndef TOMEVA_TESTS_SUPPORT_FAKE_PLATFORM_H_
#define TOMEVA_TESTS_SUPPORT_FAKE_PLATFORM_H_

#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "base/file_util.h"
#include "core/platform/platform.h"
#include "core/settings/registry.h"

namespace tomeva::testing {

class FakePlatform : public Platform {
 public:
  // Special folders are `root`/desktop, `root`/programs and `root`/system; "" leaves them empty.
  explicit FakePlatform(std::string root = std::string()) : root_(std::move(root)) {}

  Registry& registry() override { return registry_; }
  bool RunCommandLine(const std::string& command_line, const std::string& dir) override {
    commands.push_back(command_line + "@" + dir);
    return start_succeeds;
  }
  int Wait(const std::string& command_line, int show, uint32_t timeout_seconds,
           const std::string& dir) override {
    waits.push_back({command_line, show, timeout_seconds, dir});
    return 1;
  }
  bool RunCommandLineTitled(const std::string& command_line) override {
    titled.push_back(command_line);
    return start_succeeds;
  }
  std::string CompanionProgram(std::string_view name) override {
    return "/opt/tomeva/bin/" + std::string(name);
  }
  void KillProcessByName(std::string_view name, const std::string& folder) override {
    killed.emplace_back(name);
    killed_in.push_back(folder);
  }
  bool OpenDocument(const std::string& path) override {
    documents.push_back(path);
    return start_succeeds;
  }
  bool OpenInBrowserWindow(const std::string& url) override {
    urls.push_back(url);
    return start_succeeds;
  }
  std::string DesktopFolder() override { return Folder("desktop"); }
  std::string ProgramsFolder() override { return Folder("programs"); }
  std::string SystemFolder() override { return Folder("system"); }
  InstanceGuardResult AcquireSingleInstance(const std::string& name,
                                            std::function<void()> on_raise_request,
                                            std::string* failure) override {
    if (held_elsewhere.count(name) != 0) return InstanceGuardResult::kHeldElsewhere;
    if (!guard_failure.empty()) {
      if (failure != nullptr) *failure = guard_failure;
      return InstanceGuardResult::kFailed;
    }
    guards.push_back(name);
    on_raise_request_ = std::move(on_raise_request);
    return InstanceGuardResult::kAcquired;
  }
  DdeResult DdeExecute(const std::string& service, const std::string& topic,
                       const std::string& data, int timeout_ms) override {
    executes.push_back({service, topic, data, timeout_ms});
    return dde_result;
  }
  // A later start asking this instance to show itself.
  void RequestRaise() {
    if (on_raise_request_) on_raise_request_();
  }

  // One Wait the program asked for.
  struct WaitCall {
    std::string command_line;
    int show = 0;
    uint32_t timeout_seconds = 0;
    std::string dir;
  };
  // One execute transaction the program sent.
  struct DdeExecuteCall {
    std::string service;
    std::string topic;
    std::string data;
    int timeout_ms = 0;
  };

  MemoryRegistry registry_;
  bool start_succeeds = true;
  std::set<std::string> held_elsewhere;  // guard names another instance holds
  std::string guard_failure;             // non-empty: every guard fails with this reason
  std::vector<std::string> commands;     // "command line@dir"
  std::vector<WaitCall> waits;
  std::vector<std::string> titled;       // RunCommandLineTitled's command lines
  std::vector<std::string> documents;
  std::vector<std::string> urls;
  std::vector<std::string> killed;
  std::vector<std::string> killed_in;  // the folder each of those was to be inside
  std::vector<std::string> guards;
  DdeResult dde_result = DdeResult::kDone;  // what every execute transaction answers
  std::vector<DdeExecuteCall> executes;

 private:
  std::string Folder(const char* name) const {
    return root_.empty() ? std::string() : JoinPath(root_, name);
  }

  std::string root_;
  std::function<void()> on_raise_request_;
};

}  // namespace tomeva::testing

#endif  // TOMEVA_TESTS_SUPPORT_FAKE_PLATFORM_H_
