// The agents' state shared with programs of either architecture: zoractl sets and shows
// the processor level, the firmware's features and the graphics policies; GRAVO.exe
// switches the display's power saving; the control object registered for the other
// architecture by its regsvr32.
#include <gtest/gtest.h>

#include <string>

#include "CpuAgent.h"
#include "DebugCapture.h"
#include "EcAgent.h"
#include "GravoAgent.h"
#include "LanAgent.h"
#include "MachineSupport.h"

namespace {

// zoractl of the other architecture where this machine runs it: its output, and its
// exit code in *code.
std::string Zoractl(const wchar_t* arguments, int* code) {
    std::string output;
    *code = test::Run(test::ProgramPath(test::PeerArch(), L"zoractl.exe"), arguments, &output);
    return output;
}

using AgentProcessTest = test::MachineCase;

TEST_F(AgentProcessTest, ProcessorLevelSetByTheOtherArchitectureIsSeenHere) {
    int code = -1;
    std::string output = Zoractl(L"cpu set 60", &code);
    ASSERT_EQ(0, code) << output;
    EXPECT_EQ("66", test::Field(output, "level"));
    EXPECT_EQ(0x081Au, test::Number(test::MachineValue(L"Processor0", L"PerfCtl")));
    CCpuAgent agent;
    ASSERT_EQ(1, agent.Initialize());
    EXPECT_EQ(66, agent.GetEblLevel());
    EXPECT_EQ(31, agent.SetEblLevel(30));
    EXPECT_EQ("31", test::Field(Zoractl(L"cpu show", &code), "level"));
    EXPECT_EQ(0, code);
    for (const wchar_t* refused : {L"cpu set 0", L"cpu"}) {
        output = Zoractl(refused, &code);
        EXPECT_EQ(1, code) << output;
    }
    EXPECT_NE(std::string::npos, output.find("usage: zoractl cpu"));
    EXPECT_EQ(31, agent.GetEblLevel()) << "refused commands change nothing";
}

TEST_F(AgentProcessTest, FirmwareStateIsSharedWithTheOtherArchitecture) {
    CEcAgent agent;
    ASSERT_EQ(0, agent.Setup());
    EXPECT_EQ(4u, agent.SetBacklightLevel(4));
    EXPECT_EQ(0u, agent.SetBloothStatus(0));
    int code = -1;
    std::string output = Zoractl(L"ec show", &code);
    ASSERT_EQ(0, code) << output;
    const char* shown[][2] = {
        {"backlight", "4"}, {"wifi", "0"}, {"bluetooth", "0"}, {"display", "1"}, {"field2", "0x12C0"}};
    for (auto& field : shown) EXPECT_EQ(field[1], test::Field(output, field[0])) << field[0];

    EXPECT_EQ("7", test::Field(Zoractl(L"ec backlight 7", &code), "reply"));
    for (const wchar_t* command : {L"ec wifi 1", L"ec display", L"ec battery-row 0 0x99"}) {
        output = Zoractl(command, &code);
        ASSERT_EQ(0, code) << output;
    }
    EXPECT_EQ(7u, agent.GetBacklightLevel());
    EXPECT_EQ(1u, agent.GetWifiStatus());
    EXPECT_EQ(2u, agent.GetCurrentDisplayMode());
    _BATTERY_EXTEND_FIELDS fields{};
    ASSERT_EQ(0, agent.GetBatteryExtends(&fields, 15));
    EXPECT_EQ(0x99C0u, fields.Field2);

    for (const wchar_t* refused : {L"ec wifi 2", L"ec battery-row 12 1", L"ec"}) {
        output = Zoractl(refused, &code);
        EXPECT_EQ(1, code) << output;
    }
    EXPECT_NE(std::string::npos, output.find("usage: zoractl ec"));
    EXPECT_EQ(1u, agent.GetWifiStatus()) << "refused commands change nothing";
}

// Without the driver the other architecture's tool fails too, and changes nothing.
TEST_F(AgentProcessTest, WithoutTheDriverTheToolFailsAndTouchesNothing) {
    test::SetMachineValue(L"Driver", L"Installed", L"0");
    for (const wchar_t* command : {L"cpu set 60", L"ec backlight 2"}) {
        int code = -1;
        std::string output = Zoractl(command, &code);
        EXPECT_EQ(1, code) << output;
    }
    EXPECT_EQ(0x0C29u, test::Number(test::MachineValue(L"Processor0", L"PerfCtl")));
    EXPECT_EQ(8u, test::Number(test::MachineValue(L"EmbeddedController", L"Backlight")));
}

class GravoProcessTest : public test::GraphicsCase {
protected:
    static int Gravo(const wchar_t* arch, const wchar_t* arguments, std::string* output = nullptr) {
        return test::Run(test::ProgramPath(arch, L"GRAVO.exe"), arguments, output);
    }
};

TEST_F(GravoProcessTest, HelperSwitchesDisplayPowerSaving) {
    SetGraphics({{L"VXFG.Enabled", L"1"}});
    ASSERT_EQ(0, test::RegisterOtherArchPanel());
    for (const wchar_t* arch : {test::OwnArch(), test::PeerArch()}) {
        SCOPED_TRACE(test::Narrow(arch));
        std::string output;
        EXPECT_EQ(0, Gravo(arch, L"30", &output)) << output;
        EXPECT_EQ(L"1", Graphics(L"VXPS.Enabled"));
        EXPECT_EQ(L"30", Graphics(L"VXPS.Strength"));
        EXPECT_EQ(L"1", Graphics(L"VXFG.Enabled")) << "the other policies keep their state";
        EXPECT_EQ(0, Gravo(arch, L"0", &output)) << output;
        EXPECT_EQ(L"0", Graphics(L"VXPS.Enabled"));
        EXPECT_EQ(L"0", Graphics(L"VXPS.Strength"));
        EXPECT_EQ(L"0", Graphics(L"Clients"));
    }
}

// Exit 1 for a bad argument, 2 when the object cannot be opened, 3 when the saving is
// not supported, 4 when it is locked.
TEST_F(GravoProcessTest, HelperExitStatus) {
    const struct {
        const wchar_t *arguments, *key, *value;
        int exitCode;
    } cases[] = {
        {L"", nullptr, nullptr, 1},        {L"abc", nullptr, nullptr, 1},      {L"-1", nullptr, nullptr, 1},
        {L"1048576", nullptr, nullptr, 1}, {L"3 4", nullptr, nullptr, 1},      {L"0x10", nullptr, nullptr, 1},
        {L"5", L"OpenError", L"20", 2},    {L"5", L"Capabilities", L"0x5", 3}, {L"5", L"LockedPolicies", L"0x2", 4}};
    for (size_t i = 0; i < ARRAYSIZE(cases); ++i) {
        test::FreshMachine machine;
        if (cases[i].key) SetGraphics({{cases[i].key, cases[i].value}});
        EXPECT_EQ(cases[i].exitCode, Gravo(test::OwnArch(), cases[i].arguments)) << "case " << i;
        EXPECT_EQ(L"0", Graphics(L"VXPS.Enabled")) << "case " << i;
        EXPECT_EQ(L"0", Graphics(L"Clients")) << "case " << i;
    }
}

TEST_F(GravoProcessTest, ZoractlSetsAndShowsThePolicies) {
    ASSERT_EQ(0, test::RegisterOtherArchPanel());
    int code = -1;
    std::string output = Zoractl(L"gfx saving 12", &code);
    EXPECT_EQ(0, code) << output;
    EXPECT_EQ(L"12", Graphics(L"VXPS.Strength"));
    output = Zoractl(L"gfx frequency on", &code);
    EXPECT_EQ(0, code) << output;
    EXPECT_EQ(L"1", Graphics(L"VXFG.Enabled"));
    EXPECT_EQ(L"12", Graphics(L"VXPS.Strength"));
    output = Zoractl(L"gfx show", &code);
    EXPECT_EQ(0, code) << output;
    EXPECT_NE(std::string::npos, output.find("0x4400000C")) << output;
    Zoractl(L"gfx saving many", &code);
    EXPECT_EQ(1, code);
}

TEST_F(GravoProcessTest, UnregisteredObjectFailsCleanly) {
    ASSERT_EQ(S_OK, test::RegisterPanel(true));
    CGravoAgent agent;
    long hr = agent.Setup();
    std::string output;
    int helper = Gravo(test::OwnArch(), L"5", &output);
    EXPECT_EQ(S_OK, test::RegisterPanel());
    EXPECT_LT(hr, 0);
    EXPECT_TRUE(DebugCapture::Contains("COM not init or Vidorra driver not installed [")) << std::hex << hr;
    EXPECT_EQ(0xFFFFFFFFul, agent.GetEblLevel());
    EXPECT_EQ(2, helper) << output;
    EXPECT_EQ(L"0", Graphics(L"VXPS.Enabled"));
}

// The adapter's power saving as zoractl of each architecture sets and shows it, with
// the provider registered for that architecture (by its own regsvr32 for the other).
class LanProcessTest : public test::ArchCase {
protected:
    test::FreshMachine m_machine;
};

TEST_P(LanProcessTest, PowerSavingSharedWithZoractl) {
    ASSERT_TRUE(m_machine.Ok());
    if (wcscmp(GetParam(), test::OwnArch()) == 0)
        ASSERT_EQ(S_OK, test::RegisterServer(test::kWmiServer));
    else
        ASSERT_EQ(0, test::RegisterOtherArchServer(test::kWmiServer));
    const std::wstring zoractl = test::ProgramPath(GetParam(), L"zoractl.exe");
    std::string output;
    ASSERT_EQ(0, test::Run(zoractl, L"lan level 0x15", &output)) << output;
    EXPECT_EQ("0x15", test::Field(output, "level"));
    EXPECT_EQ(L"1,0,2,0,1,0,0,0", test::MachineValue(L"DovnetWmi", L"Adapter0.Values"));
    CLanAgent agent;
    ASSERT_EQ(1, agent.Initialize());
    EXPECT_EQ(0x15ul, agent.GetEblLevel());
    EXPECT_EQ(0x8Aul, agent.SetEblLevel(0x8A));
    EXPECT_EQ(0, test::Run(zoractl, L"lan show", &output)) << output;
    EXPECT_EQ("0xFF", test::Field(output, "supported"));
    EXPECT_EQ("0x8A", test::Field(output, "level"));
    for (const wchar_t* refused : {L"lan level 0x100", L"lan level many"}) {
        EXPECT_EQ(1, test::Run(zoractl, refused, &output)) << output;
        EXPECT_NE(std::string::npos, output.find("usage: zoractl lan")) << output;
    }
    EXPECT_EQ(0x8Aul, agent.GetEblLevel()) << "refused commands change nothing";
}
ZORA_FOR_BOTH_ARCHS(Lan, LanProcessTest);

}  // namespace
