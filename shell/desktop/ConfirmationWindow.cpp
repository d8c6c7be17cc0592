#include "shell/desktop/ConfirmationWindow.h"

#include "shell/desktop/Icons.h"

#include <QApplication>
#include <QCheckBox>
#include <QFrame>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QTreeWidget>

namespace MAIL {

namespace {

constexpr int FirstColumnWidth = 360;
constexpr int SecondColumnWidth = 84;
constexpr int RowIconSize = 24;
// The pure red of flagged rows, as the user has learnt to read it.
const QColor FlaggedColour(255, 0, 0);

// Text from the mail, as Qt wants it; CR LF becomes one line break.
QString shown(const std::string& text)
{
    QString result = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    result.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return result;
}

// A label without a resource id, named for what it labels.
QLabel* caption(const QString& text, const char* name, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignRight | Qt::AlignTop);
    label->setWordWrap(true);
    return label;
}

} // namespace

ConfirmationContent ConfirmationContent::from(const AddressConfirmationDialog& model)
{
    ConfirmationContent content;
    content.subject = model.getSubject();
    content.to = model.toRows();
    content.cc = model.ccRows();
    content.bcc = model.bccRows();
    content.attachments = model.attachmentRows();
    content.security = model.securityRows();
    content.toEnabled = model.isToEnabled();
    content.confirmEachRecipient = model.confirmsEachRecipient();
    content.message = model.messageText();
    content.countdown = model.makeCountdown();
    return content;
}

ConfirmationWindow::ConfirmationWindow(ConfirmationContent content, Clock clock, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                          Qt::WindowStaysOnTopHint),
      countdown_(content.countdown), clock_(clock)
{
    setObjectName(QStringLiteral("131"));
    setWindowTitle(QString::fromUtf8(AddressConfirmationDialog::Title));
    // Not modal to the application: the tray menu, Properties and Filters
    // stay usable while a session waits for its answer.

    auto* grid = new QGridLayout(this);
    grid->setColumnStretch(1, 1);

    auto* subject = new QLineEdit(this);
    subject->setObjectName(QStringLiteral("1000"));
    subject->setReadOnly(true);
    subject->setText(shown(content.subject));
    subject->setCursorPosition(0);
    grid->addWidget(caption(tr("Subject"), "subjectLabel", this), 0, 0);
    grid->addWidget(subject, 0, 1);

    const QIcon authorized = pelorusIcon(108), unauthorized = pelorusIcon(111);
    QTreeWidget* to = makeList("1007", tr("Recipients"), tr("Authorized"));
    QTreeWidget* cc = makeList("1004", tr("Recipients"), tr("Authorized"));
    QTreeWidget* bcc = makeList("1005", tr("Recipients"), tr("Authorized"));
    QTreeWidget* files = makeList("1012", tr("Filename"), tr("Encryption"));
    QTreeWidget* security = makeList("1013", tr("Message"), tr("Encryption"));
    fillRows(to, content.to, authorized, unauthorized, content.confirmEachRecipient);
    fillRows(cc, content.cc, authorized, unauthorized, content.confirmEachRecipient);
    fillRows(bcc, content.bcc, authorized, unauthorized, content.confirmEachRecipient);
    fillRows(files, content.attachments, pelorusIcon(114), pelorusIcon(115));
    fillRows(security, content.security, pelorusIcon(112), pelorusIcon(113));
    // A mail without To is shown with a greyed-out list; empty Cc and Bcc
    // lists stay as they are.
    to->setEnabled(content.toEnabled);

    const struct {
        QString text;
        const char* name;
        QTreeWidget* list;
    } lists[] = {{tr("To"), "toLabel", to},
                 {tr("Cc"), "ccLabel", cc},
                 {tr("Bcc"), "bccLabel", bcc},
                 {tr("Attached Files"), "attachedFilesLabel", files},
                 {tr("Security"), "securityLabel", security}};
    int row = 1;
    for (const auto& entry : lists) {
        grid->addWidget(caption(entry.text, entry.name, this), row, 0);
        grid->addWidget(entry.list, row, 1);
        grid->setRowStretch(row, 1);
        ++row;
    }

    auto* decoration = new QLabel(this);
    decoration->setObjectName(QStringLiteral("11"));
    decoration->setPixmap(pelorusIcon(110).pixmap(32, 32));
    decoration->setAlignment(Qt::AlignCenter);
    grid->addWidget(decoration, row, 0, 2, 1);

    auto* message = new QLabel(this);
    message->setObjectName(QStringLiteral("1011"));
    message->setTextFormat(Qt::PlainText);
    message->setWordWrap(true);
    message->setText(shown(content.message));
    grid->addWidget(message, row++, 1);

    confirmBox_ = new QCheckBox(QString::fromUtf8(AddressConfirmationDialog::CheckBoxText), this);
    confirmBox_->setObjectName(QStringLiteral("1019"));
    grid->addWidget(confirmBox_, row++, 1);

    auto* separator = new QFrame(this);
    separator->setObjectName(QStringLiteral("separator"));
    separator->setFrameShape(QFrame::HLine);
    separator->setFrameShadow(QFrame::Sunken);
    grid->addWidget(separator, row++, 0, 1, 2);

    auto* bottom = new QHBoxLayout;
    countdownLabel_ = new QLabel(this);
    countdownLabel_->setObjectName(QStringLiteral("1018"));
    countdownLabel_->setTextFormat(Qt::PlainText);
    countdownLabel_->setText(QString::fromStdString(countdown_.initialText()));
    ok_ = new QPushButton(tr("OK"), this);
    ok_->setObjectName(QStringLiteral("1"));
    ok_->setDefault(true);
    ok_->setEnabled(false);
    auto* cancelButton = new QPushButton(tr("Cancel"), this);
    cancelButton->setObjectName(QStringLiteral("2"));
    bottom->addWidget(countdownLabel_);
    bottom->addStretch(1);
    bottom->addWidget(ok_);
    bottom->addSpacing(fontMetrics().averageCharWidth() * 8);
    bottom->addWidget(cancelButton);
    grid->addLayout(bottom, row, 0, 1, 2);

    // OK is offered exactly while every box is checked.
    const auto offerOk = [this] { ok_->setEnabled(allTicked()); };
    connect(confirmBox_, &QCheckBox::toggled, this, offerOk);
    for (QTreeWidget* list : {to, cc, bcc})
        connect(list, &QTreeWidget::itemChanged, this, offerOk);
    connect(ok_, &QPushButton::clicked, this, &ConfirmationWindow::confirm);
    connect(cancelButton, &QPushButton::clicked, this, &ConfirmationWindow::cancel);

    timer_ = new QTimer(this);
    timer_->setInterval(1000);
    connect(timer_, &QTimer::timeout, this, &ConfirmationWindow::tick);
}

