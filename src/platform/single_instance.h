// The single-instance guard: a lock file in the runtime folder held for the life of the process,
// and a local server beside it through which a second start asks the first to raise its window.
#ifndef TOMEVA_PLATFORM_SINGLE_INSTANCE_H_
#define TOMEVA_PLATFORM_SINGLE_INSTANCE_H_

#include <QLockFile>
#include <QObject>
#include <QString>
#include <memory>
#include <string>

#include "core/platform/platform.h"

class QLocalServer;

namespace tomeva::platform {

class SingleInstanceGuard : public QObject {
  Q_OBJECT
 public:
  // `name` is the guard's name (the title's first line and " Class"); `dir` the runtime folder,
  // created by Acquire when missing (environment.h's PrepareRuntimeFolder).
  SingleInstanceGuard(const QString& name, const QString& dir, QObject* parent = nullptr);
  ~SingleInstanceGuard() override;

  // Takes the guard, once. The answers are those of Platform::AcquireSingleInstance: kAcquired;
  // kHeldElsewhere when a live instance holds the lock (it is asked to raise its window); kFailed
  // with `*failure` (GBK, naming the runtime folder) when the folder cannot be created, is not
  // private to this user (then nothing in it is touched, and a log line says so), no lock
  // file can be made there, a dead instance's lock file cannot be removed, or the lock was taken
  // but the local server cannot listen (the lock is then kept: later starts are still refused,
  // they only cannot raise this one). A lock file whose holder is gone is taken over.
  InstanceGuardResult Acquire(std::string* failure);
  // The lock is this process's.
  bool held() const { return held_; }
  // Later starts can reach this instance.
  bool listening() const { return server_ != nullptr; }

 signals:
  // Another start asked this instance to show itself.
  void raiseRequested();

 private:
  QString dir_;
  QString lock_path_;
  QString socket_path_;
  std::unique_ptr<QLockFile> lock_;
  QLocalServer* server_ = nullptr;
  bool held_ = false;
};

}  // namespace tomeva::platform

#endif  // TOMEVA_PLATFORM_SINGLE_INSTANCE_H_
