#include "tests/support/FakeModule.h"

namespace ostrel::test {

FakeModule::FakeModule(const char* address, std::vector<Bytes> scripted)
    : peer(address, 6234), replies(std::move(scripted)),
      server([this](std::stop_token stop) { Serve(stop); }) {}

FakeModule::~FakeModule() {
    server.request_stop();
    server.join();
}

void FakeModule::Serve(std::stop_token stop) {
    std::size_t reads = 0;
    while (!stop.stop_requested()) {
        const auto datagram = peer.Receive(std::chrono::milliseconds(20));
        if (!datagram) {
            continue;
        }
        {
            std::lock_guard lock(mutex);
            received.push_back(datagram->bytes);
        }
        const bool read = datagram->bytes.size() > 4 && datagram->bytes[4] == 'R';
        if (read && reads < replies.size() && !replies[reads].empty()) {
            peer.SendTo(datagram->source, replies[reads]);
        }
        reads += read;
    }
}

std::vector<FakeModule::Bytes> FakeModule::Received() const {
    std::lock_guard lock(mutex);
    return received;
}

std::vector<FakeModule::Bytes> FakeModule::Received(std::uint8_t opcode) const {
    std::vector<Bytes> matching;
    for (const Bytes& datagram : Received()) {
        if (datagram.size() > 4 && datagram[0] == 0xCA && datagram[1] == 0xFE &&
            datagram[4] == opcode) {
            matching.push_back(datagram);
        }
    }
    return matching;
}

} // namespace ostrel::test

namespace ostrel::test {

std::vector<FakeModule::Bytes> FakeModule::WaitFor(std::uint8_t opcode, std::size_t count,
                                                   std::chrono::milliseconds limit) const {
    const auto end = std::chrono::steady_clock::now() + limit;
    auto matching = Received(opcode);
    while (matching.size() < count && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        matching = Received(opcode);
    }
    return matching;
}

} // namespace ostrel::test
