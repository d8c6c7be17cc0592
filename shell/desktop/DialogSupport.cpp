#include "shell/desktop/DialogSupport.h"

#include "shell/desktop/Icons.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace MAIL {

QString displayText(std::string_view text)
{
    QString shown = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    return shown;
}

void addSaveFooter(QVBoxLayout* layout, QPushButton* ok, QPushButton* cancel)
{
    auto* icon = new QLabel;
    icon->setObjectName(QStringLiteral("11"));
    icon->setPixmap(pelorusIcon(110).pixmap(32, 32));
    auto* text = new QLabel(
        QStringLiteral("Please click [OK] button to save this setting, [Cancel] to discard changes."));
    text->setTextFormat(Qt::PlainText);
    auto* hint = new QHBoxLayout;
    hint->addWidget(icon);
    hint->addWidget(text, 1);

    auto* line = new QFrame;
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);

    layout->addLayout(hint);
    layout->addWidget(line);
    layout->addLayout(buttons);
}

QMessageBox* showMessageBox(QWidget* parent, QMessageBox::Icon icon, const QString& title, const QString& text,
                            QMessageBox::StandardButtons buttons, std::function<void(QMessageBox::StandardButton)> done)
{
    auto* box = new QMessageBox(icon, title, text, buttons, parent);
    box->setTextFormat(Qt::PlainText);  // names, files and server replies are shown as they are
    box->setAttribute(Qt::WA_DeleteOnClose);
    if (buttons.testFlag(QMessageBox::No))
        box->setEscapeButton(QMessageBox::No);
    if (done)
        QObject::connect(box, &QMessageBox::finished, box,
                         [box, done = std::move(done)](int) {
                             QAbstractButton* clicked = box->clickedButton();
                             done(clicked != nullptr ? box->standardButton(clicked) : QMessageBox::NoButton);
                         });
    box->open();
    return box;
}

BackgroundWork::BackgroundWork(QObject* receiver) : receiver_(receiver) {}

BackgroundWork::~BackgroundWork() { finishPrevious(); }

void BackgroundWork::finishPrevious()
{
    if (!thread_.joinable())
        return;
    std::lock_guard guard(channel_->lock);
    channel_->receiver = nullptr;
    if (channel_->delivered.load())
        thread_.join();  // it has handed over its result and only returns
    else
        thread_.detach();
}

} // namespace MAIL
