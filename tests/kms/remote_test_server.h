// Xapian's xapian-tcpsrv on a free local port, serving an index folder, for the reading-room tests
// and the remote benchmark: started in a process group of its own, so that stopping it also ends
// the processes it forked for open connections, as when its machine goes away.
#ifndef TOMEVA_TESTS_KMS_REMOTE_TEST_SERVER_H_
#define TOMEVA_TESTS_KMS_REMOTE_TEST_SERVER_H_

#include <sys/types.h>

#include <string>

namespace tomeva::kms_test {

// A local port nobody listens on now (the kernel's choice of a free one).
int FreeLocalPort();

class IndexServer {
 public:
  // Serves `index_folder` (the folder with the engine's stub). Nothing runs until Start.
  explicit IndexServer(std::string index_folder, int port = 0);
  ~IndexServer();  // stops it
  IndexServer(const IndexServer&) = delete;
  IndexServer& operator=(const IndexServer&) = delete;

  // Starts xapian-tcpsrv on the port (a free one the first time when none was given) and waits
  // until it accepts connections. False when it does not come up within 5 seconds.
  bool Start();
  // Kills the server and every connection process it forked (SIGKILL to its group), and waits.
  void Kill();
  // Freezes / thaws the whole group: a server that still accepts connections but never answers.
  void Freeze();
  void Thaw();

  int port() const { return port_; }
  // "remote 127.0.0.1:PORT", the stub line of a station.
  std::string StubLine() const;
  // "127.0.0.1:PORT".
  std::string Name() const;

 private:
  std::string folder_;
  int port_;
  pid_t pid_ = -1;
};

// A station folder: `folder` made with a stub holding `stub_text`.
bool MakeStation(const std::string& folder, const std::string& stub_text);

// A socket listening on a free local port that never accepts nor answers: connections are made by
// the kernel and then left silent. Closed on destruction.
class SilentListener {
 public:
  SilentListener();
  ~SilentListener();
  SilentListener(const SilentListener&) = delete;
  SilentListener& operator=(const SilentListener&) = delete;
  int port() const { return port_; }

 private:
  int fd_ = -1;
  int port_ = 0;
};

}  // namespace tomeva::kms_test

#endif  // TOMEVA_TESTS_KMS_REMOTE_TEST_SERVER_H_
