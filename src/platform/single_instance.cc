#include "platform/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <cerrno>
#include <ctime>

#include "base/gbk.h"
#include "base/texts.h"
#include "platform/environment.h"

namespace tomeva::platform {
namespace {

constexpr char kRaiseRequest[] = "raise\n";
constexpr int kConnectTimeoutMs = 2000;
// A start that has just created its lock file takes the file's lock a moment later; a file
// younger than this is never judged left over, so that such a start is not robbed of it.
constexpr time_t kLeftOverAgeSeconds = 2;

std::string Gbk(const QString& text) { return Utf8ToGbk(text.toStdString()); }

enum class LeftOver {
  kNo,            // a live holder has it, or it cannot be told
  kRemoved,       // it was left over and is gone now: the lock can be tried again
  kCannotRemove,  // it is left over (or not a lock file at all) and stays in the way
};

// Every holder keeps an exclusive flock on its lock file for as long as it holds it, and the
// kernel drops that lock when the holder dies, however it died. So a lock file nobody has locked
// was left by an instance that is gone, even where the pid written in it cannot tell (a file
// left empty by an instance killed while writing it, a pid reused after a restart, another
// host's name). Removal happens under the file's own lock and only while the name still refers to
// the file judged, so that two starts taking over at once cannot remove each other's new lock.
LeftOver RemoveIfLeftOver(const QString& path) {
  const QByteArray local = QFile::encodeName(path);
  const int fd = ::open(local.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return errno == ENOENT ? LeftOver::kRemoved : LeftOver::kNo;
  LeftOver answer = LeftOver::kNo;
  struct stat found;
  if (::fstat(fd, &found) == 0 && !S_ISREG(found.st_mode)) {
    answer = LeftOver::kCannotRemove;
  } else if (::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
             ::time(nullptr) - found.st_mtime >= kLeftOverAgeSeconds) {
    struct stat now;
    if (::stat(local.constData(), &now) != 0 || now.st_ino != found.st_ino ||
        now.st_dev != found.st_dev) {
      answer = LeftOver::kRemoved;  // replaced meanwhile: the next try judges the new one
    } else {
      answer = ::unlink(local.constData()) == 0 || errno == ENOENT ? LeftOver::kRemoved
                                                                   : LeftOver::kCannotRemove;
    }
  }
  ::close(fd);  // also releases the flock taken above
  return answer;
}

}  // namespace

SingleInstanceGuard::SingleInstanceGuard(const QString& name, const QString& dir, QObject* parent)
    : QObject(parent), dir_(dir) {
  // The name holds non-ASCII text and spaces; file names are made from its hash.
  QString key = QString::fromLatin1(
      QCryptographicHash::hash(name.toUtf8(), QCryptographicHash::Sha1).toHex().left(16));
  lock_path_ = QDir(dir).filePath(QStringLiteral("tomeva-%1.lock").arg(key));
  socket_path_ = QDir(dir).filePath(QStringLiteral("tomeva-%1.sock").arg(key));
}

SingleInstanceGuard::~SingleInstanceGuard() {
  if (server_ != nullptr) server_->close();
  if (lock_ != nullptr && held_) lock_->unlock();
}

InstanceGuardResult SingleInstanceGuard::Acquire(std::string* failure) {
  auto fail = [&](int text, const QString& why) {
    if (failure != nullptr) {
      *failure = TextWith(text, Gbk(dir_));
      if (!why.isEmpty()) *failure += Gbk(QStringLiteral("（%1）").arg(why));
    }
    return InstanceGuardResult::kFailed;
  };

  std::string why;
  switch (PrepareRuntimeFolder(QFile::encodeName(dir_).toStdString(), &why)) {
    case RuntimeFolder::kPrivate:
      break;
    case RuntimeFolder::kCannotMake:
      return fail(kTextGuardNoFolder, QString::fromStdString(why));
    case RuntimeFolder::kNotPrivate:
      // Another user's lock file here could keep every start out, and their socket could pose
      // as this instance: nothing in the folder is used.
      qWarning("runtime folder %s is not private to this user (%s): running without the "
               "single-instance guard and without conversations",
               qUtf8Printable(dir_), why.c_str());
      return fail(kTextGuardUnsafeFolder, QString::fromStdString(why));
  }

  lock_ = std::make_unique<QLockFile>(lock_path_);
  // A lock file whose holder's pid is no longer running is taken over by QLockFile itself; the
  // ones it cannot judge are looked at below.
  lock_->setStaleLockTime(0);
  bool locked = lock_->tryLock(0);
  if (!locked && lock_->error() == QLockFile::LockFailedError) {
    switch (RemoveIfLeftOver(lock_path_)) {
      case LeftOver::kRemoved:
        locked = lock_->tryLock(0);
        break;
      case LeftOver::kCannotRemove:
        return fail(kTextGuardStaleLock, QString());
      case LeftOver::kNo:
        break;
    }
  }
  if (!locked) {
    if (lock_->error() != QLockFile::LockFailedError) {
      return fail(kTextGuardNoLock, lock_->error() == QLockFile::PermissionError
                                        ? QStringLiteral("Permission denied")
                                        : QString());
    }
    QLocalSocket socket;
    socket.connectToServer(socket_path_);
    if (socket.waitForConnected(kConnectTimeoutMs)) {
      socket.write(kRaiseRequest);
      socket.waitForBytesWritten(kConnectTimeoutMs);
      socket.disconnectFromServer();
    }
    return InstanceGuardResult::kHeldElsewhere;
  }
  held_ = true;
  // Holding the lock, any socket file left behind is ours to replace.
  QLocalServer::removeServer(socket_path_);
  server_ = new QLocalServer(this);
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  if (!server_->listen(socket_path_)) {
    const QString why = server_->errorString();
    delete server_;
    server_ = nullptr;
    return fail(kTextGuardNoServer, why);
  }
  connect(server_, &QLocalServer::newConnection, this, [this] {
    while (QLocalSocket* client = server_->nextPendingConnection()) {
      connect(client, &QLocalSocket::readyRead, this, [this, client] {
        if (client->readAll().startsWith("raise")) emit raiseRequested();
      });
      connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
    }
  });
  return InstanceGuardResult::kAcquired;
}

}  // namespace tomeva::platform
