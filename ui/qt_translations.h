#pragma once

namespace velmora {

// Puts Qt's own texts (the file dialogs, their questions and messages, the
// boxes' context menus) into Japanese like the rest of the window, whatever
// the user's locale: installs Qt's Japanese translations from Qt's
// translations folder into the running application. Answers false when they
// are not installed there; Qt's texts then stay English.
bool InstallQtJapanese();

}  // namespace velmora
