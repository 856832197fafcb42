#include "gui/app/library_location.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <cstdio>
#include <cstdlib>

#include "core/settings/settings.h"
#include "platform/ini_registry.h"

namespace tomeva::gui {
namespace {

constexpr char kSystemLibraryFile[] = "/etc/tomeva/library";

QString Title() { return QStringLiteral("Tomeva"); }

QString Env(const char* name) { return QString::fromLocal8Bit(qgetenv(name)); }

// The library a reading room's machine names for every user: the first non-empty line of the file.
QString SystemLibraryFolder() {
  QString path = Env("TOMEVA_SYSTEM_LIBRARY_FILE");
  if (path.isEmpty()) path = QString::fromLatin1(kSystemLibraryFile);
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return QString();
  while (!file.atEnd()) {
    const QString line = QString::fromLocal8Bit(file.readLine(4096)).trimmed();
    if (!line.isEmpty() && !line.startsWith(QLatin1Char('#'))) return line;
  }
  return QString();
}

// Messages of the no-library start. With TOMEVA_NO_LIBRARY_CHOICE set (window tests and the
// package's test, where no one answers) the text goes to standard error instead of a box.
void Tell(const QString& text) {
  if (!Env("TOMEVA_NO_LIBRARY_CHOICE").isEmpty()) {
    std::fprintf(stderr, "tomeva: %s\n", text.toUtf8().constData());
    return;
  }
  QMessageBox box(QMessageBox::Warning, Title(), text, QMessageBox::Ok);
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

bool Enter(const QString& dir) {
  if (QDir::setCurrent(dir)) return true;
  Tell(QString::fromUtf8("无法进入书库文件夹：%1").arg(dir));
  return false;
}

// `tomeva-tool` beside the program (installed), else the build's (the program run from its build).
QString ToolProgram() {
  const QString beside = QDir(QCoreApplication::applicationDirPath()).filePath("tomeva-tool");
  if (QFileInfo(beside).isExecutable()) return beside;
  const QString built = QString::fromUtf8(TOMEVA_BUILD_TOOL);
  if (!built.isEmpty() && QFileInfo(built).isExecutable()) return built;
  return beside;
}

// Makes the user's own library through the maintainer's tool; tells the user why not otherwise.
bool CreateLibrary(const QString& dir) {
  if (!QDir().mkpath(QFileInfo(dir).absolutePath())) {
    Tell(QString::fromUtf8("无法创建文件夹：%1").arg(QFileInfo(dir).absolutePath()));
    return false;
  }
  QProcess tool;
  tool.setProgram(ToolProgram());
  tool.setArguments({QStringLiteral("init"), dir, QStringLiteral("--data-dir"),
                     ProgramDataFolder()});
  tool.start();
  const bool finished = tool.waitForFinished(120000);
  const QString errors = QString::fromLocal8Bit(tool.readAllStandardError()).trimmed();
  if (!finished || tool.exitStatus() != QProcess::NormalExit || tool.exitCode() != 0) {
    Tell(QString::fromUtf8("新书库未能建立：%1\n%2")
             .arg(dir, errors.isEmpty() ? tool.errorString() : errors));
    return false;
  }
  return true;
}

enum class Choice { kCreate, kChoose, kQuit };

Choice AskForLibrary(const QString& own) {
  const QString preset = Env("TOMEVA_NO_LIBRARY_CHOICE");
  if (preset == QLatin1String("create")) return Choice::kCreate;
  if (!preset.isEmpty()) return Choice::kQuit;
  QMessageBox box(QMessageBox::Question, Title(),
                  QString::fromUtf8("没有找到书库。\n\n可以在 %1 新建一个自己的空书库，"
                                    "或选择一个已有的书库文件夹（含 System.xml）。")
                      .arg(own),
                  QMessageBox::NoButton);
  box.setTextFormat(Qt::PlainText);
  QPushButton* create = box.addButton(QString::fromUtf8("新建书库"), QMessageBox::AcceptRole);
  QPushButton* choose = box.addButton(QString::fromUtf8("选择书库…"), QMessageBox::ActionRole);
  box.addButton(QString::fromUtf8("退出"), QMessageBox::RejectRole);
  box.setDefaultButton(create);
  box.exec();
  if (box.clickedButton() == create) return Choice::kCreate;
  if (box.clickedButton() == choose) return Choice::kChoose;
  return Choice::kQuit;
}

// The user is asked until a library is entered or they quit.
bool AskAndEnter() {
  const QString own = UserLibraryFolder();
  for (;;) {
    switch (AskForLibrary(own)) {
      case Choice::kQuit:
        return false;
      case Choice::kCreate:
        if (IsLibraryFolder(own) || CreateLibrary(own)) return Enter(own);
        // Made automatically, a failure is not asked about again and again.
        if (!Env("TOMEVA_NO_LIBRARY_CHOICE").isEmpty()) return false;
        break;
      case Choice::kChoose: {
        const QString dir = QFileDialog::getExistingDirectory(
            nullptr, QString::fromUtf8("选择书库文件夹"), QDir::homePath());
        if (dir.isEmpty()) break;
        if (IsLibraryFolder(dir)) return Enter(dir);
        Tell(QString::fromUtf8("%1 不是书库：其中没有 System.xml。").arg(dir));
        break;
      }
    }
  }
}

}  // namespace

bool IsLibraryFolder(const QString& dir) {
  return !dir.isEmpty() && QFileInfo(QDir(dir).filePath("System.xml")).isFile();
}

QString UserLibraryFolder() {
  return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation))
      .filePath(QStringLiteral("tomeva"));
}

