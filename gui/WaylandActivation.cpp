#include "gui/WaylandActivation.h"

#include <QGuiApplication>
#include <QPointer>
#include <QWindow>
#include <qpa/qplatformnativeinterface.h>

#include <wayland-client.h>

#include "xdg-activation-v1-client-protocol.h"

#include <cstring>

namespace {

// Round trips allowed for a token on a connection of our own.
constexpr int TokenRoundTrips = 4;

void BindActivation(void* Data, wl_registry* Registry, std::uint32_t Name, const char* Interface, std::uint32_t) {
  auto** manager = static_cast<xdg_activation_v1**>(Data);
  if (*manager == nullptr && std::strcmp(Interface, xdg_activation_v1_interface.name) == 0)
    *manager = static_cast<xdg_activation_v1*>(wl_registry_bind(Registry, Name, &xdg_activation_v1_interface, 1));
}

void GlobalRemove(void*, wl_registry*, std::uint32_t) {}

const wl_registry_listener RegistryListener = {&BindActivation, &GlobalRemove};

wl_display* QtDisplay() {
  QPlatformNativeInterface* native = QGuiApplication::platformNativeInterface();
  return native != nullptr ? static_cast<wl_display*>(native->nativeResourceForIntegration("wl_display")) : nullptr;
}

wl_surface* SurfaceOf(QWindow* Window) {
  QPlatformNativeInterface* native = QGuiApplication::platformNativeInterface();
  if (Window == nullptr || native == nullptr || Window->handle() == nullptr) return nullptr;
  return static_cast<wl_surface*>(native->nativeResourceForWindow("surface", Window));
}

// The activation manager on Qt's connection and Qt's own event queue: its events
// are dispatched by Qt's loop like Qt's own, and nothing here ever reads the
// connection, which Qt's event thread owns. Bound once the compositor's globals
// have been dispatched; null before that and where the compositor has none.
xdg_activation_v1* QtManager = nullptr;

// One activation of a window by a token asked for it, finished when the token comes.
struct TPendingActivation {
  QPointer<QWindow> Window;
};

void TokenForWindow(void* Data, xdg_activation_token_v1* Request, const char* Token) {
  auto* pending = static_cast<TPendingActivation*>(Data);
  if (wl_surface* surface = SurfaceOf(pending->Window.data()); surface != nullptr && QtManager != nullptr) {
    xdg_activation_v1_activate(QtManager, Token, surface);
    wl_display_flush(QtDisplay());
  }
  xdg_activation_token_v1_destroy(Request);
  delete pending;
}

const xdg_activation_token_v1_listener WindowTokenListener = {&TokenForWindow};

void TokenDone(void* Data, xdg_activation_token_v1*, const char* Token) { *static_cast<std::string*>(Data) = Token; }

const xdg_activation_token_v1_listener TokenListener = {&TokenDone};

}  // namespace

void WaylandPrepareActivation() {
  static bool prepared = false;
  wl_display* display = QtDisplay();
  if (prepared || display == nullptr) return;
  prepared = true;
  // The registry lives as long as the connection, which Qt keeps until the program ends.
  wl_registry* registry = wl_display_get_registry(display);
  wl_registry_add_listener(registry, &RegistryListener, &QtManager);
  wl_display_flush(display);
}

bool WaylandActivateByOwnToken(QWindow* Window) {
  wl_surface* surface = SurfaceOf(Window);
  if (QtManager == nullptr || surface == nullptr) return false;
  xdg_activation_token_v1* request = xdg_activation_v1_get_activation_token(QtManager);
  xdg_activation_token_v1_add_listener(request, &WindowTokenListener, new TPendingActivation{Window});
  xdg_activation_token_v1_set_surface(request, surface);
  xdg_activation_token_v1_commit(request);
  return wl_display_flush(QtDisplay()) >= 0;
}

std::string WaylandRequestToken() {
  // A connection of its own, read here and closed at once: Qt's is read by its own thread.
  wl_display* display = wl_display_connect(nullptr);
  if (display == nullptr) return std::string();
  xdg_activation_v1* manager = nullptr;
  wl_registry* registry = wl_display_get_registry(display);
  wl_registry_add_listener(registry, &RegistryListener, &manager);
  std::string token;
  if (wl_display_roundtrip(display) >= 0 && manager != nullptr) {
    xdg_activation_token_v1* request = xdg_activation_v1_get_activation_token(manager);
    xdg_activation_token_v1_add_listener(request, &TokenListener, &token);
    xdg_activation_token_v1_commit(request);
    for (int i = 0; i < TokenRoundTrips && token.empty(); ++i)
      if (wl_display_roundtrip(display) < 0) break;
    xdg_activation_token_v1_destroy(request);
    xdg_activation_v1_destroy(manager);
  }
  wl_registry_destroy(registry);
  wl_display_disconnect(display);
  return token;
}

bool WaylandActivate(QWindow* Window, const std::string& Token) {
  wl_surface* surface = SurfaceOf(Window);
  if (QtManager == nullptr || surface == nullptr || Token.empty()) return false;
  xdg_activation_v1_activate(QtManager, Token.c_str(), surface);
  return wl_display_flush(QtDisplay()) >= 0;
}
