// The embedded controller agent against the virtual notebook's firmware: the features
// it reads and writes, the method requests the driver sees, the battery record's field
// assembly, and the same state seen from a process of the other architecture.
#include <gtest/gtest.h>

#include <string>

#include "DebugCapture.h"
#include "MachineCase.h"
#include "EcAgent.h"
#include "MachineValues.h"
#include "TestSupport.h"
#include "ZoraEblContract.h"

namespace {

constexpr long kFail = static_cast<long>(0x80004005);
constexpr long kNoDriver = static_cast<long>(0x80070006);
constexpr long kNullPointer = static_cast<long>(0x80070057);

unsigned long long Ec(const wchar_t* key) { return test::MachineNumber(L"EmbeddedController", key); }

class EcAgentTest : public test::MachineCase {
protected:

};

TEST_F(EcAgentTest, SetupLoadsTheDefaultCommandsAndLevels) {
    CEcAgent agent;
    EXPECT_EQ(1000u, agent.GetVersion());
    ASSERT_EQ(0, agent.Setup());
    EXPECT_EQ(1, agent.Setup()) << "already open";
    // The tests' ZORACfg.ini has no "GCWCMD" section and no backlight range.
    EXPECT_EQ(8, agent.GetMaxLevels());
    EXPECT_EQ(1, agent.GetMinLevel());
    EXPECT_EQ(8u, agent.GetBacklightLevel());
    EXPECT_EQ("16:47 52 44 49 F8 00 00 00 00 00 00 00 00 00 00 00", test::LastRequest(0));
    EXPECT_EQ(0, agent.Cleanup());
    EXPECT_EQ(0u, agent.GetBacklightLevel()) << "closed again";
}

TEST_F(EcAgentTest, BacklightRoundTrip) {
    CEcAgent agent;
    ASSERT_EQ(0, agent.Setup());
    EXPECT_EQ(5u, agent.SetBacklightLevel(5));
    EXPECT_EQ("16:47 57 52 49 F8 00 00 00 05 00 00 00 00 00 00 00", test::LastRequest(0));
    EXPECT_EQ(5u, Ec(L"Backlight"));
    EXPECT_EQ(5u, agent.GetBacklightLevel());
    EXPECT_EQ(0xFFFFFFFFu, agent.SetBacklightLevel(9)) << "beyond the panel's levels";
    EXPECT_EQ(5u, Ec(L"Backlight")) << "a refused level changes nothing";
}

TEST_F(EcAgentTest, WifiAndBluetoothShareCommand242ByDefault) {
    CEcAgent agent;
    ASSERT_EQ(0, agent.Setup());
    EXPECT_EQ(1u, agent.GetWifiStatus());
    EXPECT_EQ(0u, agent.SetWifiStatus(0));
    EXPECT_EQ("16:47 57 52 49 F2 00 00 00 00 00 00 00 00 00 00 00", test::LastRequest(0));
    EXPECT_EQ(0u, Ec(L"Radio"));
    EXPECT_EQ(0u, agent.GetBluetoothStatus());
    EXPECT_EQ(1u, agent.SetBloothStatus(1));
    EXPECT_EQ("16:47 57 52 49 F2 00 00 00 01 00 00 00 00 00 00 00", test::LastRequest(0));
    EXPECT_EQ(1u, agent.GetWifiStatus());
    EXPECT_EQ(1u, Ec(L"Radio"));
}

TEST_F(EcAgentTest, DisplayModeSwitchesInTurn) {
    CEcAgent agent;
    ASSERT_EQ(0, agent.Setup());
    EXPECT_EQ(1u, agent.GetCurrentDisplayMode());
    const unsigned long expected[] = {2, 3, 1, 2};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(expected[i], agent.SwitchDisplayMode()) << "switch " << i;
        EXPECT_EQ(expected[i], agent.GetCurrentDisplayMode()) << "switch " << i;
    }
    EXPECT_EQ("16:47 52 44 49 F3 00 00 00 00 00 00 00 00 00 00 00", test::LastRequest(0));
    EXPECT_EQ(2u, Ec(L"DisplayMode"));
}

