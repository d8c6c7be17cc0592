// Captures what the diagnostics channel writes to standard output.
#pragma once

#include "foundation/Diagnostics.h"

#include <gtest/gtest.h>

#include <string>

namespace pelorus::test {

class DiagnosticsCapture {
public:
    DiagnosticsCapture()
    {
        MAIL::setDiagnosticsEnabled(true);
        testing::internal::CaptureStdout();
    }
    ~DiagnosticsCapture()
    {
        if (!taken_)
            testing::internal::GetCapturedStdout();
        MAIL::setDiagnosticsEnabled(false);
    }
    std::string take()
    {
        taken_ = true;
        return testing::internal::GetCapturedStdout();
    }

private:
    bool taken_ = false;
};

} // namespace pelorus::test
