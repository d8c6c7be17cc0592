#include "shell/desktop/FiltersDialog.h"

#include "foundation/LinkedList.h"
#include "foundation/String.h"
#include "policy/CautionAttachment.h"
#include "policy/CautionDomain.h"
#include "policy/OrganisationLists.h"
#include "policy/SentRecipients.h"
#include "policy/TrustedDomain.h"
#include "policy/TrustedRecipient.h"
#include "relay/Notifications.h"
#include "shell/desktop/Beep.h"
#include "shell/desktop/DialogSupport.h"
#include "shell/desktop/Icons.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <QSet>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include <sys/stat.h>

namespace MAIL {

namespace {

constexpr int InputLimit = 1022;
constexpr int ColumnWidth = 320;
constexpr int BytesRole = Qt::UserRole;
constexpr int OrganisationRole = Qt::UserRole + 1;

QLabel* plainLabel(const QString& text)
{
    auto* label = new QLabel(text);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    return label;
}

QPushButton* button(const char* text, const char* id)
{
    auto* pushButton = new QPushButton(QLatin1String(text));
    pushButton->setObjectName(QLatin1String(id));
    pushButton->setAutoDefault(false);
    return pushButton;
}

QTreeWidget* listView(const char* id, const char* column, int iconId)
{
    auto* list = new QTreeWidget;
    list->setObjectName(QLatin1String(id));
    list->setHeaderLabels({QLatin1String(column)});
    list->setColumnCount(1);
    list->setRootIsDecorated(false);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setIconSize(QSize(24, 24));
    list->setSortingEnabled(false);
    list->header()->setStretchLastSection(false);
    list->header()->resizeSection(0, ColumnWidth);
    list->header()->setDefaultAlignment(Qt::AlignLeft);
    list->setProperty("pelorusIcon", iconId);
    return list;
}

// What an entry is compared by when letter case is ignored. Valid UTF-8
// compares as case-folded text (so "\u00c4" equals "\u00e4"); other bytes
// compare with ASCII letters folded, so two different undecodable entries
// never count as equal.
QByteArray caseKey(const QByteArray& bytes)
{
    const QString text = QString::fromUtf8(bytes);
    if (text.toUtf8() == bytes)
        return 'u' + text.toCaseFolded().toUtf8();
    return 'b' + bytes.toLower();
}

QTreeWidgetItem* rowItem(const QByteArray& bytes, const QIcon& icon)
{
    auto* item = new QTreeWidgetItem;
    item->setText(0, QString::fromUtf8(bytes));
    item->setData(0, BytesRole, bytes);
    item->setIcon(0, icon);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    item->setCheckState(0, Qt::Unchecked);
    return item;
}

// A row of an organisation-wide list: greyed, without a check box.
QTreeWidgetItem* organisationItem(const QByteArray& bytes, const QIcon& icon, const QString& tip)
{
    auto* item = new QTreeWidgetItem;
    item->setText(0, QString::fromUtf8(bytes));
    item->setData(0, OrganisationRole, true);
    item->setIcon(0, icon);
    item->setToolTip(0, tip);
    item->setFlags(Qt::NoItemFlags);
    return item;
}

// The user's row texts, top to bottom, without empty ones.
std::unique_ptr<LinkedList> entriesOf(const QTreeWidget* list)
{
    auto entries = std::make_unique<LinkedList>();
    for (int row = 0; row < list->topLevelItemCount(); ++row) {
        if (list->topLevelItem(row)->data(0, OrganisationRole).toBool())
            continue;
        const QByteArray bytes = list->topLevelItem(row)->data(0, BytesRole).toByteArray();
        if (!bytes.isEmpty())
            entries->addLast(std::make_unique<String>(std::string_view(bytes.constData(), bytes.size())));
    }
    return entries;
}

// Saves the entries, or removes the file when there are none; an empty
// text on success, else what went wrong.
QString store(ListFile& file, const LinkedList& entries)
{
    if (entries.getLength() == 0) {
        // A list file that is not there is as good as removed, also in a
        // folder where nothing could be removed.
        struct stat status {};
        if (!file.getPath().empty() && ::lstat(file.getPath().c_str(), &status) != 0 && errno == ENOENT)
            return {};
        if (file.remove() || file.lastError() == ENOENT)
            return {};
        return QStringLiteral("Failed to remove the filter file %1.\n%2")
            .arg(QString::fromStdString(file.getPath()), QString::fromLocal8Bit(std::strerror(file.lastError())));
    }
    if (file.save(entries))
        return {};
    const QString path = file.getPath().empty() ? QStringLiteral("(no folder for the filter files)")
                                                : QString::fromStdString(file.getPath());
    return QStringLiteral("Failed to save the filter file %1.\n%2")
        .arg(path, QString::fromLocal8Bit(std::strerror(file.lastError())));
}

} // namespace

FiltersDialog::FiltersDialog(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Pelorus Filters"));
    setWindowFlag(Qt::WindowStaysOnTopHint);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    // One group box of the dialog: prompt, input and Add, the list with its
    // side label, Delete.
    struct Layout {
        QString title, prompt, side, column;
        const char *editId, *addId, *listId, *deleteId;
        int icon;
    };
    const auto makeGroup = [this](Group& group, const Layout& layout) {
        group.edit = new QLineEdit;
        group.edit->setObjectName(QLatin1String(layout.editId));
        group.edit->setMaxLength(InputLimit);
        group.edit->installEventFilter(this);
        group.list = listView(layout.listId, "", layout.icon);
        group.list->setHeaderLabels({layout.column});
        QPushButton* add = button("", layout.addId);
        add->setText(tr("Add"));
        QPushButton* remove = button("", layout.deleteId);
        remove->setText(tr("Delete"));
        auto* box = new QGroupBox(layout.title);
        auto* grid = new QGridLayout(box);
        grid->addWidget(plainLabel(layout.prompt), 0, 1, 1, 2);
        grid->addWidget(group.edit, 1, 1);
        grid->addWidget(add, 1, 2);
        grid->addWidget(plainLabel(layout.side), 2, 0, Qt::AlignTop);
        grid->addWidget(group.list, 2, 1, 2, 1);
        grid->addWidget(remove, 3, 2, Qt::AlignBottom);
        grid->setColumnStretch(1, 1);
        connect(add, &QPushButton::clicked, this, [this, &group] { addFromEdit(group); });
        connect(remove, &QPushButton::clicked, this, [this, &group] { deleteTicked(group); });
        return box;
    };
    groups_[Domains].additions = &Changes::domainAdditions;
    groups_[Domains].deletions = &Changes::domainDeletions;
    groups_[Recipients].additions = &Changes::recipientAdditions;
    groups_[Recipients].deletions = &Changes::recipientDeletions;
    groups_[CautionDomains].additions = &Changes::cautionDomainAdditions;
    groups_[CautionDomains].deletions = &Changes::cautionDomainDeletions;
    groups_[CautionAttachments].additions = &Changes::cautionAttachmentAdditions;
    groups_[CautionAttachments].deletions = &Changes::cautionAttachmentDeletions;

    auto* filters = new QWidget;
    auto* filtersLayout = new QVBoxLayout(filters);
    filtersLayout->addWidget(makeGroup(groups_[Domains],
                                       {tr("Domain Filter"), tr("Please enter a domain name to allow to send mails."),
                                        tr("Authorized\nDomains"), tr("Domain"), "1008", "1015", "1022", "1020", 118}));
    filtersLayout->addWidget(makeGroup(
        groups_[Recipients],
        {tr("Recipient Filter"),
         tr("Please enter an email address to allow to send mails without [Recipient Confirmation]."),
         tr("Fully Trusted\nRecipients"), tr("Recipient"), "1002", "1016", "1023", "1021", 108}));
    QPushButton* forget = button("", "1040");
    forget->setText(tr("Forget sent recipients"));
    filtersLayout->addWidget(forget, 0, Qt::AlignLeft);
    connect(forget, &QPushButton::clicked, this, &FiltersDialog::forgetSentRecipients);
    auto* caution = new QWidget;
    caution->setObjectName(QStringLiteral("caution"));
    auto* cautionLayout = new QVBoxLayout(caution);
    cautionLayout->addWidget(makeGroup(
        groups_[CautionDomains],
        {tr("Caution Domains"),
         tr("Please enter a domain name whose recipients always need your confirmation, even when fully trusted."),
         tr("Caution\nDomains"), tr("Domain"), "1030", "1031", "1032", "1033", 111}));
    cautionLayout->addWidget(makeGroup(
        groups_[CautionAttachments],
        {tr("Caution Attachments"),
         tr("Please enter a file suffix such as .key, or a word such as confidential: a mail with an attachment "
            "whose name ends with the suffix or holds the word always needs your confirmation."),
         tr("Caution\nAttachments"), tr("File name"), "1034", "1035", "1036", "1037", 115}));
    auto* pages = new QTabWidget;
    pages->addTab(filters, tr("Filters"));
    pages->addTab(caution, tr("Caution"));

    auto* ok = new QPushButton(tr("OK"));
    ok->setObjectName(QStringLiteral("1"));
    ok->setDefault(true);
    QPushButton* cancel = button("", "2");
    cancel->setText(tr("Cancel"));

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(pages);
    addSaveFooter(layout, ok, cancel);
    setMinimumWidth(ColumnWidth + 260);
    connect(ok, &QPushButton::clicked, this, &FiltersDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &FiltersDialog::reject);

    const auto load = [this](Group& group, auto file) {
        LinkedList own, organisation;
        file.load(own);
        file.loadOrganisation(organisation);
        fill(group, own, organisation);
        own.clear();
        organisation.clear();
    };
    load(groups_[Domains], TrustedDomain());
    load(groups_[Recipients], TrustedRecipient());
    load(groups_[CautionDomains], CautionDomain());
    load(groups_[CautionAttachments], CautionAttachment());
    reportIgnoredOrganisationFiles([](std::string_view text) { showWarningBalloon(text); });
}

FiltersDialog::~FiltersDialog() = default;

void FiltersDialog::present()
{
    show();
    raise();
    activateWindow();
}

void FiltersDialog::fill(Group& group, const LinkedList& own, const LinkedList& organisation)
{
    // Every entry goes on top of the ones before it, so the rows show the
    // file from its last line up; built in one go, as a list may be long.
    // The organisation's entries follow, in their files' order.
    QList<QTreeWidgetItem*> rows;
    const QIcon icon = pelorusIcon(group.list->property("pelorusIcon").toInt());
    const auto take = [&](const String& entry) {
        const QByteArray bytes(entry.view().data(), static_cast<qsizetype>(entry.view().size()));
        const QByteArray key = caseKey(bytes);
        if (group.keys.contains(key)) {
            beep();
            return QByteArray();
        }
        group.keys.insert(key);
        return bytes;
    };
    own.forEach<String>([&](const String& entry) {
        if (const QByteArray bytes = take(entry); !bytes.isNull())
            rows.append(rowItem(bytes, icon));
    });
    std::reverse(rows.begin(), rows.end());
    const QString tip = tr("Set by your organisation; it cannot be removed here.");
    organisation.forEach<String>([&](const String& entry) {
        if (const QByteArray bytes = take(entry); !bytes.isNull())
            rows.append(organisationItem(bytes, icon, tip));
    });
    group.list->addTopLevelItems(rows);
}

bool FiltersDialog::insertRow(Group& group, const QByteArray& bytes)
{
    const QByteArray key = caseKey(bytes);
    if (group.keys.contains(key)) {
        beep();
        return false;
    }
    group.keys.insert(key);
    group.list->insertTopLevelItem(0, rowItem(bytes, pelorusIcon(group.list->property("pelorusIcon").toInt())));
    return true;
}

bool FiltersDialog::eventFilter(QObject* watched, QEvent* event)
{
    // Enter in an input box adds its text instead of pressing OK, which
    // would drop what was just typed.
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            for (Group& group : groups_) {
                if (watched == group.edit) {
                    addFromEdit(group);
                    return true;
                }
            }
        }
    }
    return QDialog::eventFilter(watched, event);
}

