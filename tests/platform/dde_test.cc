#include "platform/dde.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/file_util.h"
#include "base/gbk.h"
#include "core/engine/highlight.h"
#include "core/pdf/highlight_client.h"
#include "platform/linux_platform.h"
#include "support/temp_dir.h"

namespace tomeva::platform {
namespace {

using testing::TempDir;
using Clock = std::chrono::steady_clock;

const std::string kService = "HiliteService";
const std::string kTopic = "PageNumber";

long long MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Runs `work` on a thread of its own while this thread's event loop serves, as the highlight
// worker runs beside the user-interface thread; the client blocks, so it cannot share the loop.
template <typename Work>
auto OnWorker(Work work) -> decltype(work()) {
  std::atomic<bool> done{false};
  decltype(work()) result{};
  std::thread worker([&] {
    result = work();
    done = true;
  });
  while (!done) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(1);
  }
  worker.join();
  QCoreApplication::processEvents();
  return result;
}

// A listening socket at `path` that is never served: connections wait in its backlog, and what
// they send is never read or answered. Closed by the destructor.
class SilentListener {
 public:
  explicit SilentListener(const std::string& path) {
    fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
    bound_ = fd_ >= 0 &&
             ::bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0 &&
             ::listen(fd_, 8) == 0;
  }
  ~SilentListener() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool bound() const { return bound_; }
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
  bool bound_ = false;
};

class DdeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (QCoreApplication::instance() == nullptr) {
      static int argc = 1;
      static char name[] = "dde_test";
      static char* argv[] = {name, nullptr};
      new QCoreApplication(argc, argv);
    }
    MakePrivateFolder(run_);
  }
  void TearDown() override { ::unsetenv("TOMEVA_RUNTIME_DIR"); }

  // The runtime folder as the program makes it: only this user may use it.
  static void MakePrivateFolder(const std::string& dir) { ::mkdir(dir.c_str(), 0700); }

  // A registered server that writes down what it receives and answers `answer`.
  std::unique_ptr<DdeServer> Serve(const std::string& service, const std::string& topic,
                                   std::vector<std::string>* received, bool answer = true) {
    auto server = std::make_unique<DdeServer>(
        service, topic,
        [received, answer](const std::string& data) {
          received->push_back(data);
          return answer;
        },
        run_);
    std::string failure;
    EXPECT_TRUE(server->Register(&failure)) << failure;
    return server;
  }

  DdeResult ExecuteOnWorker(const std::string& service, const std::string& topic,
                            const std::string& data, int timeout_ms = 5000) {
    return OnWorker(
        [&] { return DdeExecuteOnce(DdeClient(run_), service, topic, data, timeout_ms); });
  }

  TempDir dir_;
  std::string run_ = dir_ / "run";
};

// Whatever bytes the data holds reach the server whole, in one callback, and are acknowledged.
TEST_F(DdeTest, ExecuteDeliversDataWholeAndIsAcknowledged) {
  std::string big(64 * 1024, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 131 + 7);
  const struct {
    const char* name;
    std::string data;
  } cases[] = {
      {"binary", std::string("\x80\x80\0\0\x01\0\0\0\xff", 9)},
      {"empty", std::string()},
      {"64 KB", big},
  };
  std::vector<std::string> received;
  auto server = Serve(kService, kTopic, &received);
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    received.clear();
    EXPECT_EQ(ExecuteOnWorker(kService, kTopic, test.data), DdeResult::kDone);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].size(), test.data.size());
    EXPECT_TRUE(received[0] == test.data);
  }
}

