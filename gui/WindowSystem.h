#pragma once
// What the window system lets a program do with its windows, and how: on X11 the
// program places its windows and learns their frames; on Wayland it can do
// neither, and brings a window forward only with an activation token.

#include <QMargins>

#include <string>

class QWidget;

// Whether the program runs as a native Wayland client.
bool PlatformIsWayland();
// Whether the window system reports and places top-level windows (not on Wayland).
bool WindowPositionsAvailable();
// The frame that the window manager puts around Window, asked before the window is
// shown (X11's _NET_REQUEST_FRAME_EXTENTS); none where it cannot be known.
QMargins ExpectedFrameMargins(QWidget* Window);

// The window that a dialog or box opened now belongs to: the active modal window,
// else the active window, else the one visible main window; null when there is none.
QWidget* DialogOwner();
// Makes Dialog no larger than the available area of the screen it opens on.
void FitToScreen(QWidget* Dialog);

// Readies the activation of windows on request of another program (Wayland's
// activation service); call once the application object exists.
void PrepareWindowActivation();
// A new activation token where the platform hands them out (Wayland), for a program
// started on the user's behalf; "" otherwise.
std::string RequestActivationToken();
// Brings Window forward: with Token where one is given, else, on Wayland, with a token
// asked for Window itself, which the compositor turns into focus or urgency by its policy.
void ActivateWithToken(QWidget* Window, const std::string& Token);