TEST_F(EcAgentTest, StatusCallsReturnStatusCodes) {
    CEcAgent agent;
    unsigned long result = 0x1234;
    EXPECT_EQ(kNullPointer, agent.GeneralRead(0xF8, nullptr)) << "checked before the driver";
    EXPECT_EQ(kNoDriver, agent.GeneralRead(0xF8, &result));
    EXPECT_EQ(kNoDriver, agent.GetStatus(&result));
    EXPECT_EQ(0x1234u, result);
    ASSERT_EQ(0, agent.Setup());
    EXPECT_EQ(0, agent.GetStatus(&result));
    EXPECT_EQ(0xFu, result);
    EXPECT_EQ("16:5F 53 54 41 00 00 00 00 00 00 00 00 00 00 00 00", test::LastRequest(0));
    EXPECT_EQ(0u, agent.SelfTest(7));
    EXPECT_EQ("16:47 44 42 47 00 00 00 00 00 00 00 00 00 00 00 00", test::LastRequest(0)) << "its argument unused";
    EXPECT_EQ(0, agent.GeneralWrite(0xF8, 3, &result));
    EXPECT_EQ(3u, result);
    EXPECT_EQ(0, agent.GeneralRead(0xF8, &result));
    EXPECT_EQ(3u, result);
    EXPECT_EQ(kNullPointer, agent.GeneralWrite(0xF8, 4, nullptr));
    EXPECT_EQ(kNullPointer, agent.ToExecCtrlMethod(kEblMethodStatus, nullptr, 0, 0, 0));
    EXPECT_EQ(3u, Ec(L"Backlight"));
    EXPECT_EQ(kFail, agent.ToExecCtrlMethod(ZoraEblMethodTag("NOPE"), &result, 0, 0, 0));
    EXPECT_TRUE(DebugCapture::Contains("Calling driver function error. 50")) << "the firmware has no such method";
    EXPECT_EQ(3u, result);
    EXPECT_EQ(kFail, agent.GetAudioJackin());
    EXPECT_EQ(kFail, agent.GetBatteryTemp());
    EXPECT_EQ(kFail, agent.GetHotkeyIndex());
}

TEST_F(EcAgentTest, FeaturesBeforeSetupSendNothing) {
    CEcAgent agent;
    EXPECT_EQ(0u, agent.SetBacklightLevel(3));
    EXPECT_EQ(0u, agent.SetWifiStatus(0));
    EXPECT_EQ(0u, agent.GetBluetoothStatus());
    EXPECT_EQ(0u, agent.SwitchDisplayMode());
    _BATTERY_EXTEND_FIELDS fields{};
    EXPECT_EQ(kNoDriver, agent.GetBatteryExtends(&fields, 15));
    EXPECT_EQ("(absent)", test::LastRequest(0));
    EXPECT_EQ(8u, Ec(L"Backlight"));
    EXPECT_EQ(1u, Ec(L"Radio"));
    EXPECT_EQ(1u, Ec(L"DisplayMode"));
}

TEST_F(EcAgentTest, BatteryExtendsAssemblesFieldsFromRowPairs) {
    const unsigned rows[12] = {0x112, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0, 0x1E, 0x01, 0x02, 0x03};
    for (int i = 0; i < 12; ++i)
        ASSERT_TRUE(test::SetMachineNumber(L"BatteryRows", (L"Row" + std::to_wstring(i)).c_str(), rows[i]));
    CEcAgent agent;
    ASSERT_EQ(0, agent.Setup());
    _BATTERY_EXTEND_FIELDS fields{};
    ASSERT_EQ(0, agent.GetBatteryExtends(&fields, 15));
    EXPECT_EQ("16:45 42 54 52 0C 00 00 00 00 00 00 00 0F 00 00 00", test::LastRequest(0));
    EXPECT_EQ(0x5678u, fields.Field1) << "rows 2 and 3";
    EXPECT_EQ(0x1234u, fields.Field2) << "rows 0 and 1, the low byte of each";
    EXPECT_EQ(0x9ABCu, fields.Field3) << "rows 4 and 5";
    EXPECT_EQ(0xDEF0u, fields.Field4) << "rows 6 and 7";
    EXPECT_TRUE(DebugCapture::Contains("BatteryExtRow[0] = 274"));
    EXPECT_TRUE(DebugCapture::Contains("BatteryExtRow[11] = 3"));
    EXPECT_EQ(kNullPointer, agent.GetBatteryExtends(nullptr, 15));
}

