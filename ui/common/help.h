// The help page we ship: an HTML page named after the executable, beside it in
// help/, opened in the user's browser.
#pragma once

#include <QString>

namespace tessara {

// The name of the program's executable, after which the help page is named.
inline constexpr const char* kExecutableName = "tessara";

namespace help_text {
// Followed by the page's path, when no browser could be started for it.
inline constexpr const char* kOpenInBrowser = "Open the help page in a web browser: ";
}  // namespace help_text

// The help page's path, or empty when it cannot be found.
QString HelpPagePath();
// Opens the help page at `anchor` (its top when empty). Tells the user when the
// page is missing, and where it is when no browser could be started.
bool OpenHelp(const QString& anchor);

}  // namespace tessara