void FiltersDialog::addFromEdit(Group& group)
{
    const QString text = group.edit->text().left(InputLimit);
    if (text.isEmpty())
        return;
    insertRow(group, text.toUtf8());  // taken as typed: no trimming, no form check
    ++(changes_.*group.additions);    // a refused duplicate counts as well
}

void FiltersDialog::deleteTicked(Group& group)
{
    for (int row = group.list->topLevelItemCount() - 1; row >= 0; --row) {
        QTreeWidgetItem* item = group.list->topLevelItem(row);
        const QByteArray bytes = item->data(0, BytesRole).toByteArray();
        if (item->checkState(0) == Qt::Checked && !bytes.isEmpty() && !item->data(0, OrganisationRole).toBool()) {
            group.keys.remove(caseKey(bytes));
            delete group.list->takeTopLevelItem(row);
        }
    }
    ++(changes_.*group.deletions);
}

bool FiltersDialog::saveLists()
{
    TrustedDomain domainFile;
    TrustedRecipient recipientFile;
    CautionDomain cautionDomainFile;
    CautionAttachment cautionAttachmentFile;
    const std::array<ListFile*, GroupCount> files{&domainFile, &recipientFile, &cautionDomainFile,
                                                  &cautionAttachmentFile};
    QStringList failures;
    for (std::size_t i = 0; i < files.size(); ++i) {
        const std::unique_ptr<LinkedList> entries = entriesOf(groups_[i].list);
        if (const QString failure = store(*files[i], *entries); !failure.isEmpty())
            failures << failure;
        entries->clear();
    }
    if (failures.isEmpty())
        return true;
    showMessageBox(this, QMessageBox::Critical, QStringLiteral("Pelorus"),
                   failures.join(QStringLiteral("\n\n")) +
                       QStringLiteral("\n\nThe lists are still open; nothing was lost."));
    return false;
}

