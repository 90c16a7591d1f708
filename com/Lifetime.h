// What keeps the component's library in use: live objects, class factories
// and type information handed out, and server locks.  DllCanUnloadNow says
// the library may go only when none is left.
#pragma once

namespace com {

void ObjectCreated();
void ObjectDestroyed();
void Lock(bool lock);
bool InUse();

}  // namespace com
