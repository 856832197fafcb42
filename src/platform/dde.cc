#include "platform/dde.h"

#include <errno.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <unistd.h>

#include <QByteArray>
#include <QCryptographicHash>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QString>
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>
#include <thread>
#include <utility>

#include "core/base/mbstring.h"
#include "platform/environment.h"

namespace tomeva::platform {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kLengthSize = 4;
constexpr char kReplyDone = 0x01;
constexpr char kReplyRefused = 0x00;
// A server whose backlog is full is retried this often until the time-out.
constexpr auto kConnectRetry = std::chrono::milliseconds(10);

std::string LengthPrefix(std::size_t size) {
  std::string prefix(kLengthSize, '\0');
  for (std::size_t i = 0; i < kLengthSize; ++i) prefix[i] = static_cast<char>(size >> (8 * i));
  return prefix;
}

std::uint32_t ReadLength(const char* bytes) {
  std::uint32_t size = 0;
  for (std::size_t i = 0; i < kLengthSize; ++i) {
    size |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) << (8 * i);
  }
  return size;
}

// Milliseconds left before `deadline`, never negative, for poll().
int Remaining(Clock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

Clock::time_point DeadlineAfter(int timeout_ms) {
  return Clock::now() + std::chrono::milliseconds(timeout_ms > 0 ? timeout_ms : 0);
}

// Waits for `events` on `fd` until `deadline`. False on time-out or error.
bool WaitFor(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    pollfd entry{fd, events, 0};
    const int ready = ::poll(&entry, 1, Remaining(deadline));
    if (ready > 0) return true;
    if (ready == 0) return false;
    if (errno != EINTR) return false;
  }
}

bool FillAddress(const std::string& path, sockaddr_un* address) {
  std::memset(address, 0, sizeof(*address));
  address->sun_family = AF_UNIX;
  if (path.size() >= sizeof(address->sun_path)) return false;
  std::memcpy(address->sun_path, path.data(), path.size());
  return true;
}

// The answer to a transaction whose connection broke while sending: a server that refused
// oversized data answers before it closes, so its answer may still wait to be read.
DdeResult AnswerLeftBehind(int fd) {
  char reply = 0;
  const ssize_t got = ::recv(fd, &reply, 1, MSG_DONTWAIT);
  if (got == 1) return reply == kReplyDone ? DdeResult::kDone : DdeResult::kRefused;
  return DdeResult::kNoServer;
}

}  // namespace

std::string DdeSocketPath(const std::string& runtime_dir, const std::string& service,
                          const std::string& topic) {
  // The NUL keeps ("ab", "c") and ("a", "bc") apart; folding makes names match as they always did.
  QByteArray key = QByteArray::fromStdString(ToLowerAscii(service));
  key.append('\0');
  key.append(QByteArray::fromStdString(ToLowerAscii(topic)));
  const QByteArray hash = QCryptographicHash::hash(key, QCryptographicHash::Sha1).toHex().left(16);
  return runtime_dir + "/tomeva-dde-" + hash.toStdString() + ".sock";
}

// ---- client ----

DdeClient::DdeClient(std::string runtime_dir) : runtime_dir_(std::move(runtime_dir)) {}
DdeClient::DdeClient() : DdeClient(RuntimeDir()) {}

