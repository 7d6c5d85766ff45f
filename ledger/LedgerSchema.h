#pragma once

#include "ledger/Sqlite.h"

#include <string>

namespace ostrel {

// The ledger's tables, version by version, and the way from each version to the next: a file
// of any earlier version is brought up to date when it is opened, inside one transaction.
class LedgerSchema {
public:
    static constexpr int current = 2;

    // The statements that make version `version` from the one before it.
    static const char* StepTo(int version);
    // Brings the file (a new one is version 0) to the current version, holding the write lock
    // from reading its version to the last step, so that two programs opening one new file make
    // its tables once. A file of a newer version is refused whole: it is some later Ostrel's,
    // and stays as it is.
    static bool Migrate(SqlDatabase& database, std::string& error);
    static int VersionOf(SqlDatabase& database, std::string& error);
};

} // namespace ostrel
