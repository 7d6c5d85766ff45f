#include "fleet/qt/ProgressDelegate.h"

#include "fleet/qt/FleetTableModel.h"

#include <QApplication>
#include <QStyleOptionProgressBar>

namespace ostrel {

void ProgressDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                             const QModelIndex& index) const {
    const int percent = index.data(FleetTableModel::PercentRole).toInt();
    if (percent < 0) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    QStyleOptionProgressBar bar;
    bar.rect = option.rect.adjusted(1, 1, -1, -1);
    bar.minimum = 0;
    bar.maximum = 100;
    bar.progress = percent;
    bar.text = QStringLiteral("%1 %2 %").arg(index.data(Qt::DisplayRole).toString()).arg(percent);
    bar.textVisible = true;
    // Without it a style draws a vertical bar, or none.
    bar.state = option.state | QStyle::State_Horizontal;
    const QStyle* style = option.widget != nullptr ? option.widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ProgressBar, &bar, painter, option.widget);
}

} // namespace ostrel
