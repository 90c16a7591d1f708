// In the Windows component, a host program installs no host of its own:
// the first object made installs the reference host (its configuration
// under %APPDATA%\quorvel\, the embedded simulator for a device that names
// no unit).
#include "com/win32/Bridge.h"
#include "comhost/HostInstall.h"

namespace {

void Install() { comhost::InstallHost(""); }

const bool g_installer = (com::win32::SetHostInstaller(&Install), true);

}  // namespace
