// The type library: the coclass, the dispatch interface with every member,
// the public enumerations and the records, as static descriptions behind
// reduced ITypeLib/ITypeInfo interfaces.
#pragma once

#include "com/ComTypes.h"
#include "com/Lifetime.h"

namespace com {

// The library's description, one reference added for the caller.
ITypeLib* TypeLibrary();
// The type information of the dispatch interface, one reference added.
ITypeInfo* InterfaceTypeInfo();


}  // namespace com
