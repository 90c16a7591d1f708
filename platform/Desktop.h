// The system's own message boxes, event pump, mouse pointer and file
// dialog, for a component that lives in a host's windows.  Where the
// system has none of its own here (POSIX without a toolkit), the services
// come back empty and the headless stand-ins serve.
#pragma once

#include <string>

#include "core/Export.h"
#include "platform/Platform.h"

namespace platform {

QUORVEL_API Services DesktopServices();

// A file dialog's filter as VB writes it ("Text (*.txt)|*.txt|All|*.*") in
// the form the system's dialog takes: each part ended by a NUL, the list by
// one more.
QUORVEL_API std::string NulSeparatedFilter(const std::string& filter);

}  // namespace platform
