// FiltersDialog: "Pelorus Filters", where the user maintains the authorized
// domains and the fully trusted recipients (first page), and the caution
// domains and caution attachments (the page "Caution").
//
// The four list files are read when the dialog is made; rows are added at
// the top (so a file's entries show in reverse order), refused with a beep
// when they equal a row ignoring letter case, and deleted when ticked. Every
// Add and Delete press counts as a change. OK with changes asks, then writes
// all four files (a list without rows removes its file); a failed write shows
// which file and why, and the dialog stays open with its rows. Cancel,
// Escape and the close box with changes ask before discarding them. Each row
// keeps the bytes it was read with, so rows nobody touched are written back
// unchanged. The entries of the organisation-wide lists show below the
// user's, greyed and without a check box: they can be neither removed nor
// added again, and are never written. Shown with present(); reports its end
// through QDialog::finished.
//
// "Forget sent recipients" empties the history of sent recipients at once,
// after its own question; it is no change of the lists.
//
// Control ids are the widgets' object names: 1008 domain input, 1015 Add,
// 1022 domain list, 1020 Delete, 1002 recipient input, 1016 Add, 1023
// recipient list, 1021 Delete, 11 the icon, 1 OK, 2 Cancel; on the Caution
// page 1030 domain input, 1031 Add, 1032 list, 1033 Delete, and 1034
// attachment input, 1035 Add, 1036 list, 1037 Delete; 1040 Forget sent
// recipients.
#pragma once

#include <QDialog>
#include <QByteArray>
#include <QSet>

#include <array>

class QLineEdit;
class QTreeWidget;

namespace MAIL {

class LinkedList;

class FiltersDialog : public QDialog {
    Q_OBJECT
public:
    // Reads both list files.
    explicit FiltersDialog(QWidget* parent = nullptr);
    ~FiltersDialog() override;

    // Shows the dialog above other windows; returns at once.
    void present();

    // The change counters: presses of Add and Delete for each list.
    struct Changes {
        int domainAdditions = 0;
        int recipientAdditions = 0;
        int domainDeletions = 0;
        int recipientDeletions = 0;
        int cautionDomainAdditions = 0;
        int cautionAttachmentAdditions = 0;
        int cautionDomainDeletions = 0;
        int cautionAttachmentDeletions = 0;
        bool any() const
        {
            return domainAdditions + recipientAdditions + domainDeletions + recipientDeletions +
                       cautionDomainAdditions + cautionAttachmentAdditions + cautionDomainDeletions +
                       cautionAttachmentDeletions !=
                   0;
        }
    };
    const Changes& changes() const { return changes_; }

    // OK: closes at once without changes, else asks before saving.
    void accept() override;
    // Cancel, Escape, the close box: asks before discarding changes.
    void reject() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // One list of the dialog: its input, rows and change counters.
    struct Group {
        QLineEdit* edit = nullptr;
        QTreeWidget* list = nullptr;
        QSet<QByteArray> keys;  // case-folded entries, for refusing duplicates
        int Changes::*additions;
        int Changes::*deletions;
    };
    enum { Domains, Recipients, CautionDomains, CautionAttachments, GroupCount };

    // Adds a row at the top unless one equals it ignoring letter case
    // (then beeps); true when added.
    bool insertRow(Group& group, const QByteArray& bytes);
    void addFromEdit(Group& group);
    void deleteTicked(Group& group);
    // Fills a group's list: the user's entries, then the organisation's.
    void fill(Group& group, const LinkedList& own, const LinkedList& organisation);
    // Writes the four files; on failure shows why and answers false.
    bool saveLists();
    // Asks, then starts the history of sent recipients afresh.
    void forgetSentRecipients();

    std::array<Group, GroupCount> groups_;
    Changes changes_;
    bool asking_ = false;
};

} // namespace MAIL