void FiltersDialog::forgetSentRecipients()
{
    if (asking_)
        return;
    asking_ = true;
    showMessageBox(this, QMessageBox::Question, QStringLiteral("Pelorus Filters"),
                   tr("Forget every address Pelorus has seen you send to?"), QMessageBox::Yes | QMessageBox::No,
                   [this](QMessageBox::StandardButton answer) {
                       asking_ = false;
                       if (answer != QMessageBox::Yes)
                           return;
                       SentRecipients history;
                       if (!history.forget())
                           showMessageBox(this, QMessageBox::Critical, QStringLiteral("Pelorus"),
                                          tr("Failed to forget the sent recipients in %1.")
                                              .arg(QString::fromStdString(history.path())));
                   });
}

void FiltersDialog::accept()
{
    if (asking_)
        return;
    if (!changes_.any()) {
        QDialog::accept();
        return;
    }
    asking_ = true;
    showMessageBox(this, QMessageBox::Question, QStringLiteral("Pelorus Filters"),
                   QStringLiteral("Are you sure to want to save changes to a filter file?"),
                   QMessageBox::Yes | QMessageBox::No, [this](QMessageBox::StandardButton answer) {
                       asking_ = false;
                       if (answer == QMessageBox::Yes && saveLists())
                           QDialog::accept();
                   });
}

void FiltersDialog::reject()
{
    if (asking_)
        return;
    if (!changes_.any()) {
        QDialog::reject();
        return;
    }
    asking_ = true;
    showMessageBox(this, QMessageBox::Question, QStringLiteral("Pelorus Filters"),
                   QStringLiteral("Are you sure to want to close [Pelorus Filters] Dialog?"),
                   QMessageBox::Yes | QMessageBox::No, [this](QMessageBox::StandardButton answer) {
                       asking_ = false;
                       if (answer == QMessageBox::Yes)
                           QDialog::reject();
                   });
}

} // namespace MAIL
