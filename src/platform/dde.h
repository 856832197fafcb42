// Conversations between programs: a server registers a (service, topic) pair, and a client
// connects to it and sends execute transactions, each acknowledged by the server as done or
// refused. The viewer's highlight plug-in is served this way; the program is the client.
//
// A registered pair is a local socket in the runtime folder (environment.h), named from a hash of
// the service and topic, so that GBK names of any bytes make a valid file name. Service and topic
// match as the desktop's conversation names always did: ASCII letters without regard to case,
// double-byte characters exactly. The bytes on the socket are in docs/formats/dde.md.
//
// The client (DdeClient, DdeConversation) uses plain sockets and poll(), so that it works from
// any thread, with or without a Qt event loop. The server (DdeServer) runs on the Qt event loop of
// the thread that made it.
//
// Both ends use the runtime folder only while it is private to this user (environment.h's
// CheckPrivateFolder): in a folder another user can write to, that user could register the pair
// first and pose as the server, so there a client finds no server and a server does not register.
//
// Names are plain GBK strings, not handles: a name here only ever becomes a socket path, so a
// handle would be one more thing to free on every exit without telling anything a string does
// not.
#ifndef TOMEVA_PLATFORM_DDE_H_
#define TOMEVA_PLATFORM_DDE_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/platform/platform.h"
#include "platform/dde_frame.h"

class QLocalServer;
class QLocalSocket;

namespace tomeva::platform {

// The most conversations a server keeps open at once. One more makes room by closing the
// conversation that has waited longest without sending a whole frame, else the one that has had
// the most frames served; only when every conversation holds a first frame waiting its turn is
// the newcomer turned away (answered "busy").
inline constexpr int kDdeMaxConnections = 8;
// How long a server waits for a whole frame: from the opening of a conversation, or from its last
// reply, until the frame's last byte. A conversation that is slower is closed. The program's own
// sender connects and sends its frame at once, so an idle conversation is somebody else's.
inline constexpr int kDdeFrameTimeoutMs = 2000;

// The socket path under which (service, topic) is registered in `runtime_dir`.
std::string DdeSocketPath(const std::string& runtime_dir, const std::string& service,
                          const std::string& topic);

class DdeConversation;

// The client's instance: where conversations look for servers. Cheap; holds no system resource,
// so that a worker can make one per transaction and every exit path releases what it took by
// leaving scope. Conversations do not refer to it and may outlive it.
class DdeClient {
 public:
  // Servers are looked up in `runtime_dir` (the runtime folder of environment.h by default).
  explicit DdeClient(std::string runtime_dir);
  DdeClient();

  // Connects to the server registered as (service, topic). Null when none answers, with
  // `*failure` (may be null) set to kNoServer (no server, one that is gone, or a runtime folder
  // that is not private to this user), or kTimedOut
  // (a server too busy to take the connection within `timeout_ms`).
  std::unique_ptr<DdeConversation> Connect(const std::string& service, const std::string& topic,
                                           int timeout_ms, DdeResult* failure) const;

  const std::string& runtime_dir() const { return runtime_dir_; }

 private:
  std::string runtime_dir_;
};

// One connection to a server. Owns its socket and closes it on Disconnect or destruction. Used by
// one thread at a time; transactions run one after another.
class DdeConversation {
 public:
  ~DdeConversation();
  DdeConversation(const DdeConversation&) = delete;
  DdeConversation& operator=(const DdeConversation&) = delete;

  // Sends `data` as one execute transaction and waits at most `timeout_ms` (0 or less: no wait
  // beyond what is ready at once) for the acknowledgement:
  //   kDone      the server ran it;
  //   kRefused   the server declined it, or it is larger than kDdeMaxData (then nothing is sent);
  //   kNoServer  the server went away before answering, or the conversation is closed;
  //   kTimedOut  no answer in time. The conversation is closed then, so that a late answer is
  //              never taken for the next transaction's;
  //   kBusy      the server turned the conversation away (DdeServer, kDdeMaxConnections); the
  //              conversation is closed.
  DdeResult Execute(std::string_view data, int timeout_ms);

  // Closes the connection; later transactions give kNoServer. Idempotent.
  void Disconnect();
  bool connected() const { return fd_ >= 0; }

 private:
  friend class DdeClient;
  explicit DdeConversation(int fd) : fd_(fd) {}

  int fd_;
};

// One execute transaction from start to end: connect, execute, disconnect, within `timeout_ms`
// in all. Any thread.
DdeResult DdeExecuteOnce(const DdeClient& client, const std::string& service,
                         const std::string& topic, std::string_view data, int timeout_ms);

// A registered (service, topic) pair that runs `on_execute` for each execute transaction and
// acknowledges it with what the callback returned (true: done, false: refused) once it has
// returned. Lives on, and calls back on, the thread that made it, whose Qt event loop must run.
// The callback must not destroy the server.
//
// One frame at a time, server-wide: while the callback runs (even when it spins an event loop of
// its own) no other frame of any conversation is handed to it; frames that arrive meanwhile are
// read and wait their turn. Of the frames waiting, the one whose conversation has had the fewest
// frames served goes first (then the one that was whole first), so a conversation sending frame
// after frame cannot keep a newcomer waiting. At most kDdeMaxConnections conversations are open
// (see there for who makes room); a conversation whose frame is not whole within the frame
// time-out is closed, without an answer; a frame whose prefix claims more than kDdeMaxData is
// refused at once and its conversation closed.
class DdeServer {
 public:
  using ExecuteHandler = std::function<bool(const std::string& data)>;

  DdeServer(std::string service, std::string topic, ExecuteHandler on_execute,
            std::string runtime_dir);
  DdeServer(std::string service, std::string topic, ExecuteHandler on_execute);
  // Unregisters: the socket is closed and removed, open conversations are dropped.
  ~DdeServer();
  DdeServer(const DdeServer&) = delete;
  DdeServer& operator=(const DdeServer&) = delete;

  // Registers the pair. A socket left behind by a server that is gone is replaced; one that a
  // live server holds is not. False when not registered, with `*failure` (may be null; one
  // line) naming the socket, as the file system spells it, and what went wrong.
  bool Register(std::string* failure);
  bool registered() const;
  const std::string& socket_path() const { return socket_path_; }
  // The frame time-out (kDdeFrameTimeoutMs unless set); applies to frames begun after the call.
  void set_frame_timeout_ms(int ms) { frame_timeout_ms_ = ms; }
  // Conversations open now.
  int connection_count() const { return static_cast<int>(connections_.size()); }

 private:
  struct Connection;

  void TakeConnections();
  // Closes one conversation to make room for a newcomer (see kDdeMaxConnections). False when
  // every open conversation holds a first frame waiting or being handled.
  bool MakeRoom();
  // Reads what the conversation's current frame still needs from its socket.
  void Drain(const std::shared_ptr<Connection>& connection);
  // Hands the waiting frames to the callback, one at a time, unless one is being handled.
  void Serve();
  void Drop(const std::shared_ptr<Connection>& connection);

  std::string socket_path_;
  ExecuteHandler on_execute_;
  QLocalServer* server_ = nullptr;  // owned; null until registered
  std::vector<std::shared_ptr<Connection>> connections_;
  int frame_timeout_ms_ = kDdeFrameTimeoutMs;
  bool handling_ = false;
  std::uint64_t next_sequence_ = 0;  // orders conversations' openings and whole frames
};

}  // namespace tomeva::platform

#endif  // TOMEVA_PLATFORM_DDE_H_
