#pragma once

#include <QStyledItemDelegate>

namespace ostrel {

// Draws a row's progress as a bar, with its phase on it, where the model gives a percent.
class ProgressDelegate final : public QStyledItemDelegate {
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
};

} // namespace ostrel
