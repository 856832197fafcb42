#include "remote_test_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "base/file_util.h"

namespace tomeva::kms_test {
namespace {

sockaddr_in Loopback(int port) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return addr;
}

// A socket bound to a free loopback port (0 when none could be had), the port in `*port`.
int BindFree(int* port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in addr = Loopback(0);
  socklen_t len = sizeof addr;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    ::close(fd);
    return -1;
  }
  *port = ntohs(addr.sin_port);
  return fd;
}

bool Accepts(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in addr = Loopback(port);
  const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  ::close(fd);
  return ok;
}

}  // namespace

int FreeLocalPort() {
  int port = 0;
  int fd = BindFree(&port);
  if (fd >= 0) ::close(fd);
  return port;
}

IndexServer::IndexServer(std::string index_folder, int port)
    : folder_(std::move(index_folder)), port_(port) {}

IndexServer::~IndexServer() { Kill(); }

bool IndexServer::Start() {
  if (pid_ > 0) return true;
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (port_ == 0 || attempt > 0) port_ = FreeLocalPort();
    const std::string port = std::to_string(port_);
    pid_t pid = ::fork();
    if (pid < 0) return false;
    if (pid == 0) {
      ::setpgid(0, 0);
      int null = ::open("/dev/null", O_RDWR);
      if (null >= 0) {
        ::dup2(null, 1);
        ::dup2(null, 2);
      }
      ::execlp("xapian-tcpsrv", "xapian-tcpsrv", "--quiet", "--interface", "127.0.0.1", "--port",
               port.c_str(), folder_.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::setpgid(pid, pid);  // also from here, so that Kill never races the child's own call
    pid_ = pid;
    for (int i = 0; i < 100; ++i) {
      if (Accepts(port_)) return true;
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {  // it ended: the port was taken
        pid_ = -1;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    Kill();
  }
  return false;
}

void IndexServer::Kill() {
  if (pid_ <= 0) return;
  ::kill(-pid_, SIGCONT);
  ::kill(-pid_, SIGKILL);
  ::waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

void IndexServer::Freeze() {
  if (pid_ > 0) ::kill(-pid_, SIGSTOP);
}

void IndexServer::Thaw() {
  if (pid_ > 0) ::kill(-pid_, SIGCONT);
}

std::string IndexServer::StubLine() const { return "remote " + Name() + "\n"; }

std::string IndexServer::Name() const { return "127.0.0.1:" + std::to_string(port_); }

bool MakeStation(const std::string& folder, const std::string& stub_text) {
  return MakeDirectories(folder) && ReplaceFileAtomically(JoinPath(folder, "XAPIANDB"), stub_text);
}

SilentListener::SilentListener() {
  fd_ = BindFree(&port_);
  if (fd_ >= 0 && ::listen(fd_, 16) != 0) {
    ::close(fd_);
    fd_ = -1;
    port_ = 0;
  }
}

SilentListener::~SilentListener() {
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace tomeva::kms_test
