#include "update/qt/ProgressDialog.h"

#include "ui_ProgressDialog.h"

#include <QTimerEvent>

namespace ostrel {

ProgressDialog::ProgressDialog(const std::string& fileName, DeviceAddress moduleAddress,
                               MessageSink& sink, QWidget* parent)
    : ModalDialog(parent), ui(std::make_unique<Ui::ProgressDialog>()), messages(sink),
      poster(*this), link(sink), procedure(fileName, moduleAddress, link, poster, *this) {
    ui->setupUi(this);
    SetFirstTabStop(ui->cancelButton);
    UseFrame(platform::DialogFrame::NoCaption);
    connect(ui->cancelButton, &QPushButton::clicked, this, &ProgressDialog::reject);
}

ProgressDialog::~ProgressDialog() {
    // The worker reports to this object; it must be gone before this object starts to go.
    link.StopWorker();
}

void ProgressDialog::OnInitDialog() {
    procedure.OnInitDialog();
}

bool ProgressDialog::event(QEvent* event) {
    if (event->type() == linkReplyEventType) {
        procedure.OnLinkReply(static_cast<LinkReplyEvent*>(event)->reply);
        return true;
    }
    if (event->type() == linkTimeoutEventType) {
        procedure.OnLinkTimeout(static_cast<LinkTimeoutEvent*>(event)->command);
        return true;
    }
    return ModalDialog::event(event);
}

void ProgressDialog::timerEvent(QTimerEvent* event) {
    // Only the procedure's own timer runs a step.
    if (event->timerId() == timer.timerId()) {
        procedure.OnTick();
        return;
    }
    ModalDialog::timerEvent(event);
}

void ProgressDialog::reject() {
    procedure.OnCancel();
}

void ProgressDialog::SetProgressRange(int minimum, int maximum) {
    ui->progressBar->setRange(minimum, maximum);
}

void ProgressDialog::SetProgressPosition(int position) {
    ui->progressBar->setValue(position);
}

void ProgressDialog::ShowMessage(const std::string& text) {
    messages.Say(text);
}

void ProgressDialog::StartTimer() {
    timer.start(static_cast<int>(UpdateProcedure::tickPeriod.count()), Qt::PreciseTimer, this);
}

void ProgressDialog::StopTimer() {
    timer.stop();
}

void ProgressDialog::EndDialog(UpdateResult result) {
    done(result == UpdateResult::Ok ? Accepted : Rejected);
}

} // namespace ostrel
