#include "relay/ServerSecurity.h"

#include "config/ProxyConfiguration.h"
#include "foundation/String.h"
#include "relay/Addresses.h"

#include <atomic>
#include <cstdint>

namespace MAIL {

namespace {

constexpr int DefaultStepMilliseconds = 30 * 1000;
std::atomic<int> stepMilliseconds{DefaultStepMilliseconds};

} // namespace

SecurityMode parseSecurityMode(std::string_view text)
{
    text = trimView(text);
    if (text.empty() || equalsIgnoringCase(text, "none"))
        return SecurityMode::None;
    if (equalsIgnoringCase(text, "starttls"))
        return SecurityMode::StartTls;
    if (equalsIgnoringCase(text, "tls"))
        return SecurityMode::Tls;
    return SecurityMode::Unknown;
}

const char* securityModeName(SecurityMode mode)
{
    switch (mode) {
    case SecurityMode::StartTls:
        return "starttls";
    case SecurityMode::Tls:
        return "tls";
    default:
        return "none";
    }
}

ServerSecurity readServerSecurity(Registry& settings)
{
    ServerSecurity security;
    (void)settings.getString(ProxyConfiguration::SettingKey, SecuritySetting, security.setting);
    security.mode = parseSecurityMode(security.setting);
    (void)settings.getString(ProxyConfiguration::SettingKey, CAFileSetting, security.caFile);
    security.caFile = std::string(trimView(security.caFile));
    std::uint32_t verify = 1;
    if (settings.getDWORD(ProxyConfiguration::SettingKey, VerifyServerSetting, verify))
        security.verify = verify != 0;
    return security;
}

ServerSecurity readServerSecurity()
{
    ProxyConfiguration settings;
    return readServerSecurity(settings);
}

bool storeSecurityMode(Registry& settings, SecurityMode mode)
{
    return settings.setString(ProxyConfiguration::SettingKey, SecuritySetting, securityModeName(mode));
}

bool storeCAFile(Registry& settings, const std::string& path)
{
    return settings.setString(ProxyConfiguration::SettingKey, CAFileSetting, path.c_str());
}

bool storeVerifyServer(Registry& settings, bool verify)
{
    return settings.setDWORD(ProxyConfiguration::SettingKey, VerifyServerSetting, verify ? 1 : 0);
}

int securityStepMilliseconds() { return stepMilliseconds.load(); }

void setSecurityStepMilliseconds(int milliseconds)
{
    stepMilliseconds.store(milliseconds > 0 ? milliseconds : DefaultStepMilliseconds);
}

} // namespace MAIL
