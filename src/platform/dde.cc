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
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>
#include <thread>
#include <utility>

#include "base/mbstring.h"
#include "platform/dde_frame.h"
#include "platform/environment.h"

namespace tomeva::platform {
namespace {

using Clock = std::chrono::steady_clock;

constexpr char kReplyDone = 0x01;
constexpr char kReplyRefused = 0x00;
// Sent, in place of any answer, to a conversation turned away for want of room.
constexpr char kReplyBusy = 0x02;
// What the server reads from a conversation at a time, and lets Qt read ahead for it.
constexpr std::size_t kReadChunk = 64 * 1024;
// A server whose backlog is full is retried this often until the time-out.
constexpr auto kConnectRetry = std::chrono::milliseconds(10);

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
  if (got != 1) return DdeResult::kNoServer;
  return reply == kReplyDone ? DdeResult::kDone
         : reply == kReplyBusy ? DdeResult::kBusy
                               : DdeResult::kRefused;
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
  // In a folder others can write to, whoever answers may be anyone: no server of ours is there.
  if (!CheckPrivateFolder(runtime_dir_, nullptr)) return fail(DdeResult::kNoServer);
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
  const std::string prefix = DdeFramePrefix(data.size());
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
      Disconnect();  // turned away, or not our server's answer: the conversation is over
      return reply == kReplyBusy ? DdeResult::kBusy : DdeResult::kRefused;
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

struct DdeServer::Connection {
  QPointer<QLocalSocket> socket;
  QPointer<QTimer> frame_timer;  // a child of the socket
  DdeFrameReader reader;
  bool open = true;       // false once dropped
  bool handling = false;  // its frame is with the callback now
  int served = 0;         // frames answered so far
  std::uint64_t opened = 0;
  std::uint64_t whole = 0;  // when its waiting frame became whole
};

DdeServer::DdeServer(std::string service, std::string topic, ExecuteHandler on_execute,
                     std::string runtime_dir)
    : socket_path_(DdeSocketPath(runtime_dir, service, topic)),
      on_execute_(std::move(on_execute)) {}

DdeServer::DdeServer(std::string service, std::string topic, ExecuteHandler on_execute)
    : DdeServer(std::move(service), std::move(topic), std::move(on_execute), RuntimeDir()) {}

DdeServer::~DdeServer() {
  // The conversations are closed with the server below; none of them may call back into it then.
  for (const std::shared_ptr<Connection>& connection : connections_) {
    connection->open = false;
    if (!connection->socket.isNull()) {
      QObject::disconnect(connection->socket, nullptr, nullptr, nullptr);
    }
  }
  connections_.clear();
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
  std::string why;
  if (PrepareRuntimeFolder(dir, &why) != RuntimeFolder::kPrivate) {
    return fail("runtime folder " + dir + ": " + why);
  }

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
    if (connections_.size() >= static_cast<std::size_t>(kDdeMaxConnections) && !MakeRoom()) {
      // Turned away before anything is read, and told why: a client that opens conversations
      // without end cannot make the server hold more than its share of sockets and frames.
      client->write(&kReplyBusy, 1);
      client->flush();
      client->disconnectFromServer();
      client->deleteLater();
      continue;
    }
    auto connection = std::make_shared<Connection>();
    connection->socket = client;
    connection->opened = next_sequence_++;
    // Qt reads ahead only this far; the rest waits in the socket until the frame before it has
    // been answered, so a client that sends frame after frame cannot fill memory.
    client->setReadBufferSize(kReadChunk);
    connection->frame_timer = new QTimer(client);
    connection->frame_timer->setSingleShot(true);
    connections_.push_back(connection);
    std::weak_ptr<Connection> weak = connection;
    QObject::connect(connection->frame_timer, &QTimer::timeout, client, [this, weak] {
      if (auto late = weak.lock()) Drop(late);
    });
    QObject::connect(client, &QLocalSocket::readyRead, client, [this, weak] {
      if (auto ready = weak.lock()) {
        Drain(ready);
        Serve();
      }
    });
    QObject::connect(client, &QLocalSocket::disconnected, client, [this, weak] {
      if (auto gone = weak.lock()) Drop(gone);
    });
    connection->frame_timer->start(frame_timeout_ms_);
    // Data may have come with the connection, before readyRead was connected.
    Drain(connection);
  }
  Serve();
}

bool DdeServer::MakeRoom() {
  // Someone holding a conversation open without a whole frame goes first (the one waiting
  // longest); then the conversation that has had the most frames served, since the program's
  // own sender sends one frame per conversation. A first frame waiting its turn is never lost.
  std::shared_ptr<Connection> victim;
  for (const std::shared_ptr<Connection>& connection : connections_) {
    if (connection->handling ||
        connection->reader.state() == DdeFrameReader::State::kComplete) {
      continue;
    }
    if (victim == nullptr || connection->opened < victim->opened) victim = connection;
  }
  if (victim == nullptr) {
    for (const std::shared_ptr<Connection>& connection : connections_) {
      if (connection->handling || connection->served == 0) continue;
      if (victim == nullptr || connection->served > victim->served) victim = connection;
    }
  }
  if (victim == nullptr) return false;
  Drop(victim);
  return true;
}

void DdeServer::Drain(const std::shared_ptr<Connection>& connection) {
  QLocalSocket* socket = connection->socket.data();
  if (socket == nullptr) return;
  char buffer[kReadChunk];
  for (;;) {
    const std::size_t wanted = connection->reader.Wanted(sizeof(buffer));
    if (wanted == 0) break;
    const qint64 got = socket->read(buffer, static_cast<qint64>(wanted));
    if (got <= 0) break;
    connection->reader.Feed(std::string_view(buffer, static_cast<std::size_t>(got)));
  }
  switch (connection->reader.state()) {
    case DdeFrameReader::State::kComplete:
      // Whole: it waits for its turn, however long the frames before it take.
      if (connection->frame_timer != nullptr) connection->frame_timer->stop();
      if (connection->whole == 0) connection->whole = ++next_sequence_;
      break;
    case DdeFrameReader::State::kTooLong:
      // The rest of the frame is not worth reading: refuse, and end the conversation.
      socket->write(&kReplyRefused, 1);
      socket->flush();
      Drop(connection);
      break;
    case DdeFrameReader::State::kEmpty:
    case DdeFrameReader::State::kPartial:
      break;
  }
}

void DdeServer::Serve() {
  // Called again from inside the callback when it runs an event loop of its own: the frames that
  // arrive then are read, and handed over once the callback has returned.
  if (handling_) return;
  handling_ = true;
  for (;;) {
    // The waiting frame of the conversation served least so far, the earliest whole among those.
    std::shared_ptr<Connection> next;
    for (const std::shared_ptr<Connection>& connection : connections_) {
      if (!connection->open || connection->reader.state() != DdeFrameReader::State::kComplete) {
        continue;
      }
      if (next == nullptr || connection->served < next->served ||
          (connection->served == next->served && connection->whole < next->whole)) {
        next = connection;
      }
    }
    if (next == nullptr) break;
    const std::string data = next->reader.TakeData();
    next->whole = 0;
    next->handling = true;
    const bool done = on_execute_ ? on_execute_(data) : false;
    next->handling = false;
    ++next->served;
    QLocalSocket* socket = next->socket.data();
    if (!next->open || socket == nullptr || socket->state() != QLocalSocket::ConnectedState) {
      continue;
    }
    socket->write(done ? &kReplyDone : &kReplyRefused, 1);
    socket->flush();
    if (next->frame_timer != nullptr) next->frame_timer->start(frame_timeout_ms_);
    // The next frame may already wait in the socket, held back while this one was handled.
    Drain(next);
  }
  handling_ = false;
}

void DdeServer::Drop(const std::shared_ptr<Connection>& connection) {
  const auto found = std::find(connections_.begin(), connections_.end(), connection);
  if (found == connections_.end()) return;
  connections_.erase(found);
  connection->open = false;
  if (QLocalSocket* socket = connection->socket.data()) {
    QObject::disconnect(socket, nullptr, nullptr, nullptr);
    if (connection->frame_timer != nullptr) connection->frame_timer->stop();
    // A refusal still on its way is let out before the conversation closes.
    if (socket->bytesToWrite() > 0) {
      socket->disconnectFromServer();
    } else {
      socket->abort();
    }
    socket->deleteLater();
  }
}

}  // namespace tomeva::platform
