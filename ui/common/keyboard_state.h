// What the keyboard itself says about a key, where the window system can tell:
// on X11 the server's key map. Key events can go astray (a release sent to a
// menu that has just closed, or to another program), so a key this program saw
// go down may long be up again; the stop check asks here before it believes it.
#pragma once

#include <optional>

namespace tessara {

// Whether the key (a Qt::Key) is down now; nothing when the window system
// cannot say (Wayland, the offscreen platform).
std::optional<bool> IsKeyDownOnKeyboard(int qtKey);

}  // namespace tessara