// One conversation carries transactions one after another, each answered for itself; a refusal
// is told apart from success and does not end the conversation.
TEST_F(DdeTest, ConversationCarriesSeveralTransactionsAndRefusals) {
  std::vector<std::string> received;
  std::vector<bool> answers = {true, false, true};
  std::size_t next = 0;
  DdeServer server(
      kService, kTopic,
      [&](const std::string& data) {
        received.push_back(data);
        return answers[next++];
      },
      run_);
  ASSERT_TRUE(server.Register(nullptr));
  const std::vector<DdeResult> results = OnWorker([&] {
    std::vector<DdeResult> got;
    DdeResult failure = DdeResult::kDone;
    auto conversation = DdeClient(run_).Connect(kService, kTopic, 1000, &failure);
    if (conversation == nullptr) return std::vector<DdeResult>{failure};
    for (const char* data : {"one", "two", "three"})
      got.push_back(conversation->Execute(data, 5000));
    conversation->Disconnect();
    got.push_back(conversation->Execute("four", 5000));
    return got;
  });
  EXPECT_EQ(results, (std::vector<DdeResult>{DdeResult::kDone, DdeResult::kRefused,
                                             DdeResult::kDone, DdeResult::kNoServer}));
  EXPECT_EQ(received, (std::vector<std::string>{"one", "two", "three"}));
}

// Where no server listens, the client says so at once, however long it was willing to wait.
TEST_F(DdeTest, NoServerIsToldAtOnce) {
  const std::string path = DdeSocketPath(run_, kService, kTopic);
  const struct {
    const char* name;
    std::function<void()> arrange;
  } cases[] = {
      {"no socket", [] {}},
      {"socket left by a server that is gone",
       [&] {
         SilentListener left(path);
         ASSERT_TRUE(left.bound());
       }},
      {"a file that is not a socket", [&] { ASSERT_TRUE(ReplaceFileAtomically(path, "x")); }},
      {"runtime folder missing", [&] { std::filesystem::remove_all(run_); }},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    ::unlink(path.c_str());
    MakePrivateFolder(run_);
    test.arrange();
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(DdeExecuteOnce(DdeClient(run_), kService, kTopic, "data", 5000),
              DdeResult::kNoServer);
    EXPECT_LT(MsSince(start), 1000);
  }
}

// A server that takes the connection and then never reads or answers makes the client give up
// when the time-out ends, whether it waits for the answer or to send the rest of a large frame;
// the conversation is closed then, so no late answer is taken for a later transaction's.
TEST_F(DdeTest, SilentServerTimesOut) {
  const struct {
    const char* name;
    std::size_t size;
  } cases[] = {
      {"waiting for the answer", 16},
      {"waiting to send", kDdeMaxData},
  };
  SilentListener silent(DdeSocketPath(run_, kService, kTopic));
  ASSERT_TRUE(silent.bound());
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    const std::string data(test.size, 'x');
    DdeResult failure = DdeResult::kDone;
    auto conversation = DdeClient(run_).Connect(kService, kTopic, 300, &failure);
    ASSERT_NE(conversation, nullptr);
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(conversation->Execute(data, 300), DdeResult::kTimedOut);
    const long long elapsed = MsSince(start);
    EXPECT_GE(elapsed, 290);
    EXPECT_LT(elapsed, 1500);
    EXPECT_FALSE(conversation->connected());
    EXPECT_EQ(conversation->Execute("again", 300), DdeResult::kNoServer);
  }
}

// A server that has taken the transaction but is slower to answer than the client waits: the
// client gives up at its time-out, and the server, answering a client that is gone, serves on.
TEST_F(DdeTest, SlowServerTimesOutAndServesOn) {
  std::vector<std::string> received;
  DdeServer server(
      kService, kTopic,
      [&](const std::string& data) {
        received.push_back(data);
        if (data == "slow") QThread::msleep(800);
        return true;
      },
      run_);
  ASSERT_TRUE(server.Register(nullptr));
  long long elapsed = 0;
  EXPECT_EQ(OnWorker([&] {
              const Clock::time_point start = Clock::now();
              const DdeResult result =
                  DdeExecuteOnce(DdeClient(run_), kService, kTopic, "slow", 300);
              elapsed = MsSince(start);
              return result;
            }),
            DdeResult::kTimedOut);
  EXPECT_GE(elapsed, 290);
  EXPECT_LT(elapsed, 700);
  EXPECT_EQ(ExecuteOnWorker(kService, kTopic, "next"), DdeResult::kDone);
  EXPECT_EQ(received, (std::vector<std::string>{"slow", "next"}));
}

