// The one place where a process chooses what a driver made without
// arguments works with.  Nothing is chosen behind the program's back: a
// program (or the component's host) installs its host and platform; until
// it does, such a driver cannot be made.
#pragma once

#include "core/Export.h"
#include "host/Services.h"
#include "platform/Platform.h"

namespace defaults {

// Installs the services for every driver made from now on without arguments.
QUORVEL_API void Install(host::Services host, platform::Services platform);
// The installed host; error 91 with a description when none was installed.
QUORVEL_API host::Services Host();
// The installed platform, with headless stand-ins for what it lacks
// (message boxes answer their default button).
QUORVEL_API platform::Services Platform();

}  // namespace defaults