TEST_F(EcAgentTest, AnEmptyBatteryRecordIsAFailure) {
    ASSERT_TRUE(test::SetMachineText(L"BatteryRows", L"Present", L"0"));
    CEcAgent agent;
    ASSERT_EQ(0, agent.Setup());
    _BATTERY_EXTEND_FIELDS fields{0xAAAA, 0xBBBB, 0xCCCC, 0xDDDD};
    EXPECT_EQ(kFail, agent.GetBatteryExtends(&fields, 15));
    EXPECT_TRUE(DebugCapture::Contains(
        "Calling driver function ZORA_GCW_BATTERY_METHOD error. Last error 0 ulReturn 0"));
    EXPECT_EQ(0xAAAAu, fields.Field1);
    EXPECT_EQ(0xBBBBu, fields.Field2);
    EXPECT_EQ(0xCCCCu, fields.Field3);
    EXPECT_EQ(0xDDDDu, fields.Field4);
}

TEST_F(EcAgentTest, StateIsSharedWithTheOtherArchitecture) {
    std::wstring zoractl = test::ProgramPath(test::PeerArch(), L"zoractl.exe");
    ASSERT_FALSE(zoractl.empty());
    CEcAgent agent;
    ASSERT_EQ(0, agent.Setup());
    EXPECT_EQ(4u, agent.SetBacklightLevel(4));
    EXPECT_EQ(0u, agent.SetBloothStatus(0));
    std::string output;
    ASSERT_EQ(0, test::Run(zoractl, L"ec show", &output)) << output;
    EXPECT_EQ("4", test::Field(output, "backlight"));
    EXPECT_EQ("0", test::Field(output, "wifi"));
    EXPECT_EQ("0", test::Field(output, "bluetooth"));
    EXPECT_EQ("1", test::Field(output, "display"));
    EXPECT_EQ("0x12C0", test::Field(output, "field2"));

    ASSERT_EQ(0, test::Run(zoractl, L"ec backlight 7", &output)) << output;
    EXPECT_EQ("7", test::Field(output, "reply"));
    ASSERT_EQ(0, test::Run(zoractl, L"ec wifi 1", &output)) << output;
    ASSERT_EQ(0, test::Run(zoractl, L"ec display", &output)) << output;
    ASSERT_EQ(0, test::Run(zoractl, L"ec battery-row 0 0x99", &output)) << output;
    EXPECT_EQ(7u, agent.GetBacklightLevel());
    EXPECT_EQ(1u, agent.GetWifiStatus());
    EXPECT_EQ(2u, agent.GetCurrentDisplayMode());
    _BATTERY_EXTEND_FIELDS fields{};
    ASSERT_EQ(0, agent.GetBatteryExtends(&fields, 15));
    EXPECT_EQ(0x99C0u, fields.Field2);

    EXPECT_EQ(1, test::Run(zoractl, L"ec wifi 2", &output)) << output;
    EXPECT_EQ(1, test::Run(zoractl, L"ec battery-row 12 1", &output)) << output;
    EXPECT_EQ(1, test::Run(zoractl, L"ec", &output));
    EXPECT_NE(std::string::npos, output.find("usage: zoractl ec"));
    EXPECT_EQ(1u, agent.GetWifiStatus()) << "refused commands change nothing";
}

TEST_F(EcAgentTest, WithoutTheDriverEveryCallFailsAndTouchesNothing) {
    ASSERT_TRUE(test::SetMachineText(L"Driver", L"Installed", L"0"));
    CEcAgent agent;
    EXPECT_EQ(kFail, agent.Setup());
    EXPECT_TRUE(DebugCapture::Contains("Open connection with driver failed for 2"));
    EXPECT_EQ(0u, agent.SetBacklightLevel(2));
    EXPECT_EQ(0u, agent.GetWifiStatus());
    unsigned long result = 0;
    EXPECT_EQ(kNoDriver, agent.GeneralWrite(0xF8, 2, &result));
    _BATTERY_EXTEND_FIELDS fields{};
    EXPECT_EQ(kNoDriver, agent.GetBatteryExtends(&fields, 15));
    EXPECT_EQ("(absent)", test::LastRequest(0));
    EXPECT_EQ(8u, Ec(L"Backlight"));
    std::string output;
    EXPECT_EQ(1, test::Run(test::ProgramPath(test::PeerArch(), L"zoractl.exe"), L"ec backlight 2", &output))
        << output;
    EXPECT_EQ(8u, Ec(L"Backlight"));
}

}  // namespace