// A server that accepts and drops the connection without an answer is a server gone, not one
// that acknowledged.
TEST_F(DdeTest, ServerDroppingTheConnectionIsNoServer) {
  SilentListener dropping(DdeSocketPath(run_, kService, kTopic));
  ASSERT_TRUE(dropping.bound());
  std::thread server([&] {
    const int client = ::accept(dropping.fd(), nullptr, nullptr);
    char header[4];
    if (client >= 0) {
      ::recv(client, header, sizeof(header), MSG_WAITALL);
      ::close(client);
    }
  });
  const Clock::time_point start = Clock::now();
  EXPECT_EQ(DdeExecuteOnce(DdeClient(run_), kService, kTopic, "data", 5000), DdeResult::kNoServer);
  EXPECT_LT(MsSince(start), 1000);
  server.join();
}

// Each (service, topic) pair is a server of its own; names match with ASCII letters in any case
// and double-byte characters exactly, whose trail bytes are never folded.
TEST_F(DdeTest, PairsAreServedSideBySide) {
  const std::string gbk_service = Utf8ToGbk("高亮服务");
  std::vector<std::string> hilite, other_topic, gbk_a, gbk_b;
  auto server1 = Serve(kService, kTopic, &hilite);
  auto server2 = Serve(kService, "Other", &other_topic);
  // 0x81 0x41 and 0x81 0x61 are two different double-byte characters.
  auto server3 = Serve("\x81\x41", kTopic, &gbk_a);
  auto server4 = Serve("\x81\x61", kTopic, &gbk_b);

  EXPECT_EQ(ExecuteOnWorker("hiliteSERVICE", "pagenumber", "1"), DdeResult::kDone);
  EXPECT_EQ(ExecuteOnWorker(kService, "OTHER", "2"), DdeResult::kDone);
  EXPECT_EQ(ExecuteOnWorker("\x81\x41", kTopic, "3"), DdeResult::kDone);
  EXPECT_EQ(ExecuteOnWorker("\x81\x61", kTopic, "4"), DdeResult::kDone);
  EXPECT_EQ(ExecuteOnWorker(gbk_service, kTopic, "5"), DdeResult::kNoServer);

  EXPECT_EQ(hilite, std::vector<std::string>{"1"});
  EXPECT_EQ(other_topic, std::vector<std::string>{"2"});
  EXPECT_EQ(gbk_a, std::vector<std::string>{"3"});
  EXPECT_EQ(gbk_b, std::vector<std::string>{"4"});
}

// A pair a live server holds cannot be taken by a second one; once it is gone, its name is
// free again, and a client then finds no server until the next registers.
TEST_F(DdeTest, RegistrationKeepsLiveServersAndFreesTheNameAfter) {
  std::vector<std::string> first_got, second_got;
  auto first = Serve(kService, kTopic, &first_got);
  DdeServer second(
      kService, kTopic,
      [&](const std::string& data) {
        second_got.push_back(data);
        return true;
      },
      run_);
  std::string failure;
  EXPECT_FALSE(second.Register(&failure));
  EXPECT_NE(failure.find(second.socket_path()), std::string::npos) << failure;
  EXPECT_EQ(ExecuteOnWorker(kService, kTopic, "a"), DdeResult::kDone);

  first.reset();
  EXPECT_FALSE(std::filesystem::exists(second.socket_path()));
  EXPECT_EQ(ExecuteOnWorker(kService, kTopic, "b", 300), DdeResult::kNoServer);
  ASSERT_TRUE(second.Register(&failure)) << failure;
  EXPECT_EQ(ExecuteOnWorker(kService, kTopic, "c"), DdeResult::kDone);
  EXPECT_EQ(first_got, std::vector<std::string>{"a"});
  EXPECT_EQ(second_got, std::vector<std::string>{"c"});

  // A socket left by a server that died without unregistering is taken over.
  DdeServer third(
      kService, "Left", [](const std::string&) { return true; }, run_);
  { SilentListener left(third.socket_path()); }
  EXPECT_TRUE(third.Register(&failure)) << failure;
}

