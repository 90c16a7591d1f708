// Symbol visibility of the Tavlor_QuorvelUnit shared library.
// The library is built with hidden visibility; only what is marked
// QUORVEL_API is exported.  Classes thrown across the library boundary
// (vb::Error) must be exported, or their typeinfo differs between the
// library and the program that catches them.
//
// A build that exports otherwise (the Windows component) defines
// QUORVEL_API itself.
#pragma once

#ifndef QUORVEL_API
#define QUORVEL_API __attribute__((visibility("default")))
#endif
