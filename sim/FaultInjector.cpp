#include "sim/FaultInjector.h"

namespace ostrel::sim {

FaultInjector::FaultInjector(const FaultSettings& chosen) : settings(chosen), random(chosen.seed) {}

std::optional<std::string_view> FaultInjector::Lose() {
    // One draw per datagram whatever else decides, so the loss pattern of a seed depends only
    // on the order of arrival.
    const double draw = static_cast<double>(random() >> 11) * 0x1.0p-53;
    if (settings.silent) {
        return "silent";
    }
    if (draw < settings.loss) {
        return "loss";
    }
    return std::nullopt;
}

bool FaultInjector::DropFirst(std::string_view commandKey) {
    if (settings.dropFirst == 0) {
        return false;
    }
    auto it = seen.find(commandKey);
    if (it == seen.end()) {
        it = seen.emplace(std::string(commandKey), 0).first;
    }
    if (it->second >= settings.dropFirst) {
        return false;
    }
    ++it->second;
    return true;
}

} // namespace ostrel::sim