std::unique_ptr<DdeConversation> DdeClient::Connect(const std::string& service,
                                                    const std::string& topic, int timeout_ms,
                                                    DdeResult* failure) const {
  auto fail = [failure](DdeResult why) {
    if (failure != nullptr) *failure = why;
    return nullptr;
  };
  sockaddr_un address;
  // A path too long for a socket cannot have been registered by any server.
  if (!FillAddress(DdeSocketPath(runtime_dir_, service, topic), &address)) {
    return fail(DdeResult::kNoServer);
  }
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return fail(DdeResult::kNoServer);
  // From here on the conversation owns the socket, so that every return below closes it.
  std::unique_ptr<DdeConversation> conversation(new DdeConversation(fd));
  const Clock::time_point deadline = DeadlineAfter(timeout_ms);
  for (;;) {
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0) {
      return conversation;
    }
    if (errno == EINTR) continue;
    // A local socket connects at once or not at all, except that a server whose backlog is full
    // makes a non-blocking connect fail with EAGAIN; it takes the connection once it catches up.
    if (errno != EAGAIN) return fail(DdeResult::kNoServer);  // no file, no listener, no access
    if (Clock::now() >= deadline) return fail(DdeResult::kTimedOut);
    std::this_thread::sleep_for(std::min<Clock::duration>(kConnectRetry, deadline - Clock::now()));
  }
}

DdeConversation::~DdeConversation() { Disconnect(); }

void DdeConversation::Disconnect() {
  if (fd_ < 0) return;
  ::close(fd_);
  fd_ = -1;
}

DdeResult DdeConversation::Execute(std::string_view data, int timeout_ms) {
  if (fd_ < 0) return DdeResult::kNoServer;
  if (data.size() > kDdeMaxData) return DdeResult::kRefused;
  const Clock::time_point deadline = DeadlineAfter(timeout_ms);
  const std::string prefix = LengthPrefix(data.size());
  iovec parts[2] = {{const_cast<char*>(prefix.data()), prefix.size()},
                    {const_cast<char*>(data.data()), data.size()}};
  std::size_t sent = 0;
  const std::size_t total = prefix.size() + data.size();
  while (sent < total) {
    // What is left of the frame, as the parts not yet sent in full.
    iovec left[2];
    int count = 0;
    std::size_t skip = sent;
    for (const iovec& part : parts) {
      if (skip >= part.iov_len) {
        skip -= part.iov_len;
        continue;
      }
      left[count++] = {static_cast<char*>(part.iov_base) + skip, part.iov_len - skip};
      skip = 0;
    }
    msghdr message{};
    message.msg_iov = left;
    message.msg_iovlen = count;
    // MSG_NOSIGNAL: a server gone mid-frame must give an answer, not kill the program.
    const ssize_t written = ::sendmsg(fd_, &message, MSG_NOSIGNAL);
    if (written > 0) {
      sent += static_cast<std::size_t>(written);
      continue;
    }
    if (written < 0 && errno == EINTR) continue;
    if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (WaitFor(fd_, POLLOUT, deadline)) continue;
      Disconnect();
      return DdeResult::kTimedOut;
    }
    const DdeResult answer = AnswerLeftBehind(fd_);
    Disconnect();
    return answer;
  }
  for (;;) {
    char reply = 0;
    const ssize_t got = ::recv(fd_, &reply, 1, 0);
    if (got == 1) {
      if (reply == kReplyDone) return DdeResult::kDone;
      if (reply == kReplyRefused) return DdeResult::kRefused;
      Disconnect();  // not our server's answer: nothing more on this connection can be trusted
      return DdeResult::kRefused;
    }
    if (got == 0) {
      Disconnect();
      return DdeResult::kNoServer;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) {
      Disconnect();
      return DdeResult::kNoServer;
    }
    if (!WaitFor(fd_, POLLIN, deadline)) {
      Disconnect();
      return DdeResult::kTimedOut;
    }
  }
}

DdeResult DdeExecuteOnce(const DdeClient& client, const std::string& service,
                         const std::string& topic, std::string_view data, int timeout_ms) {
  const Clock::time_point deadline = DeadlineAfter(timeout_ms);
  DdeResult result = DdeResult::kNoServer;
  std::unique_ptr<DdeConversation> conversation =
      client.Connect(service, topic, timeout_ms, &result);
  if (conversation == nullptr) return result;
  // The time-out covers the whole transaction, the connection included.
  return conversation->Execute(data, Remaining(deadline));
}

// ---- server ----

