#pragma once

#include "bootlink/BootLink.h"
#include "common/MessageSink.h"
#include "platform/ModalDialog.h"
#include "update/UpdateProcedure.h"
#include "update/qt/LinkEvents.h"

#include <memory>

#include <QBasicTimer>

namespace Ui {
class ProgressDialog;
}

namespace ostrel {

// The small dialog one firmware update runs in: a progress bar and Cancel. It owns the link
// and the procedure, gives the procedure its 300 ms ticks and turns the link's posted events
// into calls. Accepted means the update succeeded.
class ProgressDialog final : public platform::ModalDialog, private UpdateView {
    Q_OBJECT

public:
    ProgressDialog(const std::string& fileName, DeviceAddress moduleAddress, MessageSink& messages,
                   QWidget* parent);
    ~ProgressDialog() override;
    Q_DISABLE_COPY_MOVE(ProgressDialog)

    const UpdateProcedure& Procedure() const { return procedure; }
    void reject() override; // Cancel and Escape

protected:
    void OnInitDialog() override;
    bool event(QEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    void SetProgressRange(int minimum, int maximum) override;
    void SetProgressPosition(int position) override;
    void ShowMessage(const std::string& text) override;
    void StartTimer() override;
    void StopTimer() override;
    void EndDialog(UpdateResult result) override;

    std::unique_ptr<Ui::ProgressDialog> ui;
    MessageSink& messages;
    QBasicTimer timer;
    LinkEventPoster poster;
    BootLink link;
    UpdateProcedure procedure;
};

} // namespace ostrel
