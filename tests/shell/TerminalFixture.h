// The home the terminal tests run in: settings in a private folder whose
// lists trust corp.example, a terminal type set, and confirmations open
// again after any earlier test that simulated a shut-down.
#pragma once

#include "relay/ConfirmationPresenter.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace pelorus::test {

class TerminalHome : public testing::Test {
protected:
    TempDir home;
    ScopedEnv config{"XDG_CONFIG_HOME", home.path()};
    ScopedEnv term{"TERM", "xterm"};
    void SetUp() override
    {
        std::filesystem::create_directories(home / "Pelorus");
        writeFile(home / "Pelorus/TrustedDomain.pel", "corp.example\n");
        MAIL::reopenConfirmations();
    }
};

} // namespace pelorus::test