ConfirmationWindow::~ConfirmationWindow() = default;

QTreeWidget* ConfirmationWindow::makeList(const char* id, const QString& first, const QString& second)
{
    auto* list = new QTreeWidget(this);
    list->setObjectName(QString::fromLatin1(id));
    list->setColumnCount(2);
    list->setHeaderLabels({first, second});
    list->setRootIsDecorated(false);
    list->setItemsExpandable(false);
    list->setUniformRowHeights(true);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setIconSize(QSize(RowIconSize, RowIconSize));
    list->header()->setStretchLastSection(false);
    list->header()->setSectionsMovable(false);
    list->setColumnWidth(0, FirstColumnWidth);
    list->setColumnWidth(1, SecondColumnWidth);
    // Room for both columns and two and a half rows, so a longer list
    // shows that it scrolls; the window may grow.
    const int rowHeight = qMax(RowIconSize + 4, fontMetrics().height() + 6);
    const int frame = 2 * list->frameWidth();
    list->setMinimumWidth(FirstColumnWidth + SecondColumnWidth + frame);
    list->setMinimumHeight(list->header()->sizeHint().height() + rowHeight * 5 / 2 + frame);
    list->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    return list;
}

void ConfirmationWindow::fillRows(QTreeWidget* list, const std::vector<ConfirmationRow>& rows, const QIcon& normal,
                                  const QIcon& flagged, bool tickFlagged)
{
    for (const ConfirmationRow& row : rows) {
        auto* item = new QTreeWidgetItem(list);
        item->setText(0, shown(row.first));
        item->setText(1, shown(row.second));
        item->setIcon(0, row.flagged ? flagged : normal);
        if (row.flagged) {
            item->setForeground(0, FlaggedColour);
            item->setForeground(1, FlaggedColour);
            if (tickFlagged) {
                item->setCheckState(0, Qt::Unchecked);
                tickedRows_.push_back(item);
            }
        }
    }
    // Several flag words ("x caution") must not be cut.
    int width = list->columnWidth(1);
    for (const ConfirmationRow& row : rows)
        width = qMax(width, list->fontMetrics().horizontalAdvance(shown(row.second)) + 12);
    list->setColumnWidth(1, width);
}

void ConfirmationWindow::showOnTop()
{
    adjustSize();
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        QRect frame = frameGeometry();
        frame.moveCenter(area.center());
        // Keep the title bar on the screen when the window is larger.
        move(qMax(area.left(), frame.left()), qMax(area.top(), frame.top()));
    }
    // open(), not show(): a window-modal window without a parent blocks no
    // other window, but joins the modal stack, so it takes input even while
    // an application-modal dialog (Properties, Filters) is open.
    open();
    raise();
    activateWindow();
    // A Wayland compositor lets no window put itself on top: the request
    // above asks it for activation, and alert() for a mark on the window
    // when it declines. The presenter's notice says that a question waits.
    if (QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
        QApplication::alert(this);
}

void ConfirmationWindow::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (clock_ == Clock::Running && !ended_ && !timer_->isActive())
        timer_->start();
}

void ConfirmationWindow::tick()
{
    if (ended_)
        return;
    const std::optional<std::string> label = countdown_.tick();
    if (!label) {
        cancel();
        return;
    }
    countdownLabel_->setText(QString::fromStdString(*label));
}

bool ConfirmationWindow::allTicked() const
{
    if (!confirmBox_->isChecked())
        return false;
    for (const QTreeWidgetItem* row : tickedRows_)
        if (row->checkState(0) != Qt::Checked)
            return false;
    return true;
}

void ConfirmationWindow::confirm()
{
    // Only the enabled OK button with every box checked sends the mail.
    if (ended_ || !ok_->isEnabled() || !allTicked())
        return;
    confirmed_ = true;
    done(1);
}

void ConfirmationWindow::cancel() { done(2); }

void ConfirmationWindow::accept() { confirm(); }

void ConfirmationWindow::reject() { cancel(); }

void ConfirmationWindow::done(int result)
{
    if (ended_)
        return;
    ended_ = true;
    timer_->stop();
    // Whatever asked to end it, only a confirmation counts as OK.
    (void)result;
    QDialog::done(answer());
}

} // namespace MAIL
