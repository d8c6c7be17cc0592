#include "foundation/UserFolders.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

using pelorus::test::ScopedEnv;

TEST(UserFolders, XdgVariablesCountOnlyWhenAbsolute)
{
    ScopedEnv home("HOME", "/home/user");
    {
        ScopedEnv config("XDG_CONFIG_HOME", "/elsewhere/config");
        ScopedEnv state("XDG_STATE_HOME", "relative/state");
        ScopedEnv cache("XDG_CACHE_HOME", "");
        ScopedEnv runtime("XDG_RUNTIME_DIR", std::nullopt);
        EXPECT_EQ(MAIL::configFolder(), "/elsewhere/config");
        EXPECT_EQ(MAIL::applicationConfigFolder(), "/elsewhere/config/Pelorus");
        EXPECT_EQ(MAIL::stateFolder(), "/home/user/.local/state");
        EXPECT_EQ(MAIL::cacheFolder(), "/home/user/.cache");
        EXPECT_EQ(MAIL::runtimeFolder(), "");
    }
    ScopedEnv runtime("XDG_RUNTIME_DIR", "/run/user/1000");
    EXPECT_EQ(MAIL::runtimeFolder(), "/run/user/1000");
}

TEST(UserFolders, RelativeHomeFallsBackToThePasswordDatabase)
{
    ScopedEnv home("HOME", "not/absolute");
    const std::string found = MAIL::homeFolder();
    EXPECT_TRUE(found.empty() || found.front() == '/') << found;
    EXPECT_NE(found, "not/absolute");
}
