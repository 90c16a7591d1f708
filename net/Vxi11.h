// The numbers of the VXI-11 protocol both ends use: the procedures of its
// core and abort channels, and the error word every reply starts with.
#pragma once

#include <cstdint>

namespace net::vxi11 {

enum Procedure : std::uint32_t {
  kNullProcedure = 0,  // every RPC program's: does nothing, shows the channel is there
  kDeviceAbort = 1,    // on the abort channel
  kCreateLink = 10,
  kDeviceWrite = 11,
  kDeviceRead = 12,
  kDeviceReadStb = 13,
  kDeviceTrigger = 14,
  kDeviceClear = 15,
  kDeviceRemote = 16,
  kDeviceLocal = 17,
  kDeviceLock = 18,
  kDeviceUnlock = 19,
  kDeviceEnableSrq = 20,
  kDeviceDoCmd = 22,
  kDestroyLink = 23,
  kCreateInterruptChannel = 25,
  kDestroyInterruptChannel = 26,
};

enum Error : std::int32_t {
  kNoError = 0,
  kSyntaxError = 1,
  kDeviceNotAccessible = 3,
  kInvalidLinkIdentifier = 4,
  kParameterError = 5,
  kChannelNotEstablished = 6,
  kOperationNotSupported = 8,
  kOutOfResources = 9,
  kDeviceLockedByAnotherLink = 11,
  kNoLockHeldByThisLink = 12,
  kIoTimeout = 15,
  kIoError = 17,
  kInvalidAddress = 21,
  kAbort = 23,
  kChannelAlreadyEstablished = 29,
};

}  // namespace net::vxi11
