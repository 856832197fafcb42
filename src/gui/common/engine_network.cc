#include "gui/common/engine_network.h"

#include <QtGlobal>

namespace tomeva::gui {
namespace {

constexpr char kFlagsVariable[] = "QTWEBENGINE_CHROMIUM_FLAGS";

// "<-loopback>" takes away the engine's implicit exception for localhost and 127.0.0.1, which
// would otherwise let a page reach a server on this machine directly.
constexpr char kClosedFlags[] =
    "--proxy-server=socks5://127.0.0.1:1 --proxy-bypass-list=<-loopback> "
    "--force-webrtc-ip-handling-policy=disable_non_proxied_udp";

}  // namespace

QByteArray WithEngineNetworkClosed(const QByteArray& flags) {
  const QByteArray kept = flags.trimmed();
  return kept.isEmpty() ? QByteArray(kClosedFlags) : kept + ' ' + kClosedFlags;
}

void CloseEngineNetwork() {
  qputenv(kFlagsVariable, WithEngineNetworkClosed(qgetenv(kFlagsVariable)));
}

}  // namespace tomeva::gui
