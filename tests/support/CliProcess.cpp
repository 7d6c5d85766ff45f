#include "tests/support/CliProcess.h"

#include <sstream>

namespace ostrel::test {

std::vector<nlohmann::json> CliRun::JsonLines() const {
    std::vector<nlohmann::json> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(nlohmann::json::parse(line));
    }
    return lines;
}

nlohmann::json CliRun::End() const {
    const auto lines = JsonLines();
    for (auto line = lines.rbegin(); line != lines.rend(); ++line) {
        if ((*line)["event"] == "end") {
            return *line;
        }
    }
    return nlohmann::json::object();
}

std::unique_ptr<ChildProcess> CliLauncher::Start(const std::vector<std::string>& args) const {
    ChildOptions options;
    options.outputPath = dir.File("out.txt").string();
    options.errorPath = dir.File("err.txt").string();
    return std::make_unique<ChildProcess>(program, args, options);
}

CliRun CliLauncher::Run(const std::vector<std::string>& args,
                        std::chrono::milliseconds limit) const {
    auto cli = Start(args);
    CliRun run;
    run.status = cli->WaitForExit(limit);
    cli->Stop();
    run.out = Out();
    run.err = Err();
    return run;
}

std::string CliLauncher::Out() const {
    return ReadFile(dir.File("out.txt"));
}

std::string CliLauncher::Err() const {
    return ReadFile(dir.File("err.txt"));
}

} // namespace ostrel::test
