#include "platform/IpAddressEdit.h"

#include <QFocusEvent>
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
    setFocusPolicy(Qt::StrongFocus); // the control is the tab stop, its fields are not
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
        field->setFocusPolicy(Qt::ClickFocus);
        field->setFixedWidth(field->fontMetrics().horizontalAdvance(QStringLiteral("0000")));
        field->installEventFilter(this);
        layout->addWidget(field);
        fields[i] = field;
        connect(field, &QLineEdit::textEdited, this, [this, i](const QString& text) {
            if (text.size() == 3 && i + 1 < fields.size()) {
                EnterField(i + 1, false);
                fields[i + 1]->selectAll();
            }
        });
    }
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

void IpAddressEdit::focusInEvent(QFocusEvent* event) {
    // Coming in by Tab, Shift+Tab or from the program, the first field takes the keys.
    QFrame::focusInEvent(event);
    fields[0]->setFocus(event->reason());
    fields[0]->selectAll();
}

void IpAddressEdit::EnterField(std::size_t index, bool atEnd) {
    fields[index]->setFocus(Qt::OtherFocusReason);
    fields[index]->setCursorPosition(atEnd ? static_cast<int>(fields[index]->text().size()) : 0);
}

void IpAddressEdit::LeaveControl(bool forward) {
    QWidget* next = this;
    do {
        next = forward ? next->nextInFocusChain() : next->previousInFocusChain();
    } while (next != this && (isAncestorOf(next) || !(next->focusPolicy() & Qt::TabFocus) ||
                              !next->isEnabled() || !next->isVisibleTo(window())));
    if (next != this) {
        next->setFocus(forward ? Qt::TabFocusReason : Qt::BacktabFocusReason);
    }
}

bool IpAddressEdit::HandleFieldKey(std::size_t index, const QKeyEvent& key) {
    const QLineEdit& field = *fields[index];
    const bool first = index == 0;
    const bool last = index + 1 == fields.size();
    const bool noSelection = !field.hasSelectedText();
    const bool atStart = noSelection && field.cursorPosition() == 0;
    const bool atEnd = noSelection && field.cursorPosition() == field.text().size();
    const bool plain = (key.modifiers() & ~(Qt::KeypadModifier | Qt::ShiftModifier)) == 0;
    switch (key.key()) {
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        if ((key.modifiers() & (Qt::ControlModifier | Qt::AltModifier)) != 0) {
            return false;
        }
        LeaveControl(key.key() == Qt::Key_Tab && !(key.modifiers() & Qt::ShiftModifier));
        return true;
    case Qt::Key_Left:
    case Qt::Key_Backspace:
        if (plain && atStart && !first) {
            EnterField(index - 1, true);
            return true;
        }
        return false;
    case Qt::Key_Right:
        if (plain && atEnd && !last) {
            EnterField(index + 1, false);
            return true;
        }
        return false;
    default:
        if (key.text() == QStringLiteral(".") && !field.text().isEmpty() && !last) {
            EnterField(index + 1, false);
            fields[index + 1]->selectAll();
            return true;
        }
        return false;
    }
}

bool IpAddressEdit::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        for (std::size_t i = 0; i < fields.size(); ++i) {
            if (watched == fields[i] && HandleFieldKey(i, *static_cast<QKeyEvent*>(event))) {
                return true;
            }
        }
    }
    return QFrame::eventFilter(watched, event);
}

} // namespace ostrel::platform
