#include "platform/ModalDialog.h"

namespace ostrel::platform {

int ModalDialog::DoModal() {
    ended = false;
    OnInitDialog();
    if (ended) {
        return result();
    }
    return exec();
}

void ModalDialog::done(int resultCode) {
    ended = true;
    QDialog::done(resultCode);
}

} // namespace ostrel::platform
