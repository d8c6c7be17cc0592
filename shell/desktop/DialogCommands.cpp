#include "shell/desktop/DialogCommands.h"

#include "config/ProxyConfiguration.h"
#include "relay/SMTPProxy.h"
#include "relay/ServerSecurity.h"
#include "shell/ProxyService.h"
#include "shell/desktop/Beep.h"
#include "shell/desktop/DialogSupport.h"
#include "shell/desktop/FiltersDialog.h"
#include "shell/desktop/PropertiesDialog.h"

#include <cerrno>
#include <cstdio>

namespace MAIL {

namespace {

void bringToFront(QWidget* window)
{
    window->show();
    window->raise();
    window->activateWindow();
}

// Why a listener could not be made, when the system says it plainly.
std::string listenerReason(std::uint16_t port)
{
    char text[160] = "";
    const int reason = SMTPProxy::lastSystemError();
    if (reason == EADDRINUSE)
        std::snprintf(text, sizeof text, "\r\n\r\nPort %d is already in use by another program.", port);
    else if (reason == EACCES)
        std::snprintf(text, sizeof text, "\r\n\r\nPort %d needs root privileges on Linux; choose 1024 or above.",
                      port);
    return text;
}

} // namespace

PropertiesCommand::PropertiesCommand(ProxyService& service, QWidget* parent)
    : service_(service), parent_(parent)
{
}

PropertiesCommand::~PropertiesCommand()
{
    delete box_.data();
    delete dialog_.data();
}

PropertiesDialog* PropertiesCommand::dialog() const { return dialog_.data(); }

void PropertiesCommand::open(bool startupForm)
{
    if (open_) {
        beep();
        bringForward();
        return;
    }
    open_ = true;
    startupForm_ = startupForm;
    ProxyConfiguration settings;  // each getter presets its default
    Entered values;
    settings.getServer(values.server);
    settings.getPort(values.port);
    settings.getAllowed(values.allowed);
    settings.getProxyPort(values.proxyPort);
    values.security = readServerSecurity(settings).setting;
    settings.getDecisionLog(values.decisionLog);
    settings.getFlagNewRecipients(values.flagNewRecipients);
    settings.getConfirmEachRecipient(values.confirmEachRecipient);
    settings.getMaxRecipients(values.maxRecipients);
    settings.getSendDelay(values.sendDelay);
    settings.getHoldTrusted(values.holdTrusted);
    storedProxyPort_ = values.proxyPort;
    showDialog(values);
}

void PropertiesCommand::bringForward()
{
    if (box_)
        bringToFront(box_);
    else if (dialog_)
        bringToFront(dialog_);
}

void PropertiesCommand::showDialog(const Entered& values)
{
    auto* dialog = new PropertiesDialog(parent_);
    dialog->setServer(values.server);
    dialog->setPort(values.port);
    dialog->setAllowed(values.allowed);
    dialog->setSecurity(values.security);
    dialog->setProxyPort(values.proxyPort);
    dialog->setDecisionLog(values.decisionLog);
    dialog->setFlagNewRecipients(values.flagNewRecipients);
    dialog->setConfirmEachRecipient(values.confirmEachRecipient);
    dialog->setMaxRecipients(values.maxRecipients);
    dialog->setSendDelay(values.sendDelay);
    dialog->setHoldTrusted(values.holdTrusted);
    dialog_ = dialog;
    connect(dialog, &QDialog::finished, this, &PropertiesCommand::dialogFinished);
    dialog->present();
}

void PropertiesCommand::dialogFinished(int result)
{
    PropertiesDialog* dialog = dialog_;
    dialog_ = nullptr;
    if (dialog == nullptr)
        return;
    const Entered values{dialog->getServer(), dialog->getAllowed(), dialog->getSecurity(), dialog->getPort(),
                         dialog->getProxyPort(), dialog->getDecisionLog(), dialog->getFlagNewRecipients(),
                         dialog->getConfirmEachRecipient(), dialog->getMaxRecipients(), dialog->getSendDelay(),
                         dialog->getHoldTrusted()};
    dialog->deleteLater();
    if (result != QDialog::Accepted) {
        finish(false);
        return;
    }

    ProxyConfiguration settings;
    bool written = settings.setServer(values.server);
    written = settings.setAllowed(values.allowed) && written;
    written = settings.setPort(values.port) && written;
    written = settings.setString(ProxyConfiguration::SettingKey, SecuritySetting, values.security.c_str()) && written;
    written = settings.setProxyPort(values.proxyPort) && written;
    written = settings.setDecisionLog(values.decisionLog) && written;
    written = settings.setFlagNewRecipients(values.flagNewRecipients) && written;
    written = settings.setConfirmEachRecipient(values.confirmEachRecipient) && written;
    written = settings.setMaxRecipients(values.maxRecipients) && written;
    written = settings.setSendDelay(values.sendDelay) && written;
    written = settings.setHoldTrusted(values.holdTrusted) && written;
    if (!written) {
        // The listener stays where it is: the store does not say otherwise.
        const std::string text = "The settings could not be written to " + ProxyConfiguration::settingsFile() +
                                 ".\r\nThe settings were not saved.";
        box_ = showMessageBox(parent_, QMessageBox::Critical, QStringLiteral("Pelorus"), displayText(text),
                              QMessageBox::Ok, [this](QMessageBox::StandardButton) { finish(false); });
        return;
    }
    if (startupForm_ || values.proxyPort == storedProxyPort_) {
        finish(true);
        return;
    }
    try {
        service_.restartListener();  // the old listener serves until the new one listens
    } catch (int) {
        settings.setProxyPort(storedProxyPort_);  // the store names the port actually served
        const std::string text =
            "Found inavalid parameter setting for Pelorus\r\nPlease reconfirm the setting." +
            listenerReason(values.proxyPort);
        box_ = showMessageBox(parent_, QMessageBox::Critical, QStringLiteral("Pelorus"), displayText(text),
                              QMessageBox::Ok, [this, values](QMessageBox::StandardButton) {
                                  box_ = nullptr;
                                  showDialog(values);
                              });
        return;
    }
    storedProxyPort_ = values.proxyPort;
    finish(true);
}

void PropertiesCommand::finish(bool accepted)
{
    open_ = false;
    box_ = nullptr;
    emit closed(accepted);
}

FiltersCommand::FiltersCommand(QWidget* parent) : parent_(parent) {}

FiltersCommand::~FiltersCommand() { delete dialog_.data(); }

FiltersDialog* FiltersCommand::dialog() const { return dialog_.data(); }

void FiltersCommand::open()
{
    if (dialog_) {
        beep();
        bringToFront(dialog_);
        return;
    }
    auto* dialog = new FiltersDialog(parent_);
    dialog_ = dialog;
    connect(dialog, &QDialog::finished, this, [this, dialog](int) {
        dialog_ = nullptr;
        dialog->deleteLater();
    });
    dialog->present();
}

} // namespace MAIL
