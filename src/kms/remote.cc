#include "kms/remote.h"

#include <algorithm>
#include <cstdlib>
#include <map>
#include <mutex>
#include <utility>

#include "base/file_util.h"
#include "base/mbstring.h"
#include "kms/index_store.h"

namespace tomeva::kms {
namespace {

// Connections kept per index server between searches. More searches at once than this open
// connections of their own, closed when they end.
constexpr size_t kMaxKeptPerServer = 16;

struct KeptConnections {
  std::mutex mutex;
  std::map<std::string, std::vector<RemoteConnection>> by_server;
};

KeptConnections& Kept() {
  static auto* kept = new KeptConnections();  // never destroyed: searches may outlive exit
  return *kept;
}

// A port number of 1 to 65535, all digits.
std::optional<unsigned> ParsePort(std::string_view text) {
  if (text.empty() || text.size() > 5) return std::nullopt;
  unsigned port = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    port = port * 10 + static_cast<unsigned>(c - '0');
  }
  if (port == 0 || port > 65535) return std::nullopt;
  return port;
}

// A host name or address: nothing a resolver would not take, and never empty.
bool ValidHost(std::string_view host) {
  if (host.empty() || host.size() > 255) return false;
  for (char c : host) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '.' || c == '-' || c == '_' || c == ':' || c == '%';
    if (!ok) return false;
  }
  return true;
}

// "HOST:PORT", "[V6]:PORT" (Xapian's "remote" line).
std::optional<RemoteEndpoint> ParseHostColonPort(std::string_view text) {
  const size_t colon = text.rfind(':');
  if (colon == std::string_view::npos) return std::nullopt;
  std::optional<unsigned> port = ParsePort(text.substr(colon + 1));
  std::string_view host = text.substr(0, colon);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  }
  if (!port || !ValidHost(host)) return std::nullopt;
  return RemoteEndpoint{std::string(host), *port};
}

// "HOST PORT" (the older "tcp" line).
std::optional<RemoteEndpoint> ParseHostSpacePort(std::string_view text) {
  const size_t space = text.find_first_of(" \t");
  if (space == std::string_view::npos) return std::nullopt;
  std::optional<unsigned> port = ParsePort(Trim(text.substr(space + 1)));
  const std::string_view host = text.substr(0, space);
  if (!port || !ValidHost(host)) return std::nullopt;
  return RemoteEndpoint{std::string(host), *port};
}

void DropKept(const std::string& key) {
  std::vector<RemoteConnection> dropped;
  {
    std::lock_guard<std::mutex> lock(Kept().mutex);
    auto it = Kept().by_server.find(key);
    if (it != Kept().by_server.end()) dropped.swap(it->second);
  }
  // Closed outside the lock: closing talks to the server.
}

// A new connection to every part, joined into one database. Several parts must agree on the
// field table: a query is built from one of them and run on all.
RemoteConnection Connect(const std::vector<RemoteEndpoint>& servers) {
  const RemoteTimeouts timeouts = CurrentRemoteTimeouts();
  RemoteConnection connection;
  connection.servers = servers;
  connection.db = std::make_unique<Xapian::Database>();
  std::string first_table;
  std::vector<std::string> hidden;
  for (size_t i = 0; i < servers.size(); ++i) {
    Xapian::Database part = Xapian::Remote::open(servers[i].host, servers[i].port,
                                                 timeouts.operation_ms, timeouts.connect_ms);
    if (servers.size() > 1) {
      // Each part lists the batches waiting in it; a search over all parts excludes them all.
      for (std::string& term : PendingBatches::Load(part).Terms())
        hidden.push_back(std::move(term));
      std::string table = part.get_metadata(kFieldsKey) + "\n" + part.get_metadata(kTermSchemeKey);
      if (i == 0) {
        first_table = std::move(table);
      } else if (table != first_table) {
        throw Xapian::DatabaseError("the parts on " + ServerName({servers[0]}) + " and " +
                                    ServerName({servers[i]}) + " have different field tables");
      }
    }
    connection.db->add_database(part);
  }
  FieldRegistry fields = LoadFieldRegistry(*connection.db);
  if (servers.size() > 1) fields.set_hidden_terms(std::move(hidden));
  connection.fields = std::make_shared<const FieldRegistry>(std::move(fields));
  return connection;
}

}  // namespace

