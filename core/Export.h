// Symbol visibility of the Tavlor_QuorvelUnit shared library.
// The library is built with hidden visibility; only what is marked
// QUORVEL_API is exported.  Classes thrown across the library boundary
// (vb::Error) must be exported, or their typeinfo differs between the
// library and the program that catches them.
#pragma once

#define QUORVEL_API __attribute__((visibility("default")))
