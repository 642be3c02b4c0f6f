#pragma once
// The graphics tests' machine: a fresh virtual notebook per case with the display
// driver's control object registered for this architecture, and its [Graphics] section.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "DebugCapture.h"
#include "MachineCase.h"
#include "TestSupport.h"

namespace test {

// Loads ZoraVnbPanel.dll of this build and calls its registration entry.
HRESULT RegisterPanel(bool unregister = false);
// The other architecture's server, by that architecture's regsvr32 (its own view of
// the classes); the regsvr32 exit code, 0 when that build is missing or cannot run.
int RegisterOtherArchPanel();

// [Graphics] of the tests' machine file.
std::wstring Graphics(const wchar_t* key);
unsigned long GraphicsNumber(const wchar_t* key);
void SetGraphics(const wchar_t* key, const wchar_t* value);

class GravoTest : public MachineCase {
protected:
    static void SetUpTestSuite();
};

}  // namespace test
