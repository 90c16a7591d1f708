/* The host library's entry point (libquorvel_host): installs, for the whole
 * process, the file-backed reference host that driver objects created
 * afterwards use, with the embedded Zentrix8 simulator for each device
 * whose entry names no unit.  A C++ program calls it before it makes its
 * first clsQuorvelUnit; a scripting program calls it through its foreign
 * function interface. */
#ifndef QUORVEL_HOST_H
#define QUORVEL_HOST_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* `config` names the host configuration (NULL or "": the default,
 * ~/.config/quorvel/quorvel.ini).  Returns 0 with a summary of the devices
 * in `message`, or 1 with the reason; `message` takes at most `size` bytes,
 * its terminating NUL included. */
#if defined(__GNUC__)
__attribute__((visibility("default")))
#endif
int QuorvelHost_Install(const char* config, char* message, uint32_t size);

#ifdef __cplusplus
}
#endif

#endif
