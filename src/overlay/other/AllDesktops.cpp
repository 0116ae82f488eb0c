#include "overlay/AllDesktops.h"

namespace tovak::overlay {

// Elsewhere the toolkit's own flags are all there is.
void requestAllDesktops(QWidget*) {}
void requestNoTaskbarEntry(QWidget*) {}

}  // namespace tovak::overlay
