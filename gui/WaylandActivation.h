#pragma once
// A small binding of the xdg-activation protocol: Qt 6.4 has no public call to
// request or use activation tokens on Wayland.

#include <string>

class QWindow;

// Binds the compositor's activation service on Qt's connection; call once the
// application runs on Wayland. The binding is ready after Qt's next dispatch.
void WaylandPrepareActivation();
// Asks for a token for Window's surface and activates Window with it when it comes;
// false when that cannot be asked (no service, or Window not shown).
bool WaylandActivateByOwnToken(QWindow* Window);
// A new token for a program started on the user's behalf, from a connection of its
// own; "" when the compositor offers no activation or does not answer.
std::string WaylandRequestToken();
// Asks the compositor to activate Window with Token; false when it cannot be asked.
bool WaylandActivate(QWindow* Window, const std::string& Token);