QString ProgramDataFolder() {
  if (const QString env = Env("TOMEVA_DATA_DIR"); !env.isEmpty()) return QDir::cleanPath(env);
  const QString built = QString::fromUtf8(TOMEVA_BUILD_DATA_DIR);
  if (!built.isEmpty() && QFileInfo(QDir(built).filePath("viewer/viewer.html")).isFile()) {
    return built;
  }
  return QString::fromUtf8(TOMEVA_DATA_DIR);
}

bool EnterLibrary(const QStringList& arguments) {
  // The first argument that is not an option names the library.
  for (qsizetype i = 1; i < arguments.size(); ++i) {
    if (arguments[i].startsWith(QLatin1Char('-'))) continue;
    const QString dir = QFileInfo(arguments[i]).absoluteFilePath();
    if (IsLibraryFolder(dir)) return Enter(dir);
    Tell(QString::fromUtf8("%1 不是书库：其中没有 System.xml。").arg(dir));
    return AskAndEnter();
  }
  if (IsLibraryFolder(QDir::currentPath())) return true;
  if (const QString shared = SystemLibraryFolder(); !shared.isEmpty()) {
    if (IsLibraryFolder(shared)) return Enter(shared);
    Tell(QString::fromUtf8("%1 中指定的书库 %2 不存在或不是书库。")
             .arg(QString::fromLatin1(kSystemLibraryFile), shared));
  }
  if (const QString own = UserLibraryFolder(); IsLibraryFolder(own)) return Enter(own);
  return AskAndEnter();
}

void RegisterViewerIfMissing() {
  platform::IniRegistry registry;
  if (!FindPdfViewerPath(registry).empty()) return;
  const QString page = QDir(ProgramDataFolder()).filePath(QStringLiteral("viewer/viewer.html"));
  if (!QFileInfo(page).isFile()) return;
  // Not fatal: PDFs are then shown without the viewer, and the highlighter says so when used.
  if (!registry.WriteValue(RegRoot::kLocalMachine, kRegAppPathsReader, "", RegType::kString,
                           QFile::encodeName(page).toStdString())) {
    std::fprintf(stderr, "tomeva: cannot register the PDF viewer in %s\n",
                 registry.FilePath(RegRoot::kLocalMachine).c_str());
  }
}

}  // namespace tomeva::gui