DdeServer::DdeServer(std::string service, std::string topic, ExecuteHandler on_execute,
                     std::string runtime_dir)
    : socket_path_(DdeSocketPath(runtime_dir, service, topic)),
      on_execute_(std::move(on_execute)) {}

DdeServer::DdeServer(std::string service, std::string topic, ExecuteHandler on_execute)
    : DdeServer(std::move(service), std::move(topic), std::move(on_execute), RuntimeDir()) {}

DdeServer::~DdeServer() {
  if (server_ == nullptr) return;
  server_->close();  // removes the socket file
  delete server_;    // and the connections, its children
}

bool DdeServer::registered() const { return server_ != nullptr && server_->isListening(); }

bool DdeServer::Register(std::string* failure) {
  if (registered()) return true;
  auto fail = [&](const std::string& why) {
    if (failure != nullptr) *failure = socket_path_ + ": " + why;
    return false;
  };
  const std::string dir = std::filesystem::path(socket_path_).parent_path().string();
  std::error_code error;
  std::filesystem::create_directories(dir, error);
  if (error) return fail(error.message());

  const QString path = QFile::decodeName(QByteArray::fromStdString(socket_path_));
  struct stat found;
  if (::lstat(socket_path_.c_str(), &found) == 0) {
    // A server that still takes connections keeps its name; a socket nobody listens on was left
    // by a server that is gone and is ours to replace.
    sockaddr_un address;
    bool alive = false;
    if (S_ISSOCK(found.st_mode) && FillAddress(socket_path_, &address)) {
      const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
      if (fd >= 0) {
        alive = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0 ||
                errno == EAGAIN;
        ::close(fd);
      }
    }
    if (alive) return fail("registered by a running server");
    if (!S_ISSOCK(found.st_mode)) return fail("in the way, and not a socket");
    QLocalServer::removeServer(path);
  }

  auto server = std::make_unique<QLocalServer>();
  server->setSocketOptions(QLocalServer::UserAccessOption);
  if (!server->listen(path)) return fail(server->errorString().toStdString());
  server_ = server.release();
  QObject::connect(server_, &QLocalServer::newConnection, server_, [this] { TakeConnections(); });
  return true;
}

void DdeServer::TakeConnections() {
  while (QLocalSocket* client = server_->nextPendingConnection()) {
    // What has arrived of the next frame, and whether a frame's callback is running (it may
    // run an event loop of its own, which must not start the next frame inside it).
    struct State {
      QByteArray pending;
      bool busy = false;
    };
    auto state = std::make_shared<State>();
    QObject::connect(client, &QLocalSocket::readyRead, client, [this, client, state] {
      if (state->busy) return;
      state->busy = true;
      QPointer<QLocalSocket> alive(client);
      for (;;) {
        state->pending.append(client->readAll());
        if (static_cast<std::size_t>(state->pending.size()) < kLengthSize) break;
        const std::size_t size = ReadLength(state->pending.constData());
        if (size > kDdeMaxData) {
          // The rest of the frame is not worth reading: refuse, and end the conversation.
          client->write(&kReplyRefused, 1);
          client->disconnectFromServer();
          break;
        }
        if (static_cast<std::size_t>(state->pending.size()) < kLengthSize + size) break;
        const std::string data(state->pending.constData() + kLengthSize, size);
        state->pending.remove(0, static_cast<qsizetype>(kLengthSize + size));
        const bool done = on_execute_ ? on_execute_(data) : false;
        if (alive.isNull() || client->state() != QLocalSocket::ConnectedState) break;
        client->write(done ? &kReplyDone : &kReplyRefused, 1);
        client->flush();
      }
      if (!alive.isNull()) state->busy = false;
    });
    QObject::connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
    // Data may have come with the connection, before readyRead was connected.
    if (client->bytesAvailable() > 0) emit client->readyRead();
  }
}

}  // namespace tomeva::platform
