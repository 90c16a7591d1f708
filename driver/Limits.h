// What the Zentrix8 can do, written once: the bounds the driver works
// within and the tool, the service form and the panel check values against.
#pragma once

#include "core/Vb.h"

namespace zentrix8 {

// Measuring frequency of a sensor, Hz.
inline constexpr double kMinFrequency = 10e6;
inline constexpr double kMaxFrequency = 18e9;

// Samples one measurement records; a burst count above it is not a count.
inline constexpr vb::Long kMaxSamples = 200000;

// How far below the trace's peak a burst begins, dB.
inline constexpr double kMinThreshold = -10;
inline constexpr double kMaxThreshold = 70;
// What the service form's burst search starts with, and the tool too.
inline constexpr double kDefaultThreshold = 30;

// The rates the sampler makes: one of its two base clocks divided by a whole
// number, and below 1 MHz the 1 MHz stream (250 MHz / 250) decimated by a
// whole number.
inline constexpr vb::Long kClock250 = 250000000;
inline constexpr vb::Long kClock252 = 252000000;
inline constexpr vb::Long kSlowStream = 1000000;
inline constexpr vb::Long kSlowStreamDivider = kClock250 / kSlowStream;
// The highest rate the unit reports back.
inline constexpr vb::Long kMaxReportedRate = 10000000;

// The switchable attenuators (ports 1 to 10) and their settings: 0 dB up to
// maxDb in steps of stepDb.  A DUT port's takes 10 dB steps, the companion's
// and the bypass's 1 dB steps.
struct AttenuatorSteps {
  vb::Long stepDb;
  vb::Long maxDb;
};
inline constexpr AttenuatorSteps kDutAttenuator{10, 20};
inline constexpr AttenuatorSteps kCompanionAttenuator{1, 30};
inline constexpr AttenuatorSteps kBypassAttenuator{1, 20};
// What every switchable attenuator is set to until told otherwise, dB.
inline constexpr double kAttenuatorDefault = 31.75;

// The steps of a path's attenuator in the calibration tables, dB: a path to
// the receiver steps 10 dB, 100 dB on the direct 18 GHz line (so only 0 is a
// setting there); every other path 1 dB.
inline constexpr vb::Long kPathStepReceiver = 10;
inline constexpr vb::Long kPathStepReceiverDirect = 100;
inline constexpr vb::Long kPathStep = 1;

// The largest firmware file the unit takes, bytes.
inline constexpr unsigned long long kMaxFirmwareBytes = 64ull << 20;

}  // namespace zentrix8
