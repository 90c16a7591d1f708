// What the Windows files of net/ share: Winsock started once, and its
// error numbers in words.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>

#include <string>

namespace net::win32 {

// Starts Winsock for the process the first time it is called.
void StartWinsock();

// The words for a Winsock (or Windows) error number.
std::string ErrorText(int code);

}  // namespace net::win32
