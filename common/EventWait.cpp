#include "common/EventWait.h"

#include <algorithm>

namespace ostrel {

void EventWait::Watch(int fd, std::function<void()> onReadable) {
    watched.push_back({fd, POLLIN, 0});
    handlers.push_back(std::move(onReadable));
}

void EventWait::Until(Clock::time_point when) {
    due = due ? std::min(*due, when) : when;
}

void EventWait::Wait() {
    int timeout = -1;
    if (due) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(*due - Clock::now());
        timeout = static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
    }
    if (::poll(watched.data(), watched.size(), timeout) > 0) {
        for (std::size_t i = 0; i < watched.size(); ++i) {
            if (watched[i].revents != 0) {
                handlers[i]();
            }
        }
    }
    watched.clear();
    handlers.clear();
    due.reset();
}

} // namespace ostrel
