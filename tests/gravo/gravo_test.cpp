// The graphics agent against the virtual notebook's display driver object, reached
// through COM by its ProgID; GRAVO.exe and zoractl as separate processes.
#include <objbase.h>

#include "GravoAgent.h"
#include "GravoTestSupport.h"
#include "ZoraPanelBridge.h"

namespace {
using test::Graphics;
using test::GraphicsNumber;
using test::SetGraphics;

class GravoAgentTest : public test::GravoTest {};

TEST_F(GravoAgentTest, LevelBitsWriteThePolicies) {
    struct Case {
        unsigned long level;
        const wchar_t *vxfg, *field1, *field2, *vxps, *strength;
    } cases[] = {
        {0x44000032, L"1", L"0", L"0", L"1", L"50"},
        {0x30000000, L"0", L"1", L"1", L"0", L"0"},
        {0x140FFFFF, L"0", L"1", L"0", L"1", L"1048575"},
        {0x00000000, L"0", L"0", L"0", L"0", L"0"},
    };
    CGravoAgent agent;
    ASSERT_EQ(0, agent.Setup());
    for (size_t i = 0; i < ARRAYSIZE(cases); ++i) {
        const Case& c = cases[i];
        EXPECT_EQ(c.level, agent.SetEblLevel(static_cast<int>(c.level))) << i;
        EXPECT_EQ(c.vxfg, Graphics(L"VXFG.Enabled")) << i;
        EXPECT_EQ(c.field1, Graphics(L"VXAB.Field1")) << i;
        EXPECT_EQ(c.field2, Graphics(L"VXAB.Field2")) << i;
        EXPECT_EQ(c.vxps, Graphics(L"VXPS.Enabled")) << i;
        EXPECT_EQ(c.strength, Graphics(L"VXPS.Strength")) << i;
        EXPECT_EQ(c.level, agent.GetEblLevel()) << i;
    }
}

TEST_F(GravoAgentTest, MachineStateReadsAsLevel) {
    SetGraphics(L"VXFG.Enabled", L"1");
    SetGraphics(L"VXAB.Field2", L"1");
    SetGraphics(L"VXPS.Enabled", L"0");
    SetGraphics(L"VXPS.Strength", L"9");
    CGravoAgent agent;
    ASSERT_EQ(0, agent.Setup());
    EXPECT_EQ(0x60000000ul, agent.GetEblLevel()) << "a disabled saving reports no strength";
    SetGraphics(L"VXPS.Enabled", L"1");
    EXPECT_EQ(0x64000009ul, agent.GetEblLevel());
    EXPECT_EQ(0x7ul, agent.CheckSupportStatus());
}

TEST_F(GravoAgentTest, UnsupportedVxpsKeepsTheOtherPolicies) {
    SetGraphics(L"Capabilities", L"0x5");
    SetGraphics(L"VXFG.Enabled", L"1");
    SetGraphics(L"VXAB.Field1", L"1");
    SetGraphics(L"VXPS.Enabled", L"1");
    CGravoAgent agent;
    ASSERT_EQ(0, agent.Setup());
    EXPECT_EQ(0x5ul, agent.CheckSupportStatus());
    EXPECT_EQ(0x50000000ul, agent.GetEblLevel());
    EXPECT_TRUE(DebugCapture::Contains("Unsupported power policy VXPS!"));
    EXPECT_EQ(0x24000010ul, agent.SetEblLevel(0x24000010)) << "an unsupported VXPS is not a failure";
    EXPECT_EQ(L"0", Graphics(L"VXFG.Enabled"));
    EXPECT_EQ(L"1", Graphics(L"VXAB.Field2"));
    EXPECT_EQ(L"0", Graphics(L"VXPS.Strength")) << "the unsupported policy is left alone";
}

TEST_F(GravoAgentTest, UnsupportedAndLockedAnswers) {
    SetGraphics(L"Capabilities", L"0x2");
    CGravoAgent agent;
    ASSERT_EQ(0, agent.Setup());
    EXPECT_EQ(0x74000003ul, agent.SetEblLevel(0x74000003)) << "VXFG and VXAB failures do not fail";
    EXPECT_TRUE(DebugCapture::Contains("Unsupported power policy VXFG!"));
    EXPECT_TRUE(DebugCapture::Contains("Unsupported power policy VXAB!") ) ;
    EXPECT_EQ(L"3", Graphics(L"VXPS.Strength"));

    DebugCapture::Clear();
    SetGraphics(L"Capabilities", L"0x7");
    SetGraphics(L"LockedPolicies", L"0x1");
    EXPECT_EQ(0x04000003ul, agent.GetEblLevel());
    EXPECT_TRUE(DebugCapture::Contains("GetPowerPolicy Locked! Need release the previous one!"));
    EXPECT_TRUE(DebugCapture::Contains("GetPowerPolicy for VXFG failed"));

    DebugCapture::Clear();
    SetGraphics(L"LockedPolicies", L"0x2");
    EXPECT_EQ(0xFFFFFFFFul, agent.GetEblLevel());
    EXPECT_TRUE(DebugCapture::Contains("GetPowerPolicy for VXPS failed"));
    EXPECT_EQ(0xFFFFFFFFul, agent.SetEblLevel(0x04000001));
    EXPECT_TRUE(DebugCapture::Contains("SetPowerPolicy for VXPS failed"));
    EXPECT_EQ(L"3", Graphics(L"VXPS.Strength"));
}

TEST_F(GravoAgentTest, WrongLevelAndNoSetupChangeNothing) {
    CGravoAgent idle;
    EXPECT_EQ(0xFFFFFFFFul, idle.GetEblLevel());
    EXPECT_EQ(0xFFFFFFFFul, idle.SetEblLevel(0x04000005));
    EXPECT_EQ(0ul, idle.CheckSupportStatus());
    EXPECT_TRUE(DebugCapture::Contains("call setup first."));
    EXPECT_EQ(0, idle.Cleanup());

    CGravoAgent agent;
    ASSERT_EQ(0, agent.Setup());
    EXPECT_EQ(0xFFFFFFFFul, agent.SetEblLevel(-1));
    EXPECT_TRUE(DebugCapture::Contains("Wrong level!"));
    EXPECT_EQ(L"0", Graphics(L"VXPS.Enabled"));
    EXPECT_EQ(L"0", Graphics(L"VXFG.Enabled"));
}

TEST_F(GravoAgentTest, SetupOnceAndHandlesClosed) {
    {
        CGravoAgent agent;
        ASSERT_EQ(0, agent.Setup());
        EXPECT_EQ(0, agent.Setup());
        EXPECT_EQ(1ul, GraphicsNumber(L"Clients")) << "no second object or handle";
        EXPECT_EQ(0, agent.Cleanup());
        EXPECT_EQ(0ul, GraphicsNumber(L"Clients"));
        EXPECT_EQ(0, agent.Setup());
        EXPECT_EQ(1ul, GraphicsNumber(L"Clients"));
    }
    EXPECT_EQ(0ul, GraphicsNumber(L"Clients")) << "destruction closes the handle";
}

TEST_F(GravoAgentTest, OpenRefusals) {
    struct Case {
        const wchar_t* openError;
        long result;
        const char* message;
    } cases[] = {
        {L"19", static_cast<long>(0x80004001), "PowerAPI Not Supported.19"},
        {L"20", static_cast<long>(0x80070005), "PowerAPI Locked.20"},
        {L"5", static_cast<long>(0x80004005), "PowerApiOpen() failed.5"},
    };
    for (size_t i = 0; i < ARRAYSIZE(cases); ++i) {
        DebugCapture::Clear();
        SetGraphics(L"OpenError", cases[i].openError);
        CGravoAgent agent;
        EXPECT_EQ(cases[i].result, agent.Setup()) << i;
        EXPECT_TRUE(DebugCapture::Contains(cases[i].message)) << i;
        EXPECT_EQ(0ul, GraphicsNumber(L"Clients")) << i << ": a locked handle is closed again";
        EXPECT_EQ(0xFFFFFFFFul, agent.GetEblLevel()) << i << ": the agent stays closed";
        SetGraphics(L"OpenError", L"0");
        EXPECT_EQ(0, agent.Setup()) << i << ": a later Setup may succeed";
    }
}

TEST_F(GravoAgentTest, PlaceholderAgents) {
    CDisplayAgent display;
    CEblTuner tuner;
    EXPECT_EQ(0xFFFFFFFFul, display.SetEblLevel(50));
    EXPECT_EQ(0xFFFFFFFFul, display.GetEblLevel());
    EXPECT_EQ(0ul, display.CheckSupportStatus());
    EXPECT_EQ(0ul, tuner.SetEblLevel(50));
    EXPECT_EQ(0ul, tuner.GetEblLevel());
    EXPECT_EQ(0ul, tuner.CheckSupportStatus());
    EXPECT_EQ(1000ul, display.GetVersion());
    EXPECT_EQ(1000ul, tuner.GetVersion());
    EXPECT_EQ(1000ul, CGravoAgent().GetVersion());
}

// The object called as a C caller calls it: by method-table entries 20 to 24.
TEST_F(GravoAgentTest, PowerCallsAtTheirTableEntries) {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    CLSID clsid{};
    ASSERT_EQ(S_OK, CLSIDFromProgID(ZORA_PANEL_PROGID, &clsid));
    EXPECT_TRUE(IsEqualCLSID(CLSID_ZoraPanelBridge, clsid));
    IZoraPanelBridge* bridge = nullptr;
    ASSERT_EQ(S_OK, CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IZoraPanelBridge,
                                     reinterpret_cast<void**>(&bridge)));
    const IZoraPanelBridgeVtbl* table = *reinterpret_cast<IZoraPanelBridgeVtbl* const*>(bridge);
    uint32_t handle = 0, error = 99, caps = 0;
    EXPECT_EQ(S_OK, table->PowerApiOpen(bridge, &handle, &error));
    EXPECT_EQ(0u, error);
    EXPECT_EQ(S_OK, table->GetPowerConsCaps(bridge, handle, &caps, &error));
    EXPECT_EQ(0x7u, caps);
    PanelVxpsPolicy vxps{1, 0, 0, 77, 0};
    EXPECT_EQ(S_OK, table->SetPowerPolicy(bridge, handle, kPanelPolicyVxps, &kPanelPolicyVxpsId, sizeof(vxps), &vxps,
                                          &error));
    EXPECT_EQ(0u, error);
    EXPECT_EQ(L"77", Graphics(L"VXPS.Strength"));
    PanelVxfgPolicy vxfg{};
    EXPECT_EQ(S_OK, table->GetPowerPolicy(bridge, handle, kPanelPolicyVxfg, &kPanelPolicyVxpsId, sizeof(vxfg), &vxfg,
                                          &error));
    EXPECT_EQ(kPanelErrorBadRecord, error) << "identifier of another policy";
    EXPECT_EQ(S_OK, table->GetPowerConsCaps(bridge, handle + 1, &caps, &error));
    EXPECT_EQ(kPanelErrorInvalidHandle, error);
    EXPECT_EQ(S_OK, table->PowerApiClose(bridge, handle, &error));
    EXPECT_EQ(0u, error);
    EXPECT_EQ(0u, table->Release(bridge));
    CoUninitialize();
}

