#include "shell/desktop/DisplayChoice.h"

#include "foundation/VisibleText.h"
#include "shell/Program.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonObject>
#include <QLibraryInfo>
#include <QPluginLoader>
#include <QStringList>

#include <cstdlib>

namespace MAIL {

namespace {

// A plugin folder is the user's; a huge one is not read to its end.
constexpr int PluginFilesLimit = 256;

std::string variable(const char* name)
{
    const char* value = std::getenv(name);
    return value == nullptr ? std::string() : std::string(value);
}

bool isWayland(const QString& platform) { return platform.startsWith(QLatin1String("wayland"), Qt::CaseInsensitive); }

bool isX11(const QString& platform) { return platform.compare(QLatin1String("xcb"), Qt::CaseInsensitive) == 0; }

// Where Qt looks for platform plugins: its own folder, those of
// QT_PLUGIN_PATH, and QT_QPA_PLATFORM_PLUGIN_PATH.
QStringList pluginFolders()
{
    QStringList folders{QLibraryInfo::path(QLibraryInfo::PluginsPath) + QLatin1String("/platforms")};
    for (const QString& path : qEnvironmentVariable("QT_PLUGIN_PATH").split(QLatin1Char(':'), Qt::SkipEmptyParts))
        folders << path + QLatin1String("/platforms");
    if (const QString own = qEnvironmentVariable("QT_QPA_PLATFORM_PLUGIN_PATH"); !own.isEmpty())
        folders << own;
    return folders;
}

bool pluginHasKey(const QString& file, const QString& key)
{
    const QJsonObject meta = QPluginLoader(file).metaData();
    if (!meta.value(QLatin1String("IID")).toString().contains(QLatin1String("QPlatformIntegrationFactoryInterface")))
        return false;
    const QJsonArray keys = meta.value(QLatin1String("MetaData")).toObject().value(QLatin1String("Keys")).toArray();
    for (const QJsonValue& k : keys)
        if (k.toString().compare(key, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

bool waylandUsable(const std::string& display, const QString& platform)
{
    return waylandDisplayReachable(display) && platformPluginInstalled(platform);
}

// Whether one platform the user named can start here.
bool platformUsable(const QString& platform, const std::string& x11, const std::string& wayland)
{
    if (isX11(platform))
        return !x11.empty() && xDisplayReachable(x11);
    if (isWayland(platform))
        return waylandUsable(wayland, platform);
    return platformPluginInstalled(platform);
}

std::string xRefusal(const std::string& display)
{
    return "Pelorus: the X display " + visibleText(display, false) + " does not answer; running in this terminal.";
}

std::string waylandRefusal(const std::string& display)
{
    return "Pelorus: the Wayland display " + visibleText(display.empty() ? "wayland-0" : display, false) +
           " does not answer, or qt6-wayland is missing; running in this terminal.";
}

} // namespace

bool platformPluginInstalled(const QString& key)
{
    if (key.isEmpty())
        return false;
    for (const QString& folder : pluginFolders()) {
        const QFileInfoList files = QDir(folder).entryInfoList(QDir::Files | QDir::Readable, QDir::Name);
        for (qsizetype i = 0; i < files.size() && i < PluginFilesLimit; ++i)
            if (pluginHasKey(files[i].absoluteFilePath(), key))
                return true;
    }
    return false;
}

std::optional<std::string> desktopRefusal()
{
    const std::string x11 = variable("DISPLAY");
    const std::string wayland = variable("WAYLAND_DISPLAY");
    const QString chosen = qEnvironmentVariable("QT_QPA_PLATFORM").trimmed();
    if (chosen.isEmpty()) {
        if (!x11.empty())
            return xDisplayReachable(x11) ? std::nullopt : std::optional(xRefusal(x11));
        if (!wayland.empty())
            return waylandUsable(wayland, QStringLiteral("wayland")) ? std::nullopt
                                                                     : std::optional(waylandRefusal(wayland));
        return "Pelorus: no display found (neither WAYLAND_DISPLAY nor DISPLAY is set); running in this terminal.";
    }
    QStringList platforms;
    for (const QString& entry : chosen.split(QLatin1Char(';'), Qt::SkipEmptyParts))
        platforms << entry.section(QLatin1Char(':'), 0, 0).trimmed();  // "name:option=value"
    for (const QString& platform : platforms)
        if (platformUsable(platform, x11, wayland))
            return std::nullopt;
    const QString first = platforms.value(0);
    if (isWayland(first))
        return waylandRefusal(wayland);
    if (isX11(first) && !x11.empty())
        return xRefusal(x11);
    return "Pelorus: the Qt platform " + visibleText(chosen.toStdString(), false) +
           " named by QT_QPA_PLATFORM cannot start here; running in this terminal.";
}

void choosePlatform()
{
    if (!qEnvironmentVariable("QT_QPA_PLATFORM").trimmed().isEmpty())
        return;
    if (!qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    else if (!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "wayland");
}

} // namespace MAIL
