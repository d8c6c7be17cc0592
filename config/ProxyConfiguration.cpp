#include "config/ProxyConfiguration.h"

#include <algorithm>

namespace MAIL {

bool ProxyConfiguration::getNumber(const char* key, const char* name, std::int32_t& out)
{
    std::uint32_t value = 0;
    if (!getDWORD(key, name, value))
        return false;
    out = static_cast<std::int32_t>(value);
    return true;
}

bool ProxyConfiguration::getPortValue(const char* name, std::uint16_t fallback, std::uint16_t& port)
{
    port = fallback;
    std::uint32_t value = 0;
    if (!getDWORD(SettingKey, name, value))
        return false;
    port = static_cast<std::uint16_t>(value & 0xFFFF);
    return true;
}

bool ProxyConfiguration::getServer(std::string& server)
{
    server = DefaultServer;
    return getString(SettingKey, "Server", server);
}

bool ProxyConfiguration::setServer(const std::string& server)
{
    return setString(SettingKey, "Server", server.c_str());
}

bool ProxyConfiguration::getPort(std::uint16_t& port) { return getPortValue("Port", DefaultPort, port); }

bool ProxyConfiguration::setPort(std::uint16_t port) { return setDWORD(SettingKey, "Port", port); }

bool ProxyConfiguration::getAllowed(std::string& allowed)
{
    allowed.clear();
    return getString(SettingKey, "Allowed", allowed);
}

bool ProxyConfiguration::setAllowed(const std::string& allowed)
{
    return setString(SettingKey, "Allowed", allowed.c_str());
}

bool ProxyConfiguration::getDialogTimeout(std::int32_t& timeout)
{
    timeout = DefaultDialogTimeout;
    const bool found = getNumber(SettingKey, "DialogTimeout", timeout);
    if (timeout <= 10)
        timeout = DefaultDialogTimeout;
    return found;
}

bool ProxyConfiguration::getProxyPort(std::uint16_t& port)
{
    return getPortValue("ProxyPort", DefaultProxyPort, port);
}

bool ProxyConfiguration::setProxyPort(std::uint16_t port) { return setDWORD(SettingKey, "ProxyPort", port); }

bool ProxyConfiguration::getListenAddress(std::string& address)
{
    address = DefaultListenAddress;
    return getString(SettingKey, "ListenAddress", address);
}

bool ProxyConfiguration::setListenAddress(const std::string& address)
{
    return setString(SettingKey, "ListenAddress", address.c_str());
}

bool ProxyConfiguration::getSwitch(const char* name, bool& on, bool fallback)
{
    on = fallback;
    std::uint32_t value = 0;
    const bool found = getDWORD(SettingKey, name, value);
    if (found)
        on = value != 0;
    return found;
}

bool ProxyConfiguration::getDecisionLog(bool& keep) { return getSwitch("DecisionLog", keep); }

bool ProxyConfiguration::setDecisionLog(bool keep) { return setDWORD(SettingKey, "DecisionLog", keep ? 1 : 0); }

bool ProxyConfiguration::getCapped(const char* name, std::uint32_t maximum, std::int32_t& out)
{
    std::uint32_t value = 0;
    const bool found = getDWORD(SettingKey, name, value);
    out = static_cast<std::int32_t>(std::min(value, maximum));
    return found;
}

bool ProxyConfiguration::getMaxRecipients(std::int32_t& limit)
{
    return getCapped("MaxRecipients", MaximumRecipientLimit, limit);
}

bool ProxyConfiguration::setMaxRecipients(std::int32_t limit)
{
    return setDWORD(SettingKey, "MaxRecipients", static_cast<std::uint32_t>(limit));
}

bool ProxyConfiguration::getFlagNewRecipients(bool& flag) { return getSwitch("FlagNewRecipients", flag); }

bool ProxyConfiguration::setFlagNewRecipients(bool flag)
{
    return setDWORD(SettingKey, "FlagNewRecipients", flag ? 1 : 0);
}

bool ProxyConfiguration::getConfirmEachRecipient(bool& each)
{
    return getSwitch("ConfirmEachRecipient", each, false);
}

bool ProxyConfiguration::setConfirmEachRecipient(bool each)
{
    return setDWORD(SettingKey, "ConfirmEachRecipient", each ? 1 : 0);
}

bool ProxyConfiguration::getSendDelay(std::int32_t& seconds) { return getCapped("SendDelay", MaximumSendDelay, seconds); }

bool ProxyConfiguration::setSendDelay(std::int32_t seconds)
{
    return setDWORD(SettingKey, "SendDelay", static_cast<std::uint32_t>(seconds));
}

bool ProxyConfiguration::getHoldTrusted(bool& hold) { return getSwitch("HoldTrusted", hold); }

bool ProxyConfiguration::setHoldTrusted(bool hold) { return setDWORD(SettingKey, "HoldTrusted", hold ? 1 : 0); }

bool ProxyConfiguration::getLogDirectory(std::string& directory) { return getString(LogKey, "Dir", directory); }

bool ProxyConfiguration::getLogFileName(std::string& fileName) { return getString(LogKey, "FileName", fileName); }

bool ProxyConfiguration::getLogLevel(std::int32_t& level) { return getNumber(LogKey, "Level", level); }

bool ProxyConfiguration::getRotationNumber(std::int32_t& number)
{
    return getNumber(LogKey, "RotationNumber", number);
}

bool ProxyConfiguration::getRotationFileSize(std::int32_t& kibibytes)
{
    return getNumber(LogKey, "RotationFileSize", kibibytes);
}

bool ProxyConfiguration::getConsole(bool& console)
{
    std::string text = "false";
    const bool found = getString(LogKey, "Console", text);
    console = text == "true";
    return found;
}

} // namespace MAIL
