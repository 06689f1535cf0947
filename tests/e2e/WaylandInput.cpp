// The keyboard and pointer of the Wayland end-to-end tests: a virtual keyboard and
// a virtual pointer on the compositor's seat, driven by one command a line on
// standard input, each answered once the compositor has taken it:
//   key CODE 1|0        an evdev key code pressed or released
//   mods MASK           the depressed modifiers (1 Shift, 4 Control, 8 Alt)
//   move X Y            the pointer to (X, Y) of the output
//   button CODE 1|0     an evdev button pressed or released
//   token               a new activation token, as a launcher gets one: "token T"
// Usage: varnex_wlinput WIDTH HEIGHT

#include "virtual-keyboard-unstable-v1-client-protocol.h"
#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"
#include "xdg-activation-v1-client-protocol.h"

#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <sys/mman.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>

namespace {

struct TGlobals {
  wl_seat* Seat = nullptr;
  zwp_virtual_keyboard_manager_v1* Keyboards = nullptr;
  zwlr_virtual_pointer_manager_v1* Pointers = nullptr;
  xdg_activation_v1* Activation = nullptr;
};

void Global(void* Data, wl_registry* Registry, std::uint32_t Name, const char* Interface, std::uint32_t) {
  auto& g = *static_cast<TGlobals*>(Data);
  auto bind = [&](const wl_interface* I) { return wl_registry_bind(Registry, Name, I, 1); };
  if (std::strcmp(Interface, wl_seat_interface.name) == 0 && g.Seat == nullptr)
    g.Seat = static_cast<wl_seat*>(bind(&wl_seat_interface));
  else if (std::strcmp(Interface, zwp_virtual_keyboard_manager_v1_interface.name) == 0)
    g.Keyboards = static_cast<zwp_virtual_keyboard_manager_v1*>(bind(&zwp_virtual_keyboard_manager_v1_interface));
  else if (std::strcmp(Interface, zwlr_virtual_pointer_manager_v1_interface.name) == 0)
    g.Pointers = static_cast<zwlr_virtual_pointer_manager_v1*>(bind(&zwlr_virtual_pointer_manager_v1_interface));
  else if (std::strcmp(Interface, xdg_activation_v1_interface.name) == 0)
    g.Activation = static_cast<xdg_activation_v1*>(bind(&xdg_activation_v1_interface));
}

void GlobalRemove(void*, wl_registry*, std::uint32_t) {}

const wl_registry_listener RegistryListener = {&Global, &GlobalRemove};

void TokenDone(void* Data, xdg_activation_token_v1*, const char* Token) { *static_cast<std::string*>(Data) = Token; }

const xdg_activation_token_v1_listener TokenListener = {&TokenDone};

std::uint32_t Now() {
  return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::steady_clock::now().time_since_epoch())
                                        .count());
}

// The US keymap, which the tests' key codes assume, handed over in a memory file.
bool SendKeymap(zwp_virtual_keyboard_v1* Keyboard) {
  xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
  xkb_rule_names names{};
  names.layout = "us";
  xkb_keymap* keymap = context ? xkb_keymap_new_from_names(context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS) : nullptr;
  char* text = keymap ? xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1) : nullptr;
  bool sent = false;
  if (text != nullptr) {
    const std::size_t size = std::strlen(text) + 1;
    const int fd = memfd_create("keymap", MFD_CLOEXEC);
    if (fd >= 0 && write(fd, text, size) == static_cast<ssize_t>(size)) {
      zwp_virtual_keyboard_v1_keymap(Keyboard, XKB_KEYMAP_FORMAT_TEXT_V1, fd, static_cast<std::uint32_t>(size));
      sent = true;
    }
    if (fd >= 0) close(fd);
    std::free(text);
  }
  xkb_keymap_unref(keymap);
  xkb_context_unref(context);
  return sent;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  const auto width = static_cast<std::uint32_t>(std::stoul(argv[1]));
  const auto height = static_cast<std::uint32_t>(std::stoul(argv[2]));
  wl_display* display = wl_display_connect(nullptr);
  if (display == nullptr) return 3;
  TGlobals g;
  wl_registry* registry = wl_display_get_registry(display);
  wl_registry_add_listener(registry, &RegistryListener, &g);
  wl_display_roundtrip(display);
  if (g.Seat == nullptr || g.Keyboards == nullptr || g.Pointers == nullptr) return 4;
  zwp_virtual_keyboard_v1* keyboard = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(g.Keyboards, g.Seat);
  zwlr_virtual_pointer_v1* pointer = zwlr_virtual_pointer_manager_v1_create_virtual_pointer(g.Pointers, g.Seat);
  if (!SendKeymap(keyboard)) return 5;
  wl_display_roundtrip(display);
  std::cout << "ready" << std::endl;
  std::string line;
  while (std::getline(std::cin, line)) {
    std::istringstream in(line);
    std::string command;
    std::uint32_t a = 0, b = 0;
    in >> command >> a >> b;
    std::string reply = "ok";
    if (command == "key") {
      zwp_virtual_keyboard_v1_key(keyboard, Now(), a, b);
    } else if (command == "mods") {
      zwp_virtual_keyboard_v1_modifiers(keyboard, a, 0, 0, 0);
    } else if (command == "move") {
      zwlr_virtual_pointer_v1_motion_absolute(pointer, Now(), a, b, width, height);
      zwlr_virtual_pointer_v1_frame(pointer);
    } else if (command == "button") {
      zwlr_virtual_pointer_v1_button(pointer, Now(), a, b);
      zwlr_virtual_pointer_v1_frame(pointer);
    } else if (command == "token" && g.Activation != nullptr) {
      std::string token;
      xdg_activation_token_v1* request = xdg_activation_v1_get_activation_token(g.Activation);
      xdg_activation_token_v1_add_listener(request, &TokenListener, &token);
      xdg_activation_token_v1_commit(request);
      for (int i = 0; i < 10 && token.empty(); ++i) wl_display_roundtrip(display);
      xdg_activation_token_v1_destroy(request);
      reply = "token " + token;
    } else {
      reply = "error " + line;
    }
    if (wl_display_roundtrip(display) < 0) return 6;
    std::cout << reply << std::endl;
  }
  return 0;
}
