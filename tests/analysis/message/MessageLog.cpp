#include "MessageLog.h"

#include "config/LogWriter.h"
#include "config/ProxyConfiguration.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <memory>

namespace pelorus::test {

namespace {

// Settings with Level 3 and a log folder of its own, made before anything
// asks for the shared writer (which reads them once).
class MessageLogEnvironment : public testing::Environment {
public:
    void SetUp() override
    {
        dir_ = std::make_unique<TempDir>();
        config_ = std::make_unique<ScopedEnv>("XDG_CONFIG_HOME", dir_->path());
        MAIL::ProxyConfiguration settings;
        settings.setDWORD(MAIL::ProxyConfiguration::LogKey, "Level", 3);
        settings.setString(MAIL::ProxyConfiguration::LogKey, "Dir", (*dir_ / "log").c_str());
        MAIL::LogWriter* writer = MAIL::getLogWriter();
        ASSERT_NE(writer, nullptr);
        ASSERT_EQ(writer->getLevel(), 3);
        path = writer->getPath();
    }
    void TearDown() override
    {
        config_.reset();
        dir_.reset();
    }

    static inline std::string path;

private:
    std::unique_ptr<TempDir> dir_;
    std::unique_ptr<ScopedEnv> config_;
};

[[maybe_unused]] testing::Environment* const environment =
    testing::AddGlobalTestEnvironment(new MessageLogEnvironment);

} // namespace

std::string messageLog() { return readFile(MessageLogEnvironment::path); }

void clearMessageLog() { writeFile(MessageLogEnvironment::path, ""); }

} // namespace pelorus::test
