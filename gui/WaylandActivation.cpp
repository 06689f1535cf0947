#include "gui/WaylandActivation.h"

#include <QGuiApplication>
#include <QWindow>
#include <qpa/qplatformnativeinterface.h>

#include <wayland-client.h>

#include "xdg-activation-v1-client-protocol.h"

#include <cstring>

namespace {

// Round trips allowed for a token: the compositor answers the commit in the next one.
constexpr int TokenRoundTrips = 4;

// The protocol objects, on an event queue of their own, so that they never run
// inside Qt's dispatch and Qt's events never run inside ours.
struct TActivation {
  wl_display* Display = nullptr;
  wl_event_queue* Queue = nullptr;
  xdg_activation_v1* Manager = nullptr;
};

void RegistryGlobal(void* Data, wl_registry* Registry, std::uint32_t Name, const char* Interface, std::uint32_t) {
  auto* activation = static_cast<TActivation*>(Data);
  if (activation->Manager == nullptr && std::strcmp(Interface, xdg_activation_v1_interface.name) == 0)
    activation->Manager = static_cast<xdg_activation_v1*>(wl_registry_bind(Registry, Name, &xdg_activation_v1_interface, 1));
}

void RegistryGlobalRemove(void*, wl_registry*, std::uint32_t) {}

const wl_registry_listener RegistryListener = {&RegistryGlobal, &RegistryGlobalRemove};

void TokenDone(void* Data, xdg_activation_token_v1*, const char* Token) { *static_cast<std::string*>(Data) = Token; }

const xdg_activation_token_v1_listener TokenListener = {&TokenDone};

// The binding for Qt's connection, made on first use; null when Qt does not run
// on Wayland or the compositor offers no activation.
TActivation* Activation() {
  static TActivation* activation = []() -> TActivation* {
    QPlatformNativeInterface* native = QGuiApplication::platformNativeInterface();
    if (native == nullptr) return nullptr;
    auto* display = static_cast<wl_display*>(native->nativeResourceForIntegration("wl_display"));
    if (display == nullptr) return nullptr;
    auto* result = new TActivation;
    result->Display = display;
    result->Queue = wl_display_create_queue(display);
    auto* wrapper = static_cast<wl_display*>(wl_proxy_create_wrapper(display));
    wl_proxy_set_queue(reinterpret_cast<wl_proxy*>(wrapper), result->Queue);
    wl_registry* registry = wl_display_get_registry(wrapper);
    wl_proxy_wrapper_destroy(wrapper);
    wl_registry_add_listener(registry, &RegistryListener, result);
    wl_display_roundtrip_queue(display, result->Queue);
    wl_registry_destroy(registry);
    // The binding lives as long as the connection, which Qt keeps until the program ends.
    return result;
  }();
  return activation != nullptr && activation->Manager != nullptr ? activation : nullptr;
}

wl_surface* SurfaceOf(QWindow* Window) {
  QPlatformNativeInterface* native = QGuiApplication::platformNativeInterface();
  if (Window == nullptr || native == nullptr || Window->handle() == nullptr) return nullptr;
  return static_cast<wl_surface*>(native->nativeResourceForWindow("surface", Window));
}

}  // namespace

std::string WaylandRequestToken(QWindow* Window) {
  TActivation* activation = Activation();
  if (activation == nullptr) return std::string();
  std::string token;
  xdg_activation_token_v1* request = xdg_activation_v1_get_activation_token(activation->Manager);
  xdg_activation_token_v1_add_listener(request, &TokenListener, &token);
  if (wl_surface* surface = SurfaceOf(Window)) xdg_activation_token_v1_set_surface(request, surface);
  xdg_activation_token_v1_commit(request);
  for (int i = 0; i < TokenRoundTrips && token.empty(); ++i)
    if (wl_display_roundtrip_queue(activation->Display, activation->Queue) < 0) break;
  xdg_activation_token_v1_destroy(request);
  return token;
}

bool WaylandActivate(QWindow* Window, const std::string& Token) {
  TActivation* activation = Activation();
  wl_surface* surface = SurfaceOf(Window);
  if (activation == nullptr || surface == nullptr || Token.empty()) return false;
  xdg_activation_v1_activate(activation->Manager, Token.c_str(), surface);
  return wl_display_flush(activation->Display) >= 0;
}
