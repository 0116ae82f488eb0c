#pragma once

namespace tovak::app {

// Qt's own Russian texts (standard dialogs, buttons, context menus) from Qt's translations folder,
// whatever the system's language: the rest of the interface is Russian too. False when they are
// not installed; Qt's English texts stay then.
bool installQtTranslations();

}  // namespace tovak::app
