#include "platform/single_instance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>

namespace tomeva::platform {
namespace {

constexpr char kRaiseRequest[] = "raise\n";
constexpr int kConnectTimeoutMs = 2000;

}  // namespace

SingleInstanceGuard::SingleInstanceGuard(const QString& name, const QString& dir, QObject* parent)
    : QObject(parent) {
  // The name holds non-ASCII text and spaces; file names are made from its hash.
  QString key = QString::fromLatin1(
      QCryptographicHash::hash(name.toUtf8(), QCryptographicHash::Sha1).toHex().left(16));
  QDir().mkpath(dir);
  lock_path_ = QDir(dir).filePath(QStringLiteral("tomeva-%1.lock").arg(key));
  socket_path_ = QDir(dir).filePath(QStringLiteral("tomeva-%1.sock").arg(key));
}

SingleInstanceGuard::~SingleInstanceGuard() {
  if (server_ != nullptr) server_->close();
  if (lock_ != nullptr && held_) lock_->unlock();
}

bool SingleInstanceGuard::Acquire() {
  lock_ = std::make_unique<QLockFile>(lock_path_);
  // A lock file left by a crashed instance is taken over (QLockFile checks the holder's pid).
  lock_->setStaleLockTime(0);
  if (!lock_->tryLock(0)) {
    QLocalSocket socket;
    socket.connectToServer(socket_path_);
    if (socket.waitForConnected(kConnectTimeoutMs)) {
      socket.write(kRaiseRequest);
      socket.waitForBytesWritten(kConnectTimeoutMs);
      socket.disconnectFromServer();
    }
    return false;
  }
  held_ = true;
  // Holding the lock, any socket file left behind is ours to replace.
  QLocalServer::removeServer(socket_path_);
  server_ = new QLocalServer(this);
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  server_->listen(socket_path_);
  connect(server_, &QLocalServer::newConnection, this, [this] {
    while (QLocalSocket* client = server_->nextPendingConnection()) {
      connect(client, &QLocalSocket::readyRead, this, [this, client] {
        if (client->readAll().startsWith("raise")) emit raiseRequested();
      });
      connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
    }
  });
  return true;
}

}  // namespace tomeva::platform
