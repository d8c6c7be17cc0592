#include "shell/desktop/DialogSupport.h"

namespace MAIL {

QString displayText(std::string_view text)
{
    QString shown = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    return shown;
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