// The server reads frames that arrive in pieces, and refuses a frame larger than any it takes
// without waiting for its data. Driven with raw bytes, as another program's client would send.
TEST_F(DdeTest, ServerReadsFramesInPiecesAndRefusesOversizedOnes) {
  std::vector<std::string> received;
  auto server = Serve(kService, kTopic, &received);
  const struct {
    const char* name;
    std::vector<std::string> pieces;
    char reply;
    std::vector<std::string> received;
  } cases[] = {
      {"in pieces", {std::string("\x03\0", 2), std::string("\0\0a", 3), "bc"}, 0x01, {"abc"}},
      {"oversized", {"\xff\xff\xff\x7f"}, 0x00, {}},
      {"prefix claiming 4 GiB", {"\xff\xff\xff\xff"}, 0x00, {}},
      {"one byte over the limit", {std::string("\x01\0\0\x01", 4)}, 0x00, {}},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    received.clear();
    const std::string path = server->socket_path();
    const int reply = OnWorker([&] {
      const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
      sockaddr_un address{};
      address.sun_family = AF_UNIX;
      std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
      int answer = -1;
      if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0) {
        for (const std::string& piece : test.pieces) {
          ::send(fd, piece.data(), piece.size(), MSG_NOSIGNAL);
          std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        timeval wait{5, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof(wait));
        char byte = 0;
        if (::recv(fd, &byte, 1, 0) == 1) answer = byte;
      }
      ::close(fd);
      return answer;
    });
    EXPECT_EQ(reply, test.reply);
    EXPECT_EQ(received, test.received);
  }
}

// Data beyond the limit is refused by the client itself, without reaching the server; the
// platform's entry point finds servers in the runtime folder its environment names.
TEST_F(DdeTest, PlatformExecutesInTheRuntimeFolderAndRefusesOversizedData) {
  ::setenv("TOMEVA_RUNTIME_DIR", run_.c_str(), 1);
  std::vector<std::string> received;
  auto server = Serve(kService, kTopic, &received);
  LinuxPlatform platform;
  EXPECT_EQ(OnWorker([&] { return platform.DdeExecute(kService, kTopic, "x", 5000); }),
            DdeResult::kDone);
  EXPECT_EQ(OnWorker([&] {
              return platform.DdeExecute(kService, kTopic, std::string(kDdeMaxData + 1, 'y'), 5000);
            }),
            DdeResult::kRefused);
  EXPECT_EQ(received, std::vector<std::string>{"x"});
}

// A raw connection to `path`, as another program's client would open it; -1 when refused.
int ConnectRaw(const std::string& path) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
  if (fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0) {
    return fd;
  }
  if (fd >= 0) ::close(fd);
  return -1;
}

constexpr int kClosed = -2;
constexpr int kNoAnswer = -1;

// What the server sends next on `fd` within `timeout_ms`: its reply byte, kClosed when it closed
// the connection, kNoAnswer when nothing came.
int NextFromServer(int fd, int timeout_ms) {
  timeval wait{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof(wait));
  char byte = 0;
  const ssize_t got = ::recv(fd, &byte, 1, 0);
  if (got == 1) return static_cast<unsigned char>(byte);
  if (got == 0 || errno == ECONNRESET) return kClosed;
  return kNoAnswer;
}

