#include "platform/ModalDialog.h"

namespace ostrel::platform {

int ModalDialog::DoModal() {
    ended = false;
    OnInitDialog();
    if (ended) {
        return result();
    }
    FocusFirstTabStop();
    return exec();
}

void ModalDialog::FocusFirstTabStop() {
    // As a dialog template opens: the focus starts on the first control of the tab order, or
    // on the next one that can take it.
    QWidget* widget = firstTabStop;
    while (widget != nullptr && widget != this &&
           !(widget->isEnabled() && widget->isVisibleTo(this) &&
             (widget->focusPolicy() & Qt::TabFocus))) {
        widget = widget->nextInFocusChain();
    }
    if (widget != nullptr && widget != this) {
        widget->setFocus(Qt::TabFocusReason);
    }
}

void ModalDialog::UseFrame(DialogFrame frame) {
    switch (frame) {
    case DialogFrame::CaptionOnly:
        setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
        return;
    case DialogFrame::NoCaption:
        setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint);
        return;
    }
}

void ModalDialog::done(int resultCode) {
    ended = true;
    QDialog::done(resultCode);
}

} // namespace ostrel::platform
