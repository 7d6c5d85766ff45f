#include "cli/LedgerOutput.h"

#include "common/CsvField.h"
#include "common/SafeText.h"

namespace ostrel::cli {

std::string CsvHeader(const nlohmann::ordered_json& object) {
    std::string line;
    for (auto field = object.begin(); field != object.end(); ++field) {
        if (field.key() != "event") {
            // Appended piece by piece: GCC 12 warns falsely on literal + temporary at -O3.
            line.append(line.empty() ? "" : ",").append(field.key());
        }
    }
    return line;
}

std::string CsvLine(const nlohmann::ordered_json& object) {
    std::string line;
    bool first = true;
    for (auto field = object.begin(); field != object.end(); ++field) {
        if (field.key() == "event") {
            continue;
        }
        const std::string text = field->is_string() ? field->get<std::string>()
                                 : field->is_null() ? std::string()
                                                    : field->dump();
        line.append(first ? "" : ",").append(CsvField(SafeText(text)));
        first = false;
    }
    return line;
}

} // namespace ostrel::cli
