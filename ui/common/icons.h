// The program's window icons, painted at start: the application, and one for
// each kind of child window (source, Target, Align).
#pragma once

#include <QIcon>

namespace tessara {
QIcon AppIcon();
QIcon SourceIcon();
QIcon TargetIcon();
QIcon AlignIcon();
}  // namespace tessara
