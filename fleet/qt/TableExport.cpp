#include "fleet/qt/TableExport.h"

#include "common/CsvField.h"

#include <fstream>

namespace ostrel {

bool WriteTableCsv(const QAbstractItemModel& shown, const std::string& path) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    const auto line = [&](auto field) {
        std::string text;
        for (int column = 0; column < shown.columnCount(); ++column) {
            text.append(column == 0 ? "" : ",").append(CsvField(field(column).toStdString()));
        }
        out << text << "\n";
    };
    line([&](int column) { return shown.headerData(column, Qt::Horizontal).toString(); });
    for (int row = 0; row < shown.rowCount(); ++row) {
        line([&](int column) { return shown.index(row, column).data().toString(); });
    }
    return static_cast<bool>(out.flush());
}

} // namespace ostrel
