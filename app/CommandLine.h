#pragma once

#include "app/AddressText.h"

#include <functional>
#include <span>
#include <string>
#include <string_view>

namespace ostrel {

struct CommandLineOptions {
    bool automatic = false;         // -A: update at once, no success message
    bool fileGiven = false;         // -F appeared
    std::string fileName;           // value of the last -F
    DeviceAddress startAddress = 0; // address of the last -I, else the caller's initial address
};

// The command line's tail: the arguments after the program's name, joined with single blanks.
std::string JoinArguments(std::span<char* const> argv);

// Receives every -F value at the moment it is scanned, so it is stored even when a later
// -F overrides it.
using StorePathFunction = std::function<void(const std::string&)>;

// Scans -A, -F<file> and -I<address> anywhere in the text, one option per word, letters in
// either case, without quoting.
CommandLineOptions ParseCommandLine(std::string_view text, DeviceAddress initialAddress,
                                    const StorePathFunction& storePath);

} // namespace ostrel
