// Both test programs: every case runs with this process's diagnostic output captured
// from its start, and a failed case shows what the library said.
#include <gtest/gtest.h>

#include <cstdio>

#include "DebugCapture.h"

namespace {
class CaptureEachCase : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo&) override {
        DebugCapture::Clear();
        DebugCapture::Start();
    }
    void OnTestEnd(const ::testing::TestInfo& info) override {
        DebugCapture::Stop();
        if (!info.result()->Failed()) return;
        // The library's lines; Google Test sends its own failure reports there too.
        for (const std::string& line : DebugCapture::Lines())
            if (line != "\n" && line.find(": Failure\n") == std::string::npos) printf("debug: %s\n", line.c_str());
    }
};
}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::UnitTest::GetInstance()->listeners().Append(new CaptureEachCase);
    return RUN_ALL_TESTS();
}
