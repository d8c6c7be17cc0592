#include "shell/desktop/PropertiesDialog.h"

#include "config/ProxyConfiguration.h"
#include "foundation/String.h"
#include "relay/ServerSecurity.h"
#include "shell/ConnectionTest.h"
#include "shell/NetworkInterfaces.h"
#include "shell/SettingsValidation.h"
#include "shell/desktop/SessionAutostart.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QVBoxLayout>

#include <iterator>
#include <optional>

namespace MAIL {

namespace {

constexpr int ServerLimit = 256;
constexpr int PortLimit = 8;
constexpr std::int32_t RecipientLimitMaximum = 10000;
// The modes the list offers, in order.
constexpr SecurityMode SecurityModes[] = {SecurityMode::None, SecurityMode::StartTls, SecurityMode::Tls};
constexpr const char* SecurityLabels[] = {"None", "STARTTLS", "TLS"};

QLabel* plainLabel(const char* text)
{
    auto* label = new QLabel(displayText(text));
    label->setTextFormat(Qt::PlainText);
    return label;
}

QLineEdit* lineEdit(const char* id, int limit)
{
    auto* edit = new QLineEdit;
    edit->setObjectName(QLatin1String(id));
    edit->setMaxLength(limit);
    return edit;
}

// The edit's text as the program keeps texts.
std::string textOf(const QLineEdit* edit, int limit)
{
    return edit->text().left(limit).toUtf8().toStdString();
}

// A pasted or dropped text keeps its first line only.
void keepFirstLine(QLineEdit* edit)
{
    QObject::connect(edit, &QLineEdit::textEdited, edit, [edit](const QString& text) {
        const qsizetype end = text.indexOf(QRegularExpression(QStringLiteral("[\r\n]")));
        if (end >= 0)
            edit->setText(text.left(end));
    });
}

// What a check off the GUI thread hands back: the box to show, if any.
struct Verdict {
    bool passed = false;
    QMessageBox::Icon icon = QMessageBox::Critical;
    std::string title = "Pelorus";
    std::string text;
};

// The server checks of OK and Test: name, then port; the first failure.
std::optional<std::string> serverProblem(const std::string& server, const std::string& port)
{
    if (auto problem = validateServerName(server))
        return problem;
    return validateServerPort(port);
}

} // namespace

std::optional<std::int32_t> numberUpTo(std::string_view text, std::int32_t maximum)
{
    text = trimView(text);
    if (text.empty())
        return std::nullopt;
    std::int32_t number = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        number = number * 10 + (c - '0');
        if (number > maximum)  // checked at every digit: never overflows
            return std::nullopt;
    }
    return number;
}

bool portKeyAccepted(const QString& text, bool backspace, int length, int selected)
{
    if (backspace)
        return length >= 1;  // a longer pasted text must stay erasable
    if (text.isEmpty())
        return true;
    for (const QChar c : text)
        if (!c.isPrint())
            return true;  // shortcuts and control keys keep their meaning
    if (text.size() == 1 && text[0] >= QLatin1Char('0') && text[0] <= QLatin1Char('9')) {
        const int remaining = length - selected;  // a typed digit replaces the selection
        return remaining >= 0 && remaining <= 4;
    }
    if (text == QLatin1String("."))
        return length >= 1 && length <= 5;
    return false;
}

