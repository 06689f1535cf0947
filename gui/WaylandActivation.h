#pragma once
// A small binding of the xdg-activation protocol on the toolkit's own Wayland
// connection: Qt 6.4 has no public call to request or use activation tokens.

#include <string>

class QWindow;

// A token from the compositor for Window's surface (none when Window is null); "" when
// the compositor offers no activation or does not answer in time.
std::string WaylandRequestToken(QWindow* Window);
// Asks the compositor to activate Window with Token; false when it cannot be asked.
bool WaylandActivate(QWindow* Window, const std::string& Token);
