// VersionDialog: "Version Information - Pelorus", the application icon, the
// version line, a two-line description and an OK button (object name "1").
// It is shown without a nested event loop; accepting or closing it ends it.
#pragma once

#include <QDialog>

namespace MAIL {

class VersionDialog : public QDialog {
    Q_OBJECT
public:
    static constexpr const char* Title = "Version Information - Pelorus";
    static constexpr const char* VersionText = "Pelorus Version 1.0.0.9";
    static constexpr const char* DescriptionText =
        "Local SMTP proxy: every outgoing mail waits\nuntil you have confirmed its recipients.";

    explicit VersionDialog(QWidget* parent = nullptr);
};

} // namespace MAIL
