// The web engine of a program that shows library pages reaches no network of its own.
//
// The request guard (local_content_guard.h) sees every request a page makes for a document, a
// script, an image, a fetch or a socket, but not the engine's own connections outside that path:
// a page's peer connection opens UDP and TCP to the STUN and TURN servers its script names, and
// those never pass the guard. Book pages keep their scripts, so that way out is closed where the
// engine makes its connections: every connection goes through a proxy on 127.0.0.1 port 1, which
// nothing listens on (only the administrator could open a port below 1024), with no exception
// for loopback addresses, peer connections may not send UDP that bypasses the proxy, and no host
// name is looked up (a made-up name would carry a page's data to that domain's name server). So
// nothing the engine itself would connect to is reached.
//
// The program's own transfers (the version page, the updater) go through Qt's network classes,
// which do not read the engine's flags.
//
// The engine reads its flags from the environment when it starts, and programs started from
// this one inherit the environment: the browser window, which must reach the web, would get the
// closed network too. So the flags are put in before the QApplication is made, the engine is
// started as soon as it exists, and the environment is then given back as it was.
//
// Threads: the main thread.
#ifndef TOMEVA_GUI_COMMON_ENGINE_NETWORK_H_
#define TOMEVA_GUI_COMMON_ENGINE_NETWORK_H_

#include <QByteArray>

namespace tomeva::gui {

// `flags` (the engine's flags as the environment gave them, possibly empty) with the flags
// above appended: flags already there are kept (a quote they leave open is closed), and a later
// flag of the same name wins.
QByteArray WithEngineNetworkClosed(const QByteArray& flags);

// Appends those flags to QTWEBENGINE_CHROMIUM_FLAGS in the environment. Called before the
// QApplication is made.
void CloseEngineNetwork();

// Starts the web engine, which reads its flags now, and puts QTWEBENGINE_CHROMIUM_FLAGS back as
// it was before CloseEngineNetwork (unset when it was unset). Called once the QApplication
// exists and before any other program is started; does nothing without CloseEngineNetwork.
void StartEngineAndRestoreEnvironment();

}  // namespace tomeva::gui

#endif  // TOMEVA_GUI_COMMON_ENGINE_NETWORK_H_
