#include "platform/Desktop.h"

namespace platform {

// No window system of our own here: the headless stand-ins serve.
Services DesktopServices() { return {}; }

}  // namespace platform