std::optional<std::vector<RemoteEndpoint>> ParseRemoteStub(const std::string& text) {
  std::vector<RemoteEndpoint> servers;
  for (const std::string& raw : Split(text, "\n")) {
    const std::string line = Trim(raw);
    if (line.empty() || line[0] == '#') continue;
    const size_t space = line.find_first_of(" \t");
    if (space == std::string::npos) return std::nullopt;
    const std::string type = line.substr(0, space);
    const std::string rest = Trim(std::string_view(line).substr(space + 1));
    std::optional<RemoteEndpoint> server;
    if (type == "remote") {
      server = ParseHostColonPort(rest);
    } else if (type == "tcp") {
      server = ParseHostSpacePort(rest);
    }
    if (!server || servers.size() >= kMaxServers) return std::nullopt;
    servers.push_back(std::move(*server));
  }
  if (servers.empty()) return std::nullopt;
  return servers;
}

std::optional<std::vector<RemoteEndpoint>> ReadRemoteStub(const std::string& index_path) {
  std::string text;
  if (!ReadWholeFile(JoinPath(index_path, kStubName), &text, kSmallFileLimit)) return std::nullopt;
  return ParseRemoteStub(text);
}

std::string ServerName(const std::vector<RemoteEndpoint>& servers) {
  std::string name;
  for (const RemoteEndpoint& server : servers) {
    if (!name.empty()) name += ", ";
    const bool v6 = server.host.find(':') != std::string::npos;
    name += (v6 ? "[" + server.host + "]" : server.host) + ":" + std::to_string(server.port);
  }
  return name;
}

RemoteTimeouts CurrentRemoteTimeouts() {
  RemoteTimeouts timeouts;
  if (const char* env = std::getenv("TOMEVA_KMS_REMOTE_TIMEOUT_MS"); env != nullptr) {
    const int ms = std::atoi(env);
    if (ms > 0) {
      timeouts.operation_ms = ms;
      timeouts.connect_ms = std::min(ms, timeouts.connect_ms);
    }
  }
  return timeouts;
}

void RefuseRemoteWriter(const std::string& index_path) {
  if (std::optional<std::vector<RemoteEndpoint>> servers = ReadRemoteStub(index_path)) {
    throw RemoteWriteRefused(ServerName(*servers));
  }
}

RemoteConnection TakeRemoteConnection(const std::vector<RemoteEndpoint>& servers) {
  const std::string key = ServerName(servers);
  for (;;) {
    RemoteConnection kept;
    {
      std::lock_guard<std::mutex> lock(Kept().mutex);
      std::vector<RemoteConnection>& list = Kept().by_server[key];
      if (list.empty()) break;
      kept = std::move(list.back());
      list.pop_back();
    }
    try {
      // One round trip: the server's process moves to the last commit of its generation.
      if (kept.db->reopen()) {
        // A new connection checks again that the parts agree.
        if (servers.size() > 1) continue;
        kept.fields = std::make_shared<const FieldRegistry>(LoadFieldRegistry(*kept.db));
      }
      return kept;
    } catch (const Xapian::Error&) {
      // The server was restarted, closed the idle connection, or its generation was replaced by
      // an optimise: the other kept connections went the same way. A new connection opens the
      // current generation.
      DropKept(key);
      break;
    }
  }
  return Connect(servers);
}

void KeepRemoteConnection(RemoteConnection connection) {
  if (!connection.db) return;
  const std::string key = ServerName(connection.servers);
  std::lock_guard<std::mutex> lock(Kept().mutex);
  std::vector<RemoteConnection>& list = Kept().by_server[key];
  if (list.size() < kMaxKeptPerServer) list.push_back(std::move(connection));
}

std::unique_ptr<PooledReader> PooledReader::AcquireRemote(
    const std::string& index_path, const std::vector<RemoteEndpoint>& servers) {
  RemoteConnection connection = TakeRemoteConnection(servers);
  auto reader = std::unique_ptr<PooledReader>(
      new PooledReader(index_path, "remote " + ServerName(servers), std::move(connection.db)));
  reader->fields_ = std::move(connection.fields);
  connection.fields.reset();
  reader->remote_ = std::make_shared<RemoteConnection>(std::move(connection));
  return reader;
}

void PooledReader::ReleaseRemote() {
  // A reader that was discarded after a failure has no database left to keep.
  if (!db_) return;
  remote_->db = std::move(db_);
  remote_->fields = fields_;
  KeepRemoteConnection(std::move(*remote_));
}

}  // namespace tomeva::kms
