#pragma once

#include <string>

namespace ostrel {

enum class UpdateResult {
    Ok,
    Cancel,
};

// What the update procedure asks of the dialog it runs in.
class UpdateView {
public:
    virtual ~UpdateView() = default;
    virtual void SetProgressRange(int minimum, int maximum) = 0;
    virtual void SetProgressPosition(int position) = 0;
    // A plain message with an OK button; returns when the user has acknowledged it.
    virtual void ShowMessage(const std::string& text) = 0;
    virtual void StartTimer() = 0; // the clock of the procedure: one tick every tickPeriod
    virtual void StopTimer() = 0;
    virtual void EndDialog(UpdateResult result) = 0;
};

} // namespace ostrel