PropertiesDialog::PropertiesDialog(QWidget* parent) : QDialog(parent), work_(this)
{
    setWindowTitle(QStringLiteral("Pelorus Properties"));
    setWindowFlag(Qt::WindowStaysOnTopHint);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    serverEdit_ = lineEdit("1014", ServerLimit);
    portEdit_ = lineEdit("1016", PortLimit);
    proxyPortEdit_ = lineEdit("1017", PortLimit);
    for (QLineEdit* edit : {serverEdit_, portEdit_, proxyPortEdit_})
        keepFirstLine(edit);
    portEdit_->installEventFilter(this);
    proxyPortEdit_->installEventFilter(this);
    portEdit_->setMaximumWidth(80);
    proxyPortEdit_->setMaximumWidth(80);

    securityCombo_ = new QComboBox;
    securityCombo_->setObjectName(QStringLiteral("1024"));
    for (std::size_t i = 0; i < std::size(SecurityModes); ++i)
        securityCombo_->addItem(QLatin1String(SecurityLabels[i]), QLatin1String(securityModeName(SecurityModes[i])));

    testButton_ = new QPushButton(QStringLiteral("Test the setting of SMTP server"));
    testButton_->setObjectName(QStringLiteral("1015"));
    testButton_->setAutoDefault(false);
    okButton_ = new QPushButton(QStringLiteral("OK"));
    okButton_->setObjectName(QStringLiteral("1"));
    okButton_->setDefault(true);
    cancelButton_ = new QPushButton(QStringLiteral("Cancel"));
    cancelButton_->setObjectName(QStringLiteral("2"));
    cancelButton_->setAutoDefault(false);

    auto* server = new QGroupBox(QStringLiteral("SMTP Server"));
    auto* serverGrid = new QGridLayout(server);
    serverGrid->addWidget(plainLabel("Server Name"), 0, 0);
    serverGrid->addWidget(serverEdit_, 0, 1);
    serverGrid->addWidget(plainLabel("Please enter a host or IP address of SMPT server."), 1, 1);
    serverGrid->addWidget(plainLabel("Port Number"), 2, 0);
    serverGrid->addWidget(portEdit_, 2, 1, Qt::AlignLeft);
    serverGrid->addWidget(plainLabel("Please enter a port number of SMPT server."), 3, 1);
    serverGrid->addWidget(plainLabel("Security"), 4, 0);
    serverGrid->addWidget(securityCombo_, 4, 1, Qt::AlignLeft);
    serverGrid->addWidget(testButton_, 5, 1, Qt::AlignLeft);
    serverGrid->setColumnStretch(1, 1);

    auto* proxy = new QGroupBox(QStringLiteral("Pelorus Server"));
    auto* proxyGrid = new QGridLayout(proxy);
    proxyGrid->addWidget(plainLabel("Port Number"), 0, 0);
    proxyGrid->addWidget(proxyPortEdit_, 0, 1, Qt::AlignLeft);
    proxyGrid->addWidget(plainLabel("Please enter a port number of Pelorus(local SMTP) server."), 1, 1);
    proxyGrid->setColumnStretch(1, 1);

    sessionBox_ = new QCheckBox(tr("Start Pelorus when I log in"));
    sessionBox_->setObjectName(QStringLiteral("sessionStart"));
    auto* session = new QGroupBox(tr("Session"));
    (new QVBoxLayout(session))->addWidget(sessionBox_);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(server);
    layout->addWidget(proxy);
    layout->addWidget(session);
    recordBox_ = new QCheckBox(tr("Keep a record of my decisions"));
    recordBox_->setObjectName(QStringLiteral("decisionLog"));
    auto* record = new QGroupBox(tr("Record"));
    (new QVBoxLayout(record))->addWidget(recordBox_);
    layout->addWidget(record);
    flagNewBox_ = new QCheckBox(tr("Flag first-time recipients"));
    flagNewBox_->setObjectName(QStringLiteral("flagNewRecipients"));
    confirmEachBox_ = new QCheckBox(tr("Ask me to tick each flagged recipient"));
    confirmEachBox_->setObjectName(QStringLiteral("confirmEachRecipient"));
    maxRecipientsEdit_ = lineEdit("maxRecipients", PortLimit);
    keepFirstLine(maxRecipientsEdit_);
    maxRecipientsEdit_->setMaximumWidth(80);
    auto* limitRow = new QHBoxLayout;
    limitRow->addWidget(new QLabel(tr("Warn when a mail has more than")));
    limitRow->addWidget(maxRecipientsEdit_);
    limitRow->addWidget(new QLabel(tr("recipients (0: never)")));
    limitRow->addStretch(1);
    auto* checks = new QGroupBox(tr("Checks"));
    auto* checksColumn = new QVBoxLayout(checks);
    checksColumn->addWidget(flagNewBox_);
    checksColumn->addWidget(confirmEachBox_);
    checksColumn->addLayout(limitRow);
    layout->addWidget(checks);
    sendDelayEdit_ = lineEdit("sendDelay", PortLimit);
    keepFirstLine(sendDelayEdit_);
    sendDelayEdit_->setMaximumWidth(80);
    auto* delayRow = new QHBoxLayout;
    delayRow->addWidget(new QLabel(tr("Hold each mail for")));
    delayRow->addWidget(sendDelayEdit_);
    delayRow->addWidget(new QLabel(tr("seconds after I confirm, so I can undo it")));
    delayRow->addStretch(1);
    holdTrustedBox_ = new QCheckBox(tr("Also hold mails that need no confirmation"));
    holdTrustedBox_->setObjectName(QStringLiteral("holdTrusted"));
    auto* undo = new QGroupBox(tr("Undo"));
    auto* undoColumn = new QVBoxLayout(undo);
    undoColumn->addLayout(delayRow);
    undoColumn->addWidget(holdTrustedBox_);
    layout->addWidget(undo);
    addSaveFooter(layout, okButton_, cancelButton_);

    connect(okButton_, &QPushButton::clicked, this, &PropertiesDialog::accept);
    connect(cancelButton_, &QPushButton::clicked, this, &PropertiesDialog::reject);
    connect(testButton_, &QPushButton::clicked, this, &PropertiesDialog::runConnectionTest);
}

