#pragma once
// A test case on a fresh default machine, with the library's diagnostic output captured
// from its start: the fixture of the agents' tests.
#include <gtest/gtest.h>

#include "DebugCapture.h"
#include "MachineSupport.h"

namespace test {

class MachineCase : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_machine.Ok());
        DebugCapture::Clear();
        DebugCapture::Start();
    }
    void TearDown() override { DebugCapture::Stop(); }

    FreshMachine m_machine;
};

}  // namespace test
