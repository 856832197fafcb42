#include "gui/common/engine_network.h"

#include <QWebEngineProfile>
#include <QtGlobal>
#include <optional>

namespace tomeva::gui {
namespace {

constexpr char kFlagsVariable[] = "QTWEBENGINE_CHROMIUM_FLAGS";

// "<-loopback>" takes away the engine's implicit exception for localhost and 127.0.0.1, which
// would otherwise let a page reach a server on this machine directly. No name is looked up
// either: a peer connection looks up its TURN server's name itself before it goes through the
// proxy, and a name that the page makes up carries its data to whoever answers for that domain.
// (The engine reads the variable's quotes as one argument, so the rule keeps its spaces.)
constexpr char kClosedFlags[] =
    "--proxy-server=socks5://127.0.0.1:1 --proxy-bypass-list=<-loopback> "
    "--force-webrtc-ip-handling-policy=disable_non_proxied_udp "
    "--host-resolver-rules=\"MAP * ~NOTFOUND\"";

// The variable as it was before CloseEngineNetwork (nullopt: it was not set); unset until then.
std::optional<std::optional<QByteArray>> saved_flags;

}  // namespace

QByteArray WithEngineNetworkClosed(const QByteArray& flags) {
  QByteArray kept = flags.trimmed();
  // A quote left open would take our flags into the user's last argument.
  if (kept.count('"') % 2 != 0) kept += '"';
  return kept.isEmpty() ? QByteArray(kClosedFlags) : kept + ' ' + kClosedFlags;
}

void CloseEngineNetwork() {
  std::optional<QByteArray> before;
  if (qEnvironmentVariableIsSet(kFlagsVariable)) before = qgetenv(kFlagsVariable);
  if (!saved_flags.has_value()) saved_flags = before;
  qputenv(kFlagsVariable, WithEngineNetworkClosed(before.value_or(QByteArray())));
}

void StartEngineAndRestoreEnvironment() {
  if (!saved_flags.has_value()) return;
  // The engine's context is made, and its flags read, with the first profile.
  QWebEngineProfile::defaultProfile();
  if (saved_flags->has_value()) {
    qputenv(kFlagsVariable, **saved_flags);
  } else {
    qunsetenv(kFlagsVariable);
  }
}

}  // namespace tomeva::gui