PropertiesDialog::~PropertiesDialog() = default;

void PropertiesDialog::setServer(std::string_view server) { server_ = std::string(trimView(server)); }
void PropertiesDialog::setPort(std::string_view port) { port_ = portNumber(port); }
void PropertiesDialog::setProxyPort(std::string_view port) { proxyPort_ = portNumber(port); }
void PropertiesDialog::setAllowed(std::string_view allowed) { allowed_ = std::string(trimView(allowed)); }

void PropertiesDialog::present()
{
    serverEdit_->setText(QString::fromUtf8(server_.data(), static_cast<qsizetype>(server_.size())));
    portEdit_->setText(QString::number(port_));
    proxyPortEdit_->setText(QString::number(proxyPort_));
    showSecurity();
    sessionBox_->setChecked(autostartEnabled(autostartFile()));
    recordBox_->setChecked(decisionLog_);
    flagNewBox_->setChecked(flagNewRecipients_);
    confirmEachBox_->setChecked(confirmEachRecipient_);
    maxRecipientsEdit_->setText(QString::number(maxRecipients_));
    sendDelayEdit_->setText(QString::number(sendDelay_));
    holdTrustedBox_->setChecked(holdTrusted_);
    setBusy(false);
    show();
    raise();
    activateWindow();
}

void PropertiesDialog::showSecurity()
{
    while (securityCombo_->count() > static_cast<int>(std::size(SecurityModes)))
        securityCombo_->removeItem(securityCombo_->count() - 1);
    const SecurityMode mode = parseSecurityMode(security_);
    if (mode == SecurityMode::Unknown) {
        const QString text = QString::fromUtf8(security_.data(), static_cast<qsizetype>(security_.size()));
        securityCombo_->addItem(text, text);
        securityCombo_->setCurrentIndex(securityCombo_->count() - 1);
        return;
    }
    for (std::size_t i = 0; i < std::size(SecurityModes); ++i)
        if (SecurityModes[i] == mode)
            securityCombo_->setCurrentIndex(static_cast<int>(i));
}

std::string PropertiesDialog::selectedSecurity() const
{
    return securityCombo_->currentData().toString().toUtf8().toStdString();
}

void PropertiesDialog::setBusy(bool busy)
{
    busy_ = busy;
    okButton_->setEnabled(!busy);
    testButton_->setEnabled(!busy);
}

void PropertiesDialog::showError(const std::string& text)
{
    showMessageBox(this, QMessageBox::Critical, QStringLiteral("Pelorus"), displayText(text));
}

