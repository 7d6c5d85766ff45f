#include "cli/FileCheck.h"

#include "common/UniqueFd.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>

namespace ostrel::cli {

std::optional<UpdatePlan> PlanOrSayWhy(const std::string& file, Console& console) {
    struct stat info {};
    if (::stat(file.c_str(), &info) != 0) {
        console.Error("cannot read " + file + ": " + std::strerror(errno));
        return std::nullopt;
    }
    if (S_ISDIR(info.st_mode)) {
        console.Error(file + " is a folder, not a HEX file");
        return std::nullopt;
    }
    if (!S_ISREG(info.st_mode)) {
        console.Error(file + " is not a regular file");
        return std::nullopt;
    }
    UpdatePlan plan = PlanUpdate(file);
    if (!plan.readable) {
        const UniqueFd opened(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
        console.Error(
            "cannot read " + file +
            (opened.IsValid() ? std::string() : ": " + std::string(std::strerror(errno))));
        return std::nullopt;
    }
    return plan;
}

std::string WhyNotProgrammable(const std::string& file, const UpdatePlan& plan) {
    if (plan.programFrames == 0) {
        return file + " holds no Intel HEX record to program";
    }
    if (plan.verify.length == 0) {
        return file + " holds nothing to verify: no data lands in the program memory, so an " +
               "update would only erase the module";
    }
    return {};
}

} // namespace ostrel::cli
