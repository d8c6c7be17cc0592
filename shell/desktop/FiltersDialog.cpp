#include "shell/desktop/FiltersDialog.h"

#include "foundation/LinkedList.h"
#include "foundation/String.h"
#include "policy/TrustedDomain.h"
#include "policy/TrustedRecipient.h"
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

QLabel* plainLabel(const char* text)
{
    auto* label = new QLabel(displayText(text));
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

// The row texts, top to bottom, without empty ones.
std::unique_ptr<LinkedList> entriesOf(const QTreeWidget* list)
{
    auto entries = std::make_unique<LinkedList>();
    for (int row = 0; row < list->topLevelItemCount(); ++row) {
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

    domainEdit_ = new QLineEdit;
    domainEdit_->setObjectName(QStringLiteral("1008"));
    domainEdit_->setMaxLength(InputLimit);
    recipientEdit_ = new QLineEdit;
    recipientEdit_->setObjectName(QStringLiteral("1002"));
    recipientEdit_->setMaxLength(InputLimit);
    domainEdit_->installEventFilter(this);
    recipientEdit_->installEventFilter(this);
    domainList_ = listView("1022", "Domain", 118);
    recipientList_ = listView("1023", "Recipient", 108);
    QPushButton* addDomain = button("Add", "1015");
    QPushButton* deleteDomains = button("Delete", "1020");
    QPushButton* addRecipient = button("Add", "1016");
    QPushButton* deleteRecipients = button("Delete", "1021");

    auto* domains = new QGroupBox(QStringLiteral("Domain Filter"));
    auto* domainGrid = new QGridLayout(domains);
    domainGrid->addWidget(plainLabel("Please enter a domain name to allow to send mails."), 0, 1, 1, 2);
    domainGrid->addWidget(domainEdit_, 1, 1);
    domainGrid->addWidget(addDomain, 1, 2);
    domainGrid->addWidget(plainLabel("Authorized\r\nDomains"), 2, 0, Qt::AlignTop);
    domainGrid->addWidget(domainList_, 2, 1, 2, 1);
    domainGrid->addWidget(deleteDomains, 3, 2, Qt::AlignBottom);
    domainGrid->setColumnStretch(1, 1);

    auto* recipients = new QGroupBox(QStringLiteral("Recipient Filter"));
    auto* recipientGrid = new QGridLayout(recipients);
    recipientGrid->addWidget(
        plainLabel("Please enter an email address to allow to send mails without [Recipient Confirmation]."), 0, 1, 1,
        2);
    recipientGrid->addWidget(recipientEdit_, 1, 1);
    recipientGrid->addWidget(addRecipient, 1, 2);
    recipientGrid->addWidget(plainLabel("Fully Trusted\r\nRecipients"), 2, 0, Qt::AlignTop);
    recipientGrid->addWidget(recipientList_, 2, 1, 2, 1);
    recipientGrid->addWidget(deleteRecipients, 3, 2, Qt::AlignBottom);
    recipientGrid->setColumnStretch(1, 1);

    auto* ok = new QPushButton(QStringLiteral("OK"));
    ok->setObjectName(QStringLiteral("1"));
    ok->setDefault(true);
    QPushButton* cancel = button("Cancel", "2");

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(domains);
    layout->addWidget(recipients);
    addSaveFooter(layout, ok, cancel);
    setMinimumWidth(ColumnWidth + 260);

    connect(addDomain, &QPushButton::clicked, this,
            [this] { addFromEdit(domainEdit_, domainList_, changes_.domainAdditions); });
    connect(addRecipient, &QPushButton::clicked, this,
            [this] { addFromEdit(recipientEdit_, recipientList_, changes_.recipientAdditions); });
    connect(deleteDomains, &QPushButton::clicked, this,
            [this] { deleteTicked(domainList_, changes_.domainDeletions); });
    connect(deleteRecipients, &QPushButton::clicked, this,
            [this] { deleteTicked(recipientList_, changes_.recipientDeletions); });
    connect(ok, &QPushButton::clicked, this, &FiltersDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &FiltersDialog::reject);

    // Every entry goes on top of the ones before it, so the rows show the
    // file from its last line up; built in one go, as a list may be long.
    const auto load = [this](const LinkedList& entries, QTreeWidget* list) {
        QSet<QByteArray>& keys = keysOf(list);
        QList<QTreeWidgetItem*> rows;
        const QIcon icon = pelorusIcon(list->property("pelorusIcon").toInt());
        entries.forEach<String>([&](const String& entry) {
            const QByteArray bytes(entry.view().data(), static_cast<qsizetype>(entry.view().size()));
            if (keys.contains(caseKey(bytes))) {
                beep();
                return;
            }
            keys.insert(caseKey(bytes));
            rows.append(rowItem(bytes, icon));
        });
        std::reverse(rows.begin(), rows.end());
        list->addTopLevelItems(rows);
    };
    LinkedList domainEntries;
    TrustedDomain().load(domainEntries);
    load(domainEntries, domainList_);
    LinkedList recipientEntries;
    TrustedRecipient().load(recipientEntries);
    load(recipientEntries, recipientList_);
    domainEntries.clear();
    recipientEntries.clear();
}

FiltersDialog::~FiltersDialog() = default;

void FiltersDialog::present()
{
    show();
    raise();
    activateWindow();
}

QSet<QByteArray>& FiltersDialog::keysOf(const QTreeWidget* list)
{
    return list == domainList_ ? domainKeys_ : recipientKeys_;
}

bool FiltersDialog::insertRow(QTreeWidget* list, const QByteArray& bytes)
{
    QSet<QByteArray>& keys = keysOf(list);
    const QByteArray key = caseKey(bytes);
    if (keys.contains(key)) {
        beep();
        return false;
    }
    keys.insert(key);
    list->insertTopLevelItem(0, rowItem(bytes, pelorusIcon(list->property("pelorusIcon").toInt())));
    return true;
}

bool FiltersDialog::eventFilter(QObject* watched, QEvent* event)
{
    // Enter in an input box adds its text instead of pressing OK, which
    // would drop what was just typed.
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            if (watched == domainEdit_)
                addFromEdit(domainEdit_, domainList_, changes_.domainAdditions);
            else if (watched == recipientEdit_)
                addFromEdit(recipientEdit_, recipientList_, changes_.recipientAdditions);
            else
                return QDialog::eventFilter(watched, event);
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void FiltersDialog::addFromEdit(QLineEdit* edit, QTreeWidget* list, int& counter)
{
    const QString text = edit->text().left(InputLimit);
    if (text.isEmpty())
        return;
    insertRow(list, text.toUtf8());  // taken as typed: no trimming, no form check
    ++counter;                        // a refused duplicate counts as well
}

void FiltersDialog::deleteTicked(QTreeWidget* list, int& counter)
{
    for (int row = list->topLevelItemCount() - 1; row >= 0; --row) {
        QTreeWidgetItem* item = list->topLevelItem(row);
        const QByteArray bytes = item->data(0, BytesRole).toByteArray();
        if (item->checkState(0) == Qt::Checked && !bytes.isEmpty()) {
            keysOf(list).remove(caseKey(bytes));
            delete list->takeTopLevelItem(row);
        }
    }
    ++counter;
}

bool FiltersDialog::saveLists()
{
    const std::unique_ptr<LinkedList> domains = entriesOf(domainList_);
    const std::unique_ptr<LinkedList> recipients = entriesOf(recipientList_);
    TrustedDomain domainFile;
    TrustedRecipient recipientFile;
    QStringList failures;
    for (QString failure : {store(domainFile, *domains), store(recipientFile, *recipients)})
        if (!failure.isEmpty())
            failures << failure;
    domains->clear();
    recipients->clear();
    if (failures.isEmpty())
        return true;
    showMessageBox(this, QMessageBox::Critical, QStringLiteral("Pelorus"),
                   failures.join(QStringLiteral("\n\n")) +
                       QStringLiteral("\n\nThe lists are still open; nothing was lost."));
    return false;
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
