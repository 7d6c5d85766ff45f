#pragma once

#include <QDialog>

namespace ostrel::platform {

// How a dialog's window is framed; no dialog has a system menu, hence none a close box.
enum class DialogFrame {
    CaptionOnly,
    NoCaption, // a pop-up
};

// A dialog run the way the program's dialogs have always run: OnInitDialog first, while the
// window is still hidden, then the modal loop, unless initialisation already ended the dialog,
// with the focus on the first tab stop.
class ModalDialog : public QDialog {
    Q_OBJECT

public:
    using QDialog::QDialog;

    int DoModal();
    void done(int result) override;

protected:
    virtual void OnInitDialog() = 0;
    // The control the template lists first in its tab order: it has the focus when the dialog
    // opens.
    void SetFirstTabStop(QWidget* control) { firstTabStop = control; }
    void UseFrame(DialogFrame frame);

private:
    void FocusFirstTabStop();

    QWidget* firstTabStop = nullptr;
    bool ended = false;
};

} // namespace ostrel::platform