// A client that sends half a frame and stalls is dropped once the frame time-out has passed; the
// server goes on serving others, before and after.
TEST_F(DdeTest, HalfAFrameIsDroppedAfterTheTimeOutAndTheServerServesOn) {
  std::vector<std::string> received;
  auto server = Serve(kService, kTopic, &received);
  server->set_frame_timeout_ms(300);
  const std::string path = server->socket_path();
  long long elapsed = 0;
  int stalled = -1;
  const int outcome = OnWorker([&] {
    stalled = ConnectRaw(path);
    if (stalled < 0) return -100;
    const Clock::time_point start = Clock::now();
    ::send(stalled, "\x05\0\0\0ab", 6, MSG_NOSIGNAL);
    // Meanwhile another client is served as usual.
    if (DdeExecuteOnce(DdeClient(run_), kService, kTopic, "meanwhile", 2000) != DdeResult::kDone) {
      return -101;
    }
    const int next = NextFromServer(stalled, 3000);
    elapsed = MsSince(start);
    return next;
  });
  EXPECT_EQ(outcome, kClosed) << "the stalled conversation was not closed";
  EXPECT_GE(elapsed, 250);
  EXPECT_LT(elapsed, 2500);
  if (stalled >= 0) ::close(stalled);
  EXPECT_EQ(server->connection_count(), 0);
  EXPECT_EQ(ExecuteOnWorker(kService, kTopic, "after"), DdeResult::kDone);
  EXPECT_EQ(received, (std::vector<std::string>{"meanwhile", "after"}));
}

