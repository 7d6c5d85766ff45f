#include "fleet/FleetReport.h"

#include "common/CsvField.h"
#include "common/HexText.h"
#include "common/UniqueFd.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ostrel {

namespace {

std::string Seconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", seconds);
    return text;
}

std::string Csv(const ReportImage& image, const std::vector<ReportRow>& rows) {
    std::string text = "address,mac,name,version_before,version_after,result,exit_code,tries,"
                       "seconds,start,length,crc,sha256,error\n";
    for (const ReportRow& row : rows) {
        for (const std::string& field :
             {row.address, row.mac, row.name, row.versionBefore, row.versionAfter, row.result}) {
            text += CsvField(field) + ",";
        }
        text += std::to_string(row.exitCode) + "," + std::to_string(row.tries) + "," +
                Seconds(row.seconds) + "," + HexText(image.start, 8) + "," +
                std::to_string(image.length) + "," + HexText(image.crc, 4) + "," + image.sha256 +
                "," + CsvField(row.error) + "\n";
    }
    return text;
}

std::string Json(const ReportImage& image, const std::vector<ReportRow>& rows) {
    nlohmann::json report = nlohmann::json::array();
    for (const ReportRow& row : rows) {
        report.push_back({{"address", row.address},
                          {"mac", row.mac},
                          {"name", row.name},
                          {"versionBefore", row.versionBefore},
                          {"versionAfter", row.versionAfter},
                          {"result", row.result},
                          {"exitCode", row.exitCode},
                          {"tries", row.tries},
                          {"seconds", row.seconds},
                          {"start", HexText(image.start, 8)},
                          {"length", image.length},
                          {"crc", HexText(image.crc, 4)},
                          {"sha256", image.sha256},
                          {"file", image.file},
                          {"error", row.error}});
    }
    return report.dump(2) + "\n";
}

} // namespace

std::vector<ReportRow> ReportRows(const std::vector<FleetTarget>& targets,
                                  const std::vector<FleetUpdate::Module>& modules) {
    std::vector<ReportRow> rows;
    for (std::size_t i = 0; i < targets.size(); ++i) {
        const FleetUpdate::Module& module = modules[i];
        const ModuleOutcome& outcome = *module.outcome;
        rows.push_back(
            {module.target.name, module.target.mac.empty() ? outcome.mac : module.target.mac,
             outcome.name.empty() ? targets[i].name : outcome.name, targets[i].versionBefore,
             outcome.version, std::string(ResultName(outcome.result)), ToInt(outcome.code),
             outcome.tries, outcome.seconds,
             outcome.error.empty() ? std::string()
                                   : outcome.error + "; the module is left " + outcome.leftIn});
    }
    return rows;
}

std::optional<ReportFormat> ReportFormatOf(const std::string& path) {
    const std::string extension = std::filesystem::path(path).extension().string();
    if (extension == ".json") {
        return ReportFormat::Json;
    }
    if (extension == ".csv") {
        return ReportFormat::Csv;
    }
    return std::nullopt;
}

bool WriteReport(const std::string& path, ReportFormat format, const ReportImage& image,
                 const std::vector<ReportRow>& rows, std::string& error) {
    const std::string text = format == ReportFormat::Json ? Json(image, rows) : Csv(image, rows);
    const std::filesystem::path target(path);
    const std::filesystem::path folder =
        target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
    std::string name =
        (folder / std::string(".").append(target.filename().string()).append(".XXXXXX")).string();
    UniqueFd file(::mkstemp(name.data()));
    if (!file.IsValid()) {
        error = "cannot write beside " + path + ": " + std::strerror(errno);
        return false;
    }
    const auto fail = [&](const char* what) {
        error = std::string(what) + " " + path + ": " + std::strerror(errno);
        ::unlink(name.c_str());
        return false;
    };
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t wrote = ::write(file.Get(), text.data() + done, text.size() - done);
        if (wrote < 0) {
            if (errno == EINTR) {
                continue;
            }
            return fail("cannot write");
        }
        done += static_cast<std::size_t>(wrote);
    }
    if (::fchmod(file.Get(), 0644) != 0 || ::fsync(file.Get()) != 0) {
        return fail("cannot write");
    }
    file.Reset();
    if (::rename(name.c_str(), path.c_str()) != 0) {
        return fail("cannot put the report in place at");
    }
    return true;
}

std::optional<std::string> Sha256OfFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                          &EVP_MD_CTX_free);
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) {
        return std::nullopt;
    }
    std::vector<char> chunk(64 * 1024);
    while (in.read(chunk.data(), static_cast<std::streamsize>(chunk.size())) || in.gcount() > 0) {
        EVP_DigestUpdate(context.get(), chunk.data(), static_cast<std::size_t>(in.gcount()));
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned length = 0;
    if (EVP_DigestFinal_ex(context.get(), digest, &length) != 1) {
        return std::nullopt;
    }
    std::string hex;
    for (unsigned i = 0; i < length; ++i) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", digest[i]);
        hex += pair;
    }
    return hex;
}

} // namespace ostrel