class GravoProcessTest : public test::GravoTest {
protected:
    int Gravo(const wchar_t* arch, const wchar_t* arguments, std::string* output = nullptr) {
        std::wstring program = test::ProgramPath(arch, L"GRAVO.exe");
        EXPECT_FALSE(program.empty());
        return test::Run(program, arguments, output);
    }
};

TEST_F(GravoProcessTest, HelperSwitchesDisplayPowerSaving) {
    SetGraphics(L"VXFG.Enabled", L"1");
    ASSERT_EQ(0, test::RegisterOtherArchPanel());
    for (const wchar_t* arch : {test::OwnArch(), test::PeerArch()}) {
        if (test::ProgramPath(arch, L"GRAVO.exe").empty()) continue;
        std::string output;
        EXPECT_EQ(0, Gravo(arch, L"30", &output)) << output;
        EXPECT_EQ(L"1", Graphics(L"VXPS.Enabled"));
        EXPECT_EQ(L"30", Graphics(L"VXPS.Strength"));
        EXPECT_EQ(L"1", Graphics(L"VXFG.Enabled")) << "the other policies keep their state";
        EXPECT_EQ(0, Gravo(arch, L"0", &output)) << output;
        EXPECT_EQ(L"0", Graphics(L"VXPS.Enabled"));
        EXPECT_EQ(L"0", Graphics(L"VXPS.Strength"));
        EXPECT_EQ(0ul, GraphicsNumber(L"Clients"));
    }
}

