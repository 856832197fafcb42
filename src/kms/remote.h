// An index kept on an index server. A station of a reading room has no database of its own: its
// index folder holds only the stub file (kStubName), which names the server in Xapian's stub
// syntax, one line per part:
//
//   remote HOST:PORT        (HOST may be a name, an address, or [an IPv6 address])
//   tcp HOST PORT           (the older form; Xapian's own tools no longer read it)
//
// Blank lines and lines starting with "#" are skipped. Several lines (at most kMaxServers) name
// the parts of one index kept on several servers, searched as one database; their field tables
// must be the same, or the searches would read one part's prefixes on another. A host is a name
// or an address: letters, digits and ". - _ : %"; Xapian's forms that start a program
// ("remote :PROGRAM ARGS", "prog ...") are not server lines, and the engine connects to the
// servers itself, so Xapian never reads such a stub.
//
// What a server sends is not trusted further than the engine can check it: the hit count is kept
// within an int, a document's data over kMaxRemoteDocumentBytes is refused, as are a field table
// over kMaxFieldTableBytes and a list of batches over kMaxBatchListBytes, and a page never asks
// for more hits than a ranking window. Xapian's own reading of the server's messages allocates
// what a message says it holds before the engine sees it; that is why servers are reached only
// through an authenticated tunnel (docs/reading-room.md).
//
// The server is Xapian's xapian-tcpsrv serving the index folder where the index is written. It
// opens the folder's stub for every connection, so a new connection always sees the current
// generation; stations keep a few connections per server, ask each for the last commit (one
// reopen round trip) before every search, and drop a connection at its first failure, so that
// the next search connects again by itself. Every connection is opened with time-outs: a server
// that is down, gone or silent gives an error within them, never a hang.
//
// A station never writes: an index writer asked for on such a folder is refused
// (RemoteWriteRefused), so imports and optimising run on the machine that holds the index.
#ifndef TOMEVA_KMS_REMOTE_H_
#define TOMEVA_KMS_REMOTE_H_

#include <xapian.h>

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "kms/batch.h"
#include "kms/field_registry.h"

namespace tomeva::kms {

inline constexpr size_t kMaxServers = 16;
// The stored fields of one record are its text and a few columns: a few megabytes at most.
inline constexpr size_t kMaxRemoteDocumentBytes = 8 * 1024 * 1024;

// One server of a remote index.
struct RemoteEndpoint {
  std::string host;
  unsigned port = 0;
  bool operator==(const RemoteEndpoint&) const = default;
};

// The servers an index folder's stub names, in order; nullopt when the folder has no stub or its
// stub names no server (a local index). A stub that mixes server lines with local ones, or has a
// server line that does not parse, is not a remote index either (it is a damaged local one).
std::optional<std::vector<RemoteEndpoint>> ReadRemoteStub(const std::string& index_path);

// The servers of a stub's text, by the same rules.
std::optional<std::vector<RemoteEndpoint>> ParseRemoteStub(const std::string& text);

// "HOST:PORT" ("[v6]:PORT"), several joined by ", ": how people name the server.
std::string ServerName(const std::vector<RemoteEndpoint>& servers);

// The time-outs every connection is opened with, in milliseconds: each operation (a search, a
// document, the reopen before a search) and the connect. 5000 and 3000, or both the value of the
// environment variable TOMEVA_KMS_REMOTE_TIMEOUT_MS (the connect at most 3000) for tests and for
// slow networks.
struct RemoteTimeouts {
  int operation_ms = 5000;
  int connect_ms = 3000;
};
RemoteTimeouts CurrentRemoteTimeouts();

// Thrown for a hit whose document data is over kMaxRemoteDocumentBytes.
class OversizedDocument : public std::runtime_error {
 public:
  explicit OversizedDocument(size_t bytes)
      : std::runtime_error("document data too large"), bytes_(bytes) {}
  size_t bytes() const { return bytes_; }

 private:
  size_t bytes_;
};

// Thrown where an index writer is asked for on a remote index.
class RemoteWriteRefused : public std::runtime_error {
 public:
  explicit RemoteWriteRefused(std::string server)
      : std::runtime_error("index kept on the index server " + server),
        server_(std::move(server)) {}
  const std::string& server() const { return server_; }

 private:
  std::string server_;
};

// Throws RemoteWriteRefused when `index_path` names a remote index; returns otherwise.
void RefuseRemoteWriter(const std::string& index_path);

// A connection to the servers of one remote index, brought up to their last commit, with the field
// table of that commit. Thread-compatible: one user at a time.
struct RemoteConnection {
  std::vector<RemoteEndpoint> servers;
  std::unique_ptr<Xapian::Database> db;
  std::shared_ptr<const FieldRegistry> fields;
};

// A connection to `servers`: a kept one that answered its reopen, or a new one, with the field
// table of the revision it is at. Throws Xapian::NetworkError (a server down, gone or silent past
// the time-out), or the error the server sends; Xapian::DatabaseError when the parts' field
// tables differ.
RemoteConnection TakeRemoteConnection(const std::vector<RemoteEndpoint>& servers);

// Gives a connection back to be kept for the next search. Call only for a connection whose last
// use succeeded: one that failed may be out of step with its server.
void KeepRemoteConnection(RemoteConnection connection);

}  // namespace tomeva::kms

#endif  // TOMEVA_KMS_REMOTE_H_
