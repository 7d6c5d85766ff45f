#pragma once

#include "cli/Console.h"

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace ostrel::cli {

// The fields of an object but "event", as CSV names and values.
std::string CsvHeader(const nlohmann::ordered_json& object);
std::string CsvLine(const nlohmann::ordered_json& object);

// The ledger's rows as a command prints them: a JSON line each with --json; with --csv a header
// line and a line each, every text made printable; otherwise a line of text each.
template <typename Row, typename ToJson, typename ToText>
void PrintRows(const std::vector<Row>& rows, ToJson json, ToText text, bool csv, Console& console) {
    if (csv && !console.JsonLines()) {
        console.Say(CsvHeader(json(Row{})));
    }
    for (const Row& row : rows) {
        const nlohmann::ordered_json object = json(row);
        console.Json(nlohmann::json(object));
        if (console.JsonLines()) {
            continue;
        }
        console.Say(csv ? CsvLine(object) : text(row));
    }
}

} // namespace ostrel::cli
