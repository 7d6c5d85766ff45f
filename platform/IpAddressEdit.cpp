#include "platform/IpAddressEdit.h"

#include <QHBoxLayout>
#include <QIntValidator>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>

namespace ostrel::platform {

IpAddressEdit::IpAddressEdit(QWidget* parent) : QFrame(parent) {
    // Looks like one edit field holding the four numbers.
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(2, 1, 2, 1);
    layout->setSpacing(0);
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) {
            layout->addWidget(new QLabel(QStringLiteral("."), this));
        }
        auto* field = new QLineEdit(this);
        field->setValidator(new QIntValidator(0, 255, field));
        field->setMaxLength(3);
        field->setAlignment(Qt::AlignCenter);
        field->setFrame(false);
        field->setFixedWidth(field->fontMetrics().horizontalAdvance(QStringLiteral("0000")));
        field->installEventFilter(this);
        layout->addWidget(field);
        fields[i] = field;
        connect(field, &QLineEdit::textEdited, this, [this, i](const QString& text) {
            if (text.size() == 3 && i + 1 < fields.size()) {
                fields[i + 1]->setFocus();
                fields[i + 1]->selectAll();
            }
        });
    }
    setFocusProxy(fields[0]);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Base);
}

DeviceAddress IpAddressEdit::Address() const {
    DeviceAddress address = 0;
    for (const QLineEdit* field : fields) {
        address = address << 8 | (field->text().toUInt() & 0xFFu);
    }
    return address;
}

void IpAddressEdit::SetAddress(DeviceAddress address) {
    for (std::size_t i = 0; i < fields.size(); ++i) {
        fields[i]->setText(QString::number((address >> (24 - 8 * i)) & 0xFFu));
    }
}

void IpAddressEdit::Clear() {
    for (QLineEdit* field : fields) {
        field->clear();
    }
}

bool IpAddressEdit::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        for (std::size_t i = 0; i + 1 < fields.size(); ++i) {
            if (watched == fields[i] && key->text() == QStringLiteral(".") &&
                !fields[i]->text().isEmpty()) {
                fields[i + 1]->setFocus();
                fields[i + 1]->selectAll();
                return true;
            }
        }
    }
    return QFrame::eventFilter(watched, event);
}

} // namespace ostrel::platform
