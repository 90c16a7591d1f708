// The host's device interface: fixed answers, device dialog, test start and stop.
#include <gtest/gtest.h>

#include "Probe.h"

namespace {

using P = clsQuorvelUnitProbe;

TEST(HostDevice, FixedAnswers) {
  DriverFixture fx;
  host::clsDevice& d = fx.unit->Device();
  EXPECT_EQ(&d, static_cast<host::clsDevice*>(fx.unit.get()));
  EXPECT_EQ(d.clsDevice_Address(), 0);
  EXPECT_EQ(d.clsDevice_GetInterfaces("anything"), std::vector<vb::Long>{60});
  EXPECT_EQ(d.clsDevice_GetInterfaces(""), std::vector<vb::Long>{60});
  std::shared_ptr<host::ISettings> file;
  EXPECT_EQ(d.clsDevice_GetSettingsString(file, "x"), "");
  d.clsDevice_WriteSettingsFile(file, "x");
  d.clsDevice_ReadSettingsFile(file, "x");
  EXPECT_TRUE(fx.host->settingWrites.empty());
  d.clsDevice_StartTest();
  EXPECT_EQ(fx.host->TraceStatuses("clsDevice_StartTest"), (std::vector<std::string>{"start", "end"}));
}

TEST(HostDevice, AFirstDialogOfTypeZeroOpensNoFormAndHandsAnEmptyTabList) {
  DriverFixture fx;
  fx.AddDevice("Z1");
  fx.unit->clsDevice_Name("Z1");
  fx.host->settings["Z1|Logging Option"] = "1";
  auto settings = fx.host->CreateSettings(1, 10, "dummy", 0, 0);
  if (!clsQuorvelUnit::TabList().empty()) GTEST_SKIP() << "another test showed a service dialog first";
  fx.unit->clsDevice_ShowDeviceDialog(0, settings, "");
  EXPECT_EQ(fx.unit->TestForm(), nullptr);
  auto& dialog = *fx.host->dialogs["Z1"];
  ASSERT_EQ(dialog.tabs.size(), 1u);
  EXPECT_TRUE(dialog.tabs[0].empty());
  EXPECT_EQ(dialog.contexts, std::vector<long>{4108});
  EXPECT_EQ(dialog.shownTypes, std::vector<long>{0});
  EXPECT_EQ(P::LogOption(*fx.unit), 1);  // read, then written back
  ASSERT_EQ(fx.host->settingWrites.size(), 1u);
  EXPECT_EQ(fx.host->settingWrites[0].value, "1");
  EXPECT_TRUE(P::HasSettingsObject(*fx.unit));  // kept until the next naming
}

TEST(HostDevice, TheServiceDialogHandsThreePagesToTheHost) {
  DriverFixture fx;
  fx.AddDevice("Z1");
  fx.unit->clsDevice_Name("Z1");
  fx.unit->clsDevice_ShowDeviceDialog(4, nullptr, "ignored");
  auto* form = dynamic_cast<HeadlessServiceForm*>(fx.unit->TestForm());
  ASSERT_NE(form, nullptr);
  EXPECT_EQ(form->Driver(), fx.unit.get());
  EXPECT_EQ(form->HelpContextID(), 4108);
  EXPECT_EQ(P::DialogType(*fx.unit), 4);
  auto& dialog = *fx.host->dialogs["Z1"];
  ASSERT_EQ(dialog.tabs.size(), 1u);
  const auto& tabs = dialog.tabs[0];
  ASSERT_EQ(tabs.size(), 3u);
  EXPECT_EQ(tabs[0].Caption, "Power Measurement");
  EXPECT_EQ(tabs[0].Handle, form->FrameHandle(ServiceFrame::fraTest));
  EXPECT_EQ(tabs[1].Caption, "Burstsearch");
  EXPECT_EQ(tabs[1].Handle, form->FrameHandle(ServiceFrame::fraBurstsearch));
  EXPECT_EQ(tabs[2].Caption, "Firmware Update");
  EXPECT_EQ(tabs[2].Handle, form->FrameHandle(ServiceFrame::fraFWUpdate));
  EXPECT_EQ(dialog.captions, std::vector<std::string>{"Power Measurement"});
  EXPECT_EQ(dialog.shownTypes, std::vector<long>{4});

  // The list is shared: another driver's dialog of type 0 hands over the same pages.
  DriverFixture other;
  other.AddDevice("Z2");
  other.unit->clsDevice_Name("Z2");
  other.unit->clsDevice_ShowDeviceDialog(0, other.host->CreateSettings(1, 10, "dummy", 0, 0), "");
  EXPECT_EQ(other.host->dialogs["Z2"]->tabs[0].size(), 3u);
}

TEST(HostDevice, NewParameterRefreshesUntilTheDriverIsGone) {
  DriverFixture fx;
  fx.AddDevice("Z1");
  fx.unit->clsDevice_Name("Z1");
  fx.unit->clsDevice_ShowDeviceDialog(2, nullptr, "");
  auto dialog = fx.host->dialogs["Z1"];
  fx.host->devices["Z1"].description = "renamed";
  dialog->newParameter.Raise();
  EXPECT_EQ(fx.unit->clsDevice_Description(), "renamed");
  fx.host->devices.clear();
  dialog->newParameter.Raise();  // failing look-ups are ignored
  EXPECT_EQ(fx.unit->clsDevice_Description(), "renamed");
  EXPECT_EQ(dialog->newParameter.HandlerCount(), 1u);
  fx.unit.reset();
  EXPECT_EQ(dialog->newParameter.HandlerCount(), 0u);
  dialog->newParameter.Raise();  // nothing left to call
}

TEST(HostDevice, DialogErrorsCarryTheDevicePrefix) {
  DriverFixture fx;
  fx.AddDevice("Z1");
  fx.unit->clsDevice_Name("Z1");
  fx.host->devices.clear();  // DeviceDialog still works, the text service is gone
  auto services = fx.host->services();
  services.text = nullptr;
  clsQuorvelUnit u(services, fx.platform.services());
  fx.AddDevice("Z1");
  u.clsDevice_Name("Z1");
  try {
    u.clsDevice_ShowDeviceDialog(4, nullptr, "");
    FAIL();
  } catch (const vb::Error& e) {
    EXPECT_EQ(e.Number(), vb::err::ObjectNotSet);
    EXPECT_EQ(e.Description(), "QuorvelUnit-Z1: Object variable or With block variable not set");
  }
}

TEST(HostDevice, StopTestResetsOnlyAConnectedUnit) {
  ConnectedDriver sim(false);
  P::Port(*sim.unit, 1).MeasTime = 0.5;
  sim.unit->clsDevice_StopTest();
  EXPECT_EQ(sim.unit->StoredPortSettings(1).MeasTime, 0.5);
  EXPECT_TRUE(sim.visa->Writes().empty());

  ConnectedDriver fx;
  fx.visa->Expect(":ABORT").Expect("*CLS;*RST;*OPC");
  P::Port(*fx.unit, 1).MeasTime = 0.5;
  fx.unit->clsDevice_StopTest();
  EXPECT_EQ(fx.unit->StoredPortSettings(1).MeasTime, 0);
  EXPECT_EQ(fx.visa->Problems(), "");
}

TEST(HostDevice, DestroyingAConnectedDriverClosesTheSession) {
  ConnectedDriver fx;
  EXPECT_TRUE(fx.visa->IsOpen());
  fx.unit.reset();
  EXPECT_FALSE(fx.visa->IsOpen());
}

}  // namespace
