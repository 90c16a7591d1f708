// Unit identity, reset and part data.
#include "driver/Limits.h"
#include "driver/clsQuorvelUnit.h"
#include "driver/modMain.h"

void clsQuorvelUnit::ResetQuorvelUnit() {
  Traced("ResetQuorvelUnit", [&](io::ErrorFrame& f) {
    f.Step([&] { MeasurementAbort(); });
    // The abort raised m_Abort on a connected unit; clearing it lets the
    // reset command pass the completion wait.
    f.Step([&] { ClearUnitFlags(); });
    f.Step([&] { WriteCmd(BuildCmd(modMain::cmdReset, modMain::ckSetting, 0)); });
    f.Step([&] { InitPortDefaults(); });
    // Cleared right after the reset was sent: the next command does not wait for it.
    f.Step([&] {
      m_Link.ForgetOperation();
      m_Link.ClearErrorStatus();
      m_SysErrOverflow = 0;
    });
  });
}

void clsQuorvelUnit::SetPart(vb::Long PartNo, vb::Long value) {
  WriteCmd(BuildCmd(modMain::cmdPart, modMain::ckSetting, 0, value, std::to_string(PartNo)));
}

vb::Long clsQuorvelUnit::GetPart(vb::Long PartNo) {
  return ClampToLong(RequestCmdValue(BuildCmd(modMain::cmdPart, modMain::ckQuery, 0, 4e10, std::to_string(PartNo))));
}

double clsQuorvelUnit::GetTAZ() {
  const std::vector<std::string> fields = vb::Split(RequestCmd(BuildCmd(modMain::cmdDeviceHfb, modMain::ckQuery, 0)), ",");
  if (fields.size() < 2) return 0;
  // The unit answers hundredths in the next-to-last field.
  return vb::Val(fields[fields.size() - 2]) / 100;
}

vb::Long clsQuorvelUnit::GetAttNr(vb::Long PathNr, double att) {
  switch (PathNr) {
    case 1:
    case 16:
    case 17:
      return 1;
    case 2:
    case 3:
    case 4:
    case 5:
    case 6:
    case 7:
      return vb::AddLong(vb::CLng(att / 10), 1);  // 10 dB steps
    case 9:
    case 11:
    case 13:
    case 14:
    case 15:
    case 23:
    case 24:
      return vb::AddLong(vb::CLng(att), 1);  // 1 dB steps
    default:
      return 0;
  }
}

vb::Long clsQuorvelUnit::GetPathNr(const AttTableProp& prop) {
  const QuorvelPort from = prop.FromPort, to = prop.ToPort;
  if (from <= 8) {
    switch (to) {
      case pReceiver: return prop.Rx18 ? 1 : (prop.Sum ? 3 : 2);
      case pGenerator: return prop.Sum ? 5 : 4;
      case pVectorGenerator: return prop.Sum ? 7 : 6;
      case pCompanion: return (prop.Sum && from == pDUT4) ? 15 : 14;
      default: return 0;
    }
  }
  if (from == pCompanion && prop.ByPass) {
    switch (to) {
      case pGenerator: return 9;
      case pVectorGenerator: return 11;
      case pReceiver: return 13;
      default: return 0;
    }
  }
  if ((from == pGenerator || from == pVectorGenerator) && to == pAntenna) return 16;
  return 0;
}

void clsQuorvelUnit::RoundAttenuatorStep(AttTableProp& prop) {
  vb::Long step = zentrix8::kPathStep;
  if (prop.ToPort == pReceiver) step = prop.Rx18 ? zentrix8::kPathStepReceiverDirect : zentrix8::kPathStepReceiver;
  prop.Attenuator = vb::MulLong(vb::CLng(vb::Int(static_cast<double>(prop.Attenuator) / step)), step);
}