void PropertiesDialog::accept()
{
    if (busy_)
        return;
    const std::string server = textOf(serverEdit_, ServerLimit - 1);
    const std::string port = textOf(portEdit_, 127);
    const std::string proxyPort = textOf(proxyPortEdit_, 127);
    const std::string security = selectedSecurity();
    const bool keepRecord = recordBox_->isChecked();
    const bool flagNew = flagNewBox_->isChecked();
    const bool confirmEach = confirmEachBox_->isChecked();
    const std::optional<std::int32_t> limit = numberUpTo(textOf(maxRecipientsEdit_, PortLimit), RecipientLimitMaximum);
    const std::optional<std::int32_t> delay =
        numberUpTo(textOf(sendDelayEdit_, PortLimit), ProxyConfiguration::MaximumSendDelay);
    const bool holdTrusted = holdTrustedBox_->isChecked();
    setBusy(true);
    work_.run<std::optional<std::string>>(
        [server, port, proxyPort]() -> std::optional<std::string> {
            if (auto problem = serverProblem(server, port))
                return problem;
            return validateProxyPort(proxyPort);
        },
        [this, server, port, proxyPort, security, keepRecord, flagNew, confirmEach, limit, delay,
         holdTrusted](std::optional<std::string> problem) {
            setBusy(false);
            if (problem) {
                showError(*problem);
            } else if (!limit) {
                showError("Please enter a number of recipients in [0, 10000].");
            } else if (!delay) {
                showError("Please enter a number of seconds in [0, 60].");
            } else if (applySessionStart()) {
                setServer(server);
                setPort(port);
                setProxyPort(proxyPort);
                setSecurity(security);
                setDecisionLog(keepRecord);
                setFlagNewRecipients(flagNew);
                setConfirmEachRecipient(confirmEach);
                setMaxRecipients(*limit);
                setSendDelay(*delay);
                setHoldTrusted(holdTrusted);
                QDialog::accept();
            }
            emit checkFinished();
        });
}

bool PropertiesDialog::applySessionStart()
{
    const std::string file = autostartFile();
    const std::optional<std::string> failure = sessionBox_->isChecked()
                                                   ? writeAutostart(file, menuEntryFile(), runningExecutable())
                                                   : removeAutostart(file);
    if (failure)
        showError(*failure);
    return !failure;
}

void PropertiesDialog::reject()
{
    setBusy(false);
    work_.cancel();  // a check still running ends unheard
    QDialog::reject();
}

void PropertiesDialog::runConnectionTest()
{
    if (busy_)
        return;
    const std::string server = textOf(serverEdit_, 1022);
    const std::string port = textOf(portEdit_, 126);
    const std::string security = selectedSecurity();
    setBusy(true);
    work_.run<Verdict>(
        [server, port, security] {
            Verdict verdict;
            NetworkInterfaces interfaces;
            if (!ConnectionTest::canReachNetwork(server, interfaces)) {
                verdict.title = ConnectionTest::NotConnectedTitle;
                verdict.text = ConnectionTest::NotConnectedText;
                return verdict;
            }
            if (auto problem = serverProblem(server, port)) {
                verdict.text = *problem;
                return verdict;
            }
            ServerSecurity stored = readServerSecurity();  // CAFile and VerifyServer as stored
            stored.setting = security;
            stored.mode = parseSecurityMode(security);
            const ConnectionTest test(server, static_cast<std::uint16_t>(portNumber(port) & 0xFFFF), stored);
            const ConnectionTest::Result result = test.run();
            if (!result.passed()) {
                verdict.text = test.failureText(result);
                return verdict;
            }
            verdict.passed = true;
            verdict.icon = QMessageBox::Information;
            verdict.text = test.successText(result);
            return verdict;
        },
        [this](Verdict verdict) {
            setBusy(false);
            showMessageBox(this, verdict.icon, displayText(verdict.title), displayText(verdict.text));
            emit checkFinished();
        });
}

bool PropertiesDialog::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress)
        return QDialog::eventFilter(watched, event);
    auto* edit = qobject_cast<QLineEdit*>(watched);
    auto* key = static_cast<QKeyEvent*>(event);
    if (edit == nullptr)
        return false;
    const bool backspace = key->key() == Qt::Key_Backspace;
    const bool judged = backspace || (!key->text().isEmpty() && key->text().at(0).isPrint() &&
                                      !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)));
    if (!judged)
        return false;  // Tab, Enter, Escape, arrows, Home, End, shortcuts
    const bool accepted = portKeyAccepted(key->text(), backspace, static_cast<int>(edit->text().size()),
                                          static_cast<int>(edit->selectedText().size()));
    return !accepted;  // a swallowed key makes no sound
}

} // namespace MAIL