TEST_F(GravoProcessTest, HelperExitStatus) {
    const wchar_t* bad[] = {L"", L"abc", L"-1", L"1048576", L"3 4", L"0x10"};
    for (size_t i = 0; i < ARRAYSIZE(bad); ++i) EXPECT_EQ(1, Gravo(test::OwnArch(), bad[i])) << i;
    EXPECT_EQ(L"0", Graphics(L"VXPS.Enabled"));

    SetGraphics(L"OpenError", L"20");
    EXPECT_EQ(2, Gravo(test::OwnArch(), L"5"));
    SetGraphics(L"OpenError", L"0");
    SetGraphics(L"Capabilities", L"0x5");
    EXPECT_EQ(3, Gravo(test::OwnArch(), L"5"));
    SetGraphics(L"Capabilities", L"0x7");
    SetGraphics(L"LockedPolicies", L"0x2");
    EXPECT_EQ(4, Gravo(test::OwnArch(), L"5"));
    EXPECT_EQ(L"0", Graphics(L"VXPS.Enabled"));
    EXPECT_EQ(0ul, GraphicsNumber(L"Clients"));
}

TEST_F(GravoProcessTest, ZoractlSetsAndShowsThePolicies) {
    std::wstring zoractl = test::ProgramPath(test::PeerArch(), L"zoractl.exe");
    if (zoractl.empty()) zoractl = test::ProgramPath(test::OwnArch(), L"zoractl.exe");
    ASSERT_EQ(0, test::RegisterOtherArchPanel());
    std::string output;
    EXPECT_EQ(0, test::Run(zoractl, L"gfx saving 12", &output)) << output;
    EXPECT_EQ(L"12", Graphics(L"VXPS.Strength"));
    EXPECT_EQ(0, test::Run(zoractl, L"gfx frequency on", &output)) << output;
    EXPECT_EQ(L"1", Graphics(L"VXFG.Enabled"));
    EXPECT_EQ(L"12", Graphics(L"VXPS.Strength"));
    EXPECT_EQ(0, test::Run(zoractl, L"gfx show", &output)) << output;
    EXPECT_NE(std::string::npos, output.find("0x4400000C")) << output;
    EXPECT_EQ(1, test::Run(zoractl, L"gfx saving many", &output));
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

}  // namespace
