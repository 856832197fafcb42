#include "gui/common/web_engine_bootstrap.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "gui/common/engine_network.h"
#include "gui/common/qt_translations.h"

namespace tomeva::gui {

std::unique_ptr<QApplication> MakeWebEngineApplication(int& argc, char** argv,
                                                       EngineNetwork network) {
  if (geteuid() == 0 && std::getenv("QTWEBENGINE_DISABLE_SANDBOX") == nullptr) {
    setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 1);
  }
  if (network == EngineNetwork::kClosed) CloseEngineNetwork();
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  auto app = std::make_unique<QApplication>(argc, argv);
  // Does nothing when the network was left open: the engine then starts with the first page.
  StartEngineAndRestoreEnvironment();
  if (QString missing; !InstallQtChinese(&missing)) {
    std::fprintf(stderr, "Qt's Chinese texts not found (%s): its dialogs stay in English\n",
                 qPrintable(missing));
  }
  return app;
}

}  // namespace tomeva::gui
