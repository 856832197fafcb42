// The start of every program of ours whose windows show pages in the web engine: what the engine
// needs before the application object exists, the application object, and what follows at once.
//
// Threads: the main thread, first thing in main().
#ifndef TOMEVA_GUI_COMMON_WEB_ENGINE_BOOTSTRAP_H_
#define TOMEVA_GUI_COMMON_WEB_ENGINE_BOOTSTRAP_H_

#include <QApplication>
#include <memory>

namespace tomeva::gui {

// Whether the program's web engine may make connections of its own.
enum class EngineNetwork {
  kClosed,  // its pages come from the installation and run their scripts (engine_network.h)
  kOpen,    // it shows the web: the browser window
};

// Makes the program's application object. Before it: the engine's sandbox is disabled when the
// program runs as root (the sandbox refuses to start then; a value the user set is kept), the
// engine's network is closed for kClosed, and the windows share their OpenGL contexts, as the
// engine wants before the first window. After it: the engine is started (reading its flags) and
// the environment handed back as it was, for the programs this one starts; Qt's own texts are put
// in Chinese before the first window, and a line on stderr names the catalogue when they cannot
// be. `argc` must outlive the object, as QApplication requires.
std::unique_ptr<QApplication> MakeWebEngineApplication(int& argc, char** argv,
                                                       EngineNetwork network);

}  // namespace tomeva::gui

#endif  // TOMEVA_GUI_COMMON_WEB_ENGINE_BOOTSTRAP_H_
