#pragma once

#include "ledger/Ledger.h"
#include "ledger/LedgerPlace.h"

#include <functional>
#include <optional>
#include <string>

namespace ostrel {

// A front end's hold on the ledger: it records what the program did, and when the ledger
// cannot be had or a write fails it warns once, naming the file and why, and the work goes on
// unrecorded. Without a ledger every call does nothing.
class LedgerRecorder {
public:
    using Warn = std::function<void(const std::string&)>;

    LedgerRecorder() = default;
    // Opens the place's ledger; the folder of the default place is made when missing.
    LedgerRecorder(const LedgerPlace& place, RecordedBy by, Warn warn);

    // A ledger was asked for and could be had.
    bool Recording() const { return ledger.has_value(); }
    // A ledger was asked for.
    bool Asked() const { return asked; }
    // Why it cannot be had (empty when it can, or none was asked for).
    const std::string& Problem() const { return problem; }
    Ledger* Get() { return ledger ? &*ledger : nullptr; }

    std::optional<std::int64_t> BeginUpdate(const UpdateRecord& update);
    void EndUpdate(std::optional<std::int64_t> id, const UpdateRecord& update);
    void RecordScan(const std::vector<Sighting>& heard);
    void RecordSettingsWrite(const SettingsWriteRecord& write);
    void RecordIdentify(const IdentifyRecord& identify);

private:
    void Failed(const std::string& why);

    std::optional<Ledger> ledger;
    RecordedBy by;
    Warn warn;
    std::string path;
    std::string problem;
    bool asked = false;
    bool warned = false;
};

} // namespace ostrel
