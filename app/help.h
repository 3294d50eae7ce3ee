// The help page we ship: an HTML page named after the executable, beside it in
// help/, opened in the user's browser.
#pragma once

#include <QString>

namespace tessara {

// The name of the program's executable, after which the help page is named.
inline constexpr const char* kExecutableName = "tessara";

// The help page's path, or empty when it cannot be found.
QString HelpPagePath();
// Opens the help page at `anchor` (its top when empty). Tells the user when the
// page is missing.
bool OpenHelp(const QString& anchor);

}  // namespace tessara
