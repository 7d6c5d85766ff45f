#pragma once

#include <string>

#include <QAbstractItemModel>

namespace ostrel {

// The table as the window shows it (its order, its filter) as CSV with a header line; every
// text made printable. False when the file cannot be written.
bool WriteTableCsv(const QAbstractItemModel& shown, const std::string& path);

} // namespace ostrel
