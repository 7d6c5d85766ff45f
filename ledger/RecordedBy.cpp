#include "ledger/LedgerRecords.h"

#include <array>
#include <pwd.h>
#include <unistd.h>

namespace ostrel {

RecordedBy RecordedBy::ThisProcess(std::string program, std::string version) {
    RecordedBy by{{}, {}, std::move(program), std::move(version)};
    if (const passwd* entry = ::getpwuid(::geteuid()); entry != nullptr) {
        by.user = entry->pw_name;
    } else {
        by.user = std::to_string(::geteuid());
    }
    std::array<char, 256> host{};
    if (::gethostname(host.data(), host.size() - 1) == 0) {
        by.host = host.data();
    }
    return by;
}

} // namespace ostrel
