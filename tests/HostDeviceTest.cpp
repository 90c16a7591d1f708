// The host's device interface: device dialog, host data refresh, test start and stop.
#include <gtest/gtest.h>

#include "Errors.h"
#include "Probe.h"

namespace {

using P = clsQuorvelUnitProbe;

TEST(HostDevice, TheServiceDialogHandsThreePagesThatLaterDialogsShare) {
  DriverFixture fx;
  fx.AddDevice("Z1");
  fx.unit->clsDevice_Name("Z1");
  fx.unit->clsDevice_ShowDeviceDialog(4, nullptr, "ignored");
  auto* form = dynamic_cast<HeadlessServiceForm*>(fx.unit->TestForm());
  ASSERT_NE(form, nullptr);
  EXPECT_EQ(form->Driver(), fx.unit.get());
  EXPECT_EQ(form->HelpContextID(), 4108);
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
  EXPECT_EQ(dialog.contexts, std::vector<long>{4108});
  EXPECT_EQ(dialog.shownTypes, std::vector<long>{4});

  // Another driver's dialog of type 0: no form, the same pages, the logging option read and written back.
  DriverFixture other;
  other.AddDevice("Z2");
  other.unit->clsDevice_Name("Z2");
  other.host->settings["Z2|Logging Option"] = "1";
  other.unit->clsDevice_ShowDeviceDialog(0, other.host->CreateSettings(1, 10, "dummy", 0, 0), "");
  EXPECT_EQ(other.unit->TestForm(), nullptr);
  auto& second = *other.host->dialogs["Z2"];
  ASSERT_EQ(second.tabs.size(), 1u);
  ASSERT_EQ(second.tabs[0].size(), 3u);
  EXPECT_EQ(second.tabs[0][2].Handle, tabs[2].Handle);
  EXPECT_TRUE(second.captions.empty());
  EXPECT_EQ(second.contexts, std::vector<long>{4108});
  EXPECT_EQ(second.shownTypes, std::vector<long>{0});
  EXPECT_EQ(P::LogOption(*other.unit), 1);
  ASSERT_EQ(other.host->settingWrites.size(), 1u);
  EXPECT_EQ(other.host->settingWrites[0].value, "1");
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
  EXPECT_EQ(dialog->newParameter.HandlerCount(), 0u);  // nothing left to call into a destroyed driver
}

TEST(HostDevice, DialogErrorsCarryTheDevicePrefix) {
  DriverFixture fx;
  auto services = fx.host->services();
  services.text = nullptr;  // the service page's title cannot be looked up
  clsQuorvelUnit u(services, fx.platform.services());
  fx.AddDevice("Z1");
  u.clsDevice_Name("Z1");
  const vb::Error e = CaughtFrom([&] { u.clsDevice_ShowDeviceDialog(4, nullptr, ""); });
  EXPECT_EQ(e.Number(), vb::err::ObjectNotSet);
  EXPECT_EQ(e.Description(), "QuorvelUnit-Z1: Object variable or With block variable not set");
}

TEST(HostDevice, StartTestOnlyTracesAndStopTestResetsOnlyAConnectedUnit) {
  ConnectedDriver sim(false);
  sim.unit->SetMeasTime(0.5, 1);
  sim.unit->clsDevice_StartTest();
  sim.unit->clsDevice_StopTest();
  EXPECT_EQ(sim.host->TraceStatuses("clsDevice_StartTest"), (std::vector<std::string>{"start", "end"}));
  EXPECT_EQ(sim.unit->StoredPortSettings(1).MeasTime, 0.5);  // no reset in simulation
  EXPECT_TRUE(sim.visa->Writes().empty());

  ConnectedDriver fx;
  fx.visa->Expect(":ABORT").Expect("*CLS;*RST;*OPC");
  fx.unit->clsDevice_StopTest();
  EXPECT_EQ(fx.visa->Problems(), "");
}

TEST(HostDevice, DestroyingAConnectedDriverClosesTheSession) {
  ConnectedDriver fx;
  EXPECT_TRUE(fx.visa->IsOpen());
  fx.unit.reset();
  EXPECT_FALSE(fx.visa->IsOpen());
}

}  // namespace
