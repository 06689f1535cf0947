#include "gui/WindowSystem.h"

#include "gui/WaylandActivation.h"

#include <QApplication>
#include <QGuiApplication>
#include <QFrame>
#include <QLayout>
#include <QScrollArea>
#include <QVBoxLayout>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

namespace {

// How long the window manager gets to announce the frame it will add.
constexpr std::chrono::milliseconds FrameExtentsWait(500);

template <class T>
using TXcbReply = std::unique_ptr<T, decltype(&std::free)>;

xcb_atom_t Atom(xcb_connection_t* Connection, const char* Name) {
  const TXcbReply<xcb_intern_atom_reply_t> reply(
      xcb_intern_atom_reply(Connection, xcb_intern_atom(Connection, 0, static_cast<std::uint16_t>(std::strlen(Name)), Name),
                            nullptr),
      &std::free);
  return reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
}

// Up to Count 32-bit values of Window's property, or none.
std::vector<std::uint32_t> CardinalProperty(xcb_connection_t* Connection, xcb_window_t Window, xcb_atom_t Property,
                                            xcb_atom_t Type, std::uint32_t Count) {
  const TXcbReply<xcb_get_property_reply_t> reply(
      xcb_get_property_reply(Connection, xcb_get_property(Connection, 0, Window, Property, Type, 0, Count), nullptr),
      &std::free);
  if (!reply || reply->format != 32) return {};
  const auto* values = static_cast<const std::uint32_t*>(xcb_get_property_value(reply.get()));
  return std::vector<std::uint32_t>(values, values + xcb_get_property_value_length(reply.get()) / 4);
}

bool WindowManagerSupports(xcb_connection_t* Connection, xcb_window_t Root, xcb_atom_t Feature) {
  const auto supported = CardinalProperty(Connection, Root, Atom(Connection, "_NET_SUPPORTED"), XCB_ATOM_ATOM, 1024);
  return Feature != XCB_ATOM_NONE && std::find(supported.begin(), supported.end(), Feature) != supported.end();
}

// Qt's own check for an inactive modal: the widget that would take input first.
bool IsMainWindow(const QWidget* Widget) {
  return Widget->isVisible() && Widget->windowType() == Qt::Window && !Widget->isModal();
}

}  // namespace

bool PlatformIsWayland() { return QGuiApplication::platformName().startsWith(QLatin1String("wayland")); }

bool WindowPositionsAvailable() { return !PlatformIsWayland(); }

QMargins ExpectedFrameMargins(QWidget* Window) {
  auto* x11 = qGuiApp != nullptr ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  if (x11 == nullptr || Window == nullptr) return {};
  xcb_connection_t* connection = x11->connection();
  // The offscreen platform answers for X11 without a connection of its own.
  if (connection == nullptr || QGuiApplication::platformName() != QLatin1String("xcb")) return {};
  // Creates the native window, unmapped, so that the window manager can frame it in thought.
  const auto window = static_cast<xcb_window_t>(Window->winId());
  const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
  const xcb_atom_t request = Atom(connection, "_NET_REQUEST_FRAME_EXTENTS");
  const xcb_atom_t extents = Atom(connection, "_NET_FRAME_EXTENTS");
  if (!WindowManagerSupports(connection, root, request)) return {};
  xcb_client_message_event_t message{};
  message.response_type = XCB_CLIENT_MESSAGE;
  message.format = 32;
  message.window = window;
  message.type = request;
  xcb_send_event(connection, 0, root, XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                 reinterpret_cast<const char*>(&message));
  xcb_flush(connection);
  // The answer is a property on the window; Qt's event reader takes the notify
  // event, so the property itself is read until it is there.
  const auto end = std::chrono::steady_clock::now() + FrameExtentsWait;
  do {
    const auto values = CardinalProperty(connection, window, extents, XCB_ATOM_CARDINAL, 4);
    if (values.size() == 4) {
      const qreal ratio = Window->devicePixelRatioF();
      auto scaled = [ratio](std::uint32_t v) { return static_cast<int>(v / ratio + 0.5); };
      return QMargins(scaled(values[0]), scaled(values[2]), scaled(values[1]), scaled(values[3]));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  } while (std::chrono::steady_clock::now() < end);
  return {};
}

QWidget* DialogOwner() {
  if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) return nullptr;
  if (QWidget* modal = QApplication::activeModalWidget()) return modal;
  if (QWidget* active = QApplication::activeWindow()) return active;
  QWidget* found = nullptr;
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (!IsMainWindow(w)) continue;
    if (found != nullptr) return nullptr;
    found = w;
  }
  return found;
}

void FitToScreen(QWidget* Dialog) {
  const QWidget* owner = Dialog->parentWidget();
  QScreen* screen = owner != nullptr && owner->screen() != nullptr ? owner->screen() : QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  // Room for a title bar and a border, which the window manager adds outside.
  const QSize room = screen->availableGeometry().size() - QSize(16, 48);
  Dialog->ensurePolished();
  const QSize wanted = Dialog->testAttribute(Qt::WA_Resized) ? Dialog->size() : Dialog->sizeHint();
  if (wanted.width() <= room.width() && wanted.height() <= room.height()) return;
  QLayout* layout = Dialog->layout();
  const QSize least = layout != nullptr ? layout->totalMinimumSize() : Dialog->minimumSizeHint();
  if (layout != nullptr && (least.width() > room.width() || least.height() > room.height())) {
    // Its controls cannot shrink that far: they go into a scroll area that can.
    auto* content = new QWidget;
    content->setLayout(layout);
    auto* area = new QScrollArea;
    area->setWidget(content);
    area->setWidgetResizable(true);
    area->setFrameShape(QFrame::NoFrame);
    auto* frame = new QVBoxLayout(Dialog);
    frame->setContentsMargins(0, 0, 0, 0);
    frame->addWidget(area);
  } else if (layout != nullptr) {
    // A layout that fixes the dialog at its preferred size would undo the fitting.
    layout->setSizeConstraint(QLayout::SetDefaultConstraint);
  }
  Dialog->setMinimumSize(Dialog->minimumSize().boundedTo(room));
  Dialog->setMaximumSize(Dialog->maximumSize().boundedTo(room));
  Dialog->resize(wanted.boundedTo(room));
}

void PrepareWindowActivation() {
  if (PlatformIsWayland()) WaylandPrepareActivation();
}

std::string RequestActivationToken() { return PlatformIsWayland() ? WaylandRequestToken() : std::string(); }

void ActivateWithToken(QWidget* Window, const std::string& Token) {
  Window->raise();
  if (!PlatformIsWayland()) {
    Window->activateWindow();
    return;
  }
  // Qt asks for activation on Wayland only with a token of its own, which it has
  // not got when the request comes from another program; so it is done here.
  QWindow* window = Window->windowHandle();
  const bool asked = Token.empty() ? WaylandActivateByOwnToken(window) : WaylandActivate(window, Token);
  if (!asked) Window->activateWindow();
}