// Sends one whole frame carrying `data` on the raw connection `fd`.
bool SendFrame(int fd, const std::string& data) {
  const std::string frame = DdeFramePrefix(data.size()) + data;
  return ::send(fd, frame.data(), frame.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(frame.size());
}

void ServeUntil(const std::function<bool()>& done, int timeout_ms) {
  const Clock::time_point start = Clock::now();
  while (!done() && MsSince(start) < timeout_ms) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
}

// Another program of the same user holding every conversation open cannot keep the program's own
// sender out: an idle conversation makes room for it at once, and is closed by itself within two
// seconds anyway. Only when every conversation holds a first frame waiting is the newcomer turned
// away, and it is told so.
TEST_F(DdeTest, IdleConversationsMakeRoomForTheRealSender) {
  std::vector<std::string> received;
  auto server = Serve(kService, kTopic, &received);
  std::vector<int> hogs;
  for (int i = 0; i < kDdeMaxConnections; ++i) {
    const int fd = ConnectRaw(server->socket_path());
    ASSERT_GE(fd, 0);
    hogs.push_back(fd);
  }
  ServeUntil([&] { return server->connection_count() == kDdeMaxConnections; }, 3000);
  ASSERT_EQ(server->connection_count(), kDdeMaxConnections);

  const Clock::time_point sent = Clock::now();
  EXPECT_EQ(ExecuteOnWorker(kService, kTopic, "the highlight", 3000), DdeResult::kDone);
  EXPECT_LT(MsSince(sent), 1000);
  EXPECT_EQ(received, std::vector<std::string>{"the highlight"});
  // The longest-idle conversation, the first, made the room.
  EXPECT_EQ(NextFromServer(hogs[0], 1000), kClosed);

  // The rest are closed by the frame time-out: within two seconds of their opening.
  ServeUntil([&] { return server->connection_count() == 0; }, 2600);
  EXPECT_EQ(server->connection_count(), 0);
  EXPECT_LE(MsSince(sent), 2600);
  for (int fd : hogs) ::close(fd);
}

TEST_F(DdeTest, ConversationsWithFramesWaitingTurnANewcomerAwayAndSayWhy) {
  std::vector<std::string> events;
  std::atomic<bool> hold{true};
  std::atomic<bool> holding{false};
  DdeServer server(
      kService, kTopic,
      [&](const std::string& data) {
        events.push_back(data);
        if (data == "hold") {
          holding = true;
          ServeUntil([&] { return !hold; }, 5000);
        }
        return true;
      },
      run_);
  ASSERT_TRUE(server.Register(nullptr));
  const std::string path = server.socket_path();
  // One frame in the handler, one waiting behind it on each other conversation, then a newcomer.
  const std::vector<int> answers = OnWorker([&] {
    std::vector<int> fds;
    for (int i = 0; i < kDdeMaxConnections; ++i) {
      const int fd = ConnectRaw(path);
      if (fd < 0 || !SendFrame(fd, i == 0 ? "hold" : "wait")) return std::vector<int>{-100};
      fds.push_back(fd);
      while (!holding) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::vector<int> got{
        static_cast<int>(DdeExecuteOnce(DdeClient(run_), kService, kTopic, "late", 3000))};
    hold = false;
    for (int fd : fds) {
      got.push_back(NextFromServer(fd, 2000));
      ::close(fd);
    }
    return got;
  });
  std::vector<int> want{static_cast<int>(DdeResult::kBusy)};
  want.insert(want.end(), kDdeMaxConnections, 0x01);
  EXPECT_EQ(answers, want);
  EXPECT_EQ(events.size(), static_cast<size_t>(kDdeMaxConnections));
  EXPECT_EQ(std::count(events.begin(), events.end(), "late"), 0);
}

// A conversation sending frame after frame does not go before a newcomer: the waiting frame of the
// conversation served least goes first, and a newcomer may take the room of a busy conversation.
TEST_F(DdeTest, AConversationServedBeforeWaitsBehindANewcomer) {
  std::vector<std::string> events;
  std::atomic<bool> hold{true};
  std::atomic<bool> holding{false};
  DdeServer server(
      kService, kTopic,
      [&](const std::string& data) {
        events.push_back(data);
        if (data == "hold") {
          holding = true;
          ServeUntil([&] { return !hold; }, 5000);
        }
        return true;
      },
      run_);
  ASSERT_TRUE(server.Register(nullptr));
  const int busy = ConnectRaw(server.socket_path());
  ASSERT_GE(busy, 0);
  ASSERT_TRUE(SendFrame(busy, "busy 1"));
  ServeUntil([&] { return events.size() == 1; }, 3000);
  ASSERT_EQ(NextFromServer(busy, 1000), 0x01);

  const std::vector<DdeResult> results = OnWorker([&] {
    DdeResult newcomer = DdeResult::kNoServer;
    std::thread holder([&] {
      DdeExecuteOnce(DdeClient(run_), kService, kTopic, "hold", 5000);
    });
    while (!holding) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    SendFrame(busy, "busy 2");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::thread late([&] {
      newcomer = DdeExecuteOnce(DdeClient(run_), kService, kTopic, "newcomer", 5000);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    hold = false;
    late.join();
    holder.join();
    return std::vector<DdeResult>{newcomer};
  });
  EXPECT_EQ(results, std::vector<DdeResult>{DdeResult::kDone});
  ServeUntil([&] { return events.size() == 4; }, 3000);
  EXPECT_EQ(events, (std::vector<std::string>{"busy 1", "hold", "newcomer", "busy 2"}));
  ::close(busy);
}

// The largest transaction the program sends, a highlight of as many marks as the plug-in takes,
// fits the frame limit with room to spare.
TEST(DdeFrameLimitTest, TheLargestHighlightFitsAFrame) {
  const std::string word(100, 'k');
  std::string text;
  for (int i = 0; i < 2 * kMaxReportedMatches; ++i) text += word + " ";
  const PdfHighlightData data = ComputeHighlightData(text, {word});
  ASSERT_EQ(data.matches, kMaxReportedMatches);
  const std::string sent = data.ExecuteData();
  EXPECT_GT(sent.size(), 190'000u);
  EXPECT_LE(sent.size() * 4, kDdeMaxData);
}

// A frame that arrives while another is being handled, even while the handler runs an event loop
// of its own, waits until that handler has returned: handlers never run inside one another.
TEST_F(DdeTest, AFrameArrivingWhileAnotherIsHandledWaitsItsTurn) {
  std::vector<std::string> events;
  std::atomic<bool> first_entered{false};
  DdeServer server(
      kService, kTopic,
      [&](const std::string& data) {
        events.push_back("enter " + data);
        if (data == "first") {
          first_entered = true;
          // As the viewer host does while the page takes the data.
          QEventLoop loop;
          QTimer::singleShot(400, &loop, &QEventLoop::quit);
          loop.exec();
        }
        events.push_back("leave " + data);
        return true;
      },
      run_);
  ASSERT_TRUE(server.Register(nullptr));
  const std::vector<DdeResult> results = OnWorker([&] {
    DdeResult second = DdeResult::kNoServer;
    std::thread other([&] {
      while (!first_entered) std::this_thread::sleep_for(std::chrono::milliseconds(5));
      second = DdeExecuteOnce(DdeClient(run_), kService, kTopic, "second", 5000);
    });
    const DdeResult first = DdeExecuteOnce(DdeClient(run_), kService, kTopic, "first", 5000);
    other.join();
    return std::vector<DdeResult>{first, second};
  });
  EXPECT_EQ(results, (std::vector<DdeResult>{DdeResult::kDone, DdeResult::kDone}));
  EXPECT_EQ(events, (std::vector<std::string>{"enter first", "leave first", "enter second",
                                              "leave second"}));
}

// The frame reader takes exactly what one frame needs, from pieces of any size, and judges a
// length prefix before any of the data it claims.
TEST(DdeFrameReaderTest, ReadsOneFrameAtATimeAndJudgesThePrefixFirst) {
  const std::string two_frames = std::string("\x03\0\0\0abc\0\0\0\0", 11);
  const struct {
    const char* name;
    std::string stream;
    std::size_t piece;                // bytes fed at a time
    std::vector<std::string> frames;  // taken in order
    DdeFrameReader::State end;        // the state after the last byte offered
    std::size_t left;                 // bytes of the stream never taken
  } cases[] = {
      {"two frames at once", two_frames, 64, {"abc", ""}, DdeFrameReader::State::kEmpty, 0},
      {"byte by byte", two_frames, 1, {"abc", ""}, DdeFrameReader::State::kEmpty, 0},
      {"half a frame", std::string("\x05\0\0\0ab", 6), 4, {}, DdeFrameReader::State::kPartial, 0},
      {"half a prefix", std::string("\x05\0", 2), 1, {}, DdeFrameReader::State::kPartial, 0},
      {"4 GiB claimed", std::string("\xff\xff\xff\xffxyz", 7), 64, {},
       DdeFrameReader::State::kTooLong, 3},
      {"one byte over the limit", std::string("\x01\0\0\x01z", 5), 1, {},
       DdeFrameReader::State::kTooLong, 1},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    DdeFrameReader reader;
    std::vector<std::string> frames;
    std::size_t at = 0;
    while (at < test.stream.size()) {
      const std::size_t taken = reader.Feed(std::string_view(test.stream).substr(at, test.piece));
      if (reader.state() == DdeFrameReader::State::kComplete) frames.push_back(reader.TakeData());
      if (taken == 0 && reader.state() != DdeFrameReader::State::kEmpty &&
          reader.state() != DdeFrameReader::State::kPartial) {
        break;
      }
      at += taken;
    }
    EXPECT_EQ(frames, test.frames);
    EXPECT_EQ(reader.state(), test.end);
    EXPECT_EQ(test.stream.size() - at, test.left);
  }
  // A frame claiming the most it may asks for its data a bounded piece at a time.
  DdeFrameReader largest;
  EXPECT_EQ(largest.Feed(DdeFramePrefix(kDdeMaxData)), kDdeLengthSize);
  EXPECT_EQ(largest.state(), DdeFrameReader::State::kPartial);
  EXPECT_EQ(largest.claimed(), kDdeMaxData);
  EXPECT_EQ(largest.Wanted(4096), 4096u);
}

}  // namespace
}  // namespace tomeva::platform
