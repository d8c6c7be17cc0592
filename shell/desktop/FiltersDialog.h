// FiltersDialog: "Pelorus Filters", where the user maintains the authorized
// domains and the fully trusted recipients.
//
// The two list files are read when the dialog is made; rows are added at
// the top (so a file's entries show in reverse order), refused with a beep
// when they equal a row ignoring letter case, and deleted when ticked. Every
// Add and Delete press counts as a change. OK with changes asks, then writes
// both files (a list without rows removes its file); a failed write shows
// which file and why, and the dialog stays open with its rows. Cancel,
// Escape and the close box with changes ask before discarding them. Each row
// keeps the bytes it was read with, so rows nobody touched are written back
// unchanged. Shown with present(); reports its end through
// QDialog::finished.
//
// Control ids of the dialog resource are the widgets' object names: 1008
// domain input, 1015 Add, 1022 domain list, 1020 Delete, 1002 recipient
// input, 1016 Add, 1023 recipient list, 1021 Delete, 11 the icon, 1 OK,
// 2 Cancel.
#pragma once

#include <QDialog>
#include <QByteArray>
#include <QSet>

class QLineEdit;
class QTreeWidget;

namespace MAIL {

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
        bool any() const { return domainAdditions + recipientAdditions + domainDeletions + recipientDeletions != 0; }
    };
    const Changes& changes() const { return changes_; }

    // OK: closes at once without changes, else asks before saving.
    void accept() override;
    // Cancel, Escape, the close box: asks before discarding changes.
    void reject() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Adds a row at the top unless one equals it ignoring letter case
    // (then beeps); true when added.
    bool insertRow(QTreeWidget* list, const QByteArray& bytes);
    void addFromEdit(QLineEdit* edit, QTreeWidget* list, int& counter);
    void deleteTicked(QTreeWidget* list, int& counter);
    // Writes both files; on failure shows why and answers false.
    bool saveLists();
    // The case-folded entries of a list, for refusing duplicates.
    QSet<QByteArray>& keysOf(const QTreeWidget* list);

    QLineEdit* domainEdit_;
    QLineEdit* recipientEdit_;
    QTreeWidget* domainList_;
    QTreeWidget* recipientList_;
    QSet<QByteArray> domainKeys_;
    QSet<QByteArray> recipientKeys_;
    Changes changes_;
    bool asking_ = false;
};

} // namespace MAIL
