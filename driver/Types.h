// Public enumerations and records of the Tavlor_QuorvelUnit component.
#pragma once

#include <string>
#include <vector>

#include "host/Device.h"
#include "host/UnitService.h"
#include "core/Vb.h"

// Measuring channel.
enum QuorvelPowerPort : vb::Long {
  ppSum = -1,
  ppDUTAll = 0,
  ppDUT1 = 1,
  ppDUT2 = 2,
  ppDUT3 = 3,
  ppDUT4 = 4,
  ppDUT5 = 5,
  ppDUT6 = 6,
  ppDUT7 = 7,
  ppDUT8 = 8,
  ppGenerator = 9,
  ppCompanion = 10,
  ppVideo = 11,
  ppEnd = 12,
};

// Port of the switch matrix.
enum QuorvelPort : vb::Long {
  pDUT1 = 1,
  pDUT2 = 2,
  pDUT3 = 3,
  pDUT4 = 4,
  pDUT5 = 5,
  pDUT6 = 6,
  pDUT7 = 7,
  pDUT8 = 8,
  pGenerator = 9,
  pCompanion = 10,
  pVectorGenerator = 11,
  pReceiver = 12,
  pAntenna = 13,
  pEnd = 14,
};

// Switch states of the unit's signal paths.
enum QuorvelPath : vb::Long {
  ptDUT1Rx, ptDUT2Rx, ptDUT3Rx, ptDUT4Rx, ptDUT5Rx, ptDUT6Rx, ptDUT7Rx, ptDUT8Rx,
  ptDUT1RxSum, ptDUT2RxSum, ptDUT3RxSum, ptDUT4RxSum, ptDUT5RxSum, ptDUT6RxSum, ptDUT7RxSum, ptDUT8RxSum,
  ptDUT1Rx18G, ptDUT2Rx18G, ptDUT3Rx18G, ptDUT4Rx18G, ptDUT5Rx18G, ptDUT6Rx18G, ptDUT7Rx18G, ptDUT8Rx18G,
  ptDUT1Power, ptDUT2Power, ptDUT3Power, ptDUT4Power, ptDUT5Power, ptDUT6Power, ptDUT7Power, ptDUT8Power,
  ptGenOn, ptGenOff, ptGenRx, ptGenDUT, ptVGenOn, ptVGenOff,
  ptCompBypassRx, ptCompBypassGen, ptCompBypassOff, ptCompOn, ptCompOff,
  ptCompExtensionOn, ptCompExtensionOff, ptCompExtensionDUT4,
  ptEnd,
};

// Attenuators of the unit; 1 to 8 are the DUT ports.
enum QuorvelAttenuator : vb::Long {
  attDUTAll = 0,
  attDut1 = 1,
  attDUT2 = 2,
  attDUT3 = 3,
  attDUT4 = 4,
  attDUT5 = 5,
  attDUT6 = 6,
  attDUT7 = 7,
  attDUT8 = 8,
  attCompanion = 9,
  attBypass = 10,
  attEnd = 11,
};

// Bits of the error status word.
enum QuorvelErrorStatus : vb::Long {
  esNONE = 0,
  esOVERFLOW = 1,
  esTIMEOUT = 2,
  esABORT = 4,
};

using host::DeviceInfo;

// A measured value for the host: the number and the host's unit record.
struct MeasuredValue {
  double Value = 0;
  host::UnitRecord Unit;
};

// Properties of a signal path whose attenuation table is wanted.
struct AttTableProp {
  QuorvelPort FromPort = pDUT1;
  QuorvelPort ToPort = pDUT1;
  bool Sum = false;
  bool Rx18 = false;
  bool ByPass = false;
  vb::Long Attenuator = 0;
  bool operator==(const AttTableProp&) const = default;
};

// One cached path attenuation row: attenuation in dB from StartFrq in
// steps of `step` Hz.
struct AttTable {
  AttTableProp TableProp;
  double StartFrq = 0;
  double step = 0;
  vb::Long count = 0;
  std::vector<double> AttValues;
  vb::Long key = 0;
};
