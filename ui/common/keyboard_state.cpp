#include "ui/common/keyboard_state.h"

#include <QGuiApplication>

#ifdef TESSARA_HAVE_X11
#include <X11/Xlib.h>
#include <X11/keysym.h>
#endif

namespace tessara {

std::optional<bool> IsKeyDownOnKeyboard(int qtKey) {
#ifdef TESSARA_HAVE_X11
  auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  Display* display = x11 ? x11->display() : nullptr;
  if (!display) return std::nullopt;
  KeySym sym = 0;
  switch (qtKey) {
    case Qt::Key_Space: sym = XK_space; break;
    case Qt::Key_Escape: sym = XK_Escape; break;
    default: return std::nullopt;
  }
  const KeyCode code = XKeysymToKeycode(display, sym);
  if (code == 0) return std::nullopt;
  char keys[32] = {};
  XQueryKeymap(display, keys);
  return (keys[code / 8] & (1 << (code % 8))) != 0;
#else
  (void)qtKey;
  return std::nullopt;
#endif
}

}  // namespace tessara
