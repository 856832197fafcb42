// The single-instance guard: a lock file in the runtime folder held for the life of the process,
// and a local server beside it through which a second start asks the first to raise its window.
#ifndef TOMEVA_PLATFORM_SINGLE_INSTANCE_H_
#define TOMEVA_PLATFORM_SINGLE_INSTANCE_H_

#include <QLockFile>
#include <QObject>
#include <QString>
#include <memory>

class QLocalServer;

namespace tomeva::platform {

class SingleInstanceGuard : public QObject {
  Q_OBJECT
 public:
  // `name` is the guard's name (the title's first line and " Class"); `dir` the runtime folder.
  SingleInstanceGuard(const QString& name, const QString& dir, QObject* parent = nullptr);
  ~SingleInstanceGuard() override;

  // Takes the guard. When another instance holds it, asks that one to raise its window and
  // returns false.
  bool Acquire();
  bool held() const { return held_; }

 signals:
  // Another start asked this instance to show itself.
  void raiseRequested();

 private:
  QString lock_path_;
  QString socket_path_;
  std::unique_ptr<QLockFile> lock_;
  QLocalServer* server_ = nullptr;
  bool held_ = false;
};

}  // namespace tomeva::platform

#endif  // TOMEVA_PLATFORM_SINGLE_INSTANCE_H_
