// The type library: the coclass, the dispatch interface with every member,
// the public enumerations and the records, as static descriptions behind
// reduced ITypeLib/ITypeInfo interfaces.
#pragma once

#include "com/ComTypes.h"

namespace com {

// The library's description, one reference added for the caller.
ITypeLib* TypeLibrary();
// The type information of the dispatch interface, one reference added.
ITypeInfo* InterfaceTypeInfo();

// Live references that keep the library in use (objects, factories,
// type information) and server locks.
void ObjectCreated();
void ObjectDestroyed();
void Lock(bool lock);
bool InUse();

}  // namespace com
