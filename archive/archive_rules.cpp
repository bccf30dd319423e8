#include "archive/archive_rules.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

#include <nlohmann/json.hpp>

namespace {
using json = nlohmann::json;

bool ends_with(std::string_view text, std::string_view end) {
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

bool starts_with(std::string_view text, std::string_view start) {
    return text.substr(0, start.size()) == start;
}

// "2026/12/07 06:04:32 " at the start of rclone's plain lines.
bool has_log_date(std::string_view line) {
    constexpr std::string_view pattern = "dddd/dd/dd dd:dd:dd ";
    if (line.size() <= pattern.size())
        return false;
    for (std::size_t i = 0; i < pattern.size(); ++i)
        if (pattern[i] == 'd' ? !std::isdigit(static_cast<unsigned char>(line[i]))
                              : line[i] != pattern[i])
            return false;
    return true;
}

// The first line of a message and the line that gives its cause, when there is one: the lines
// between (a status code, request ids that change with every try) are left out.
std::string message_text(std::string_view text) {
    std::string message(text.substr(0, text.find('\n')));
    if (const std::size_t cause = text.find("\ncaused by: "); cause != std::string_view::npos)
        message += " (" + message_text(text.substr(cause + 12)) + ")";
    return message;
}

std::optional<int> stats_percent(const json& stats) {
    const auto bytes = stats.find("bytes"), total = stats.find("totalBytes");
    if (bytes == stats.end() || total == stats.end() || !bytes->is_number() || !total->is_number())
        return std::nullopt;
    const double whole = total->get<double>();
    const double part = whole > 0 ? bytes->get<double>() / whole : 0;
    return static_cast<int>(std::clamp(part, 0.0, 1.0) * 100);
}
} // namespace

snapshot_part snapshot_part_of(std::string_view name) {
    if (ends_with(name, ".ldb") || ends_with(name, ".sst"))
        return snapshot_part::link;
    if (name == "CURRENT" || starts_with(name, "MANIFEST-") || ends_with(name, ".log"))
        return snapshot_part::copy;
    return snapshot_part::leave;
}

folder_fingerprint fingerprint_of(const std::vector<folder_file>& files) {
    folder_fingerprint print;
    for (const folder_file& file : files) {
        const bool table = snapshot_part_of(file.name) == snapshot_part::link;
        if (table || (ends_with(file.name, ".log") && file.size > 0))
            print.push_back(file);
    }
    std::sort(print.begin(), print.end(),
              [](const folder_file& a, const folder_file& b) { return a.name < b.name; });
    return print;
}

std::string records_text(const archive_records& records) {
    json sessions = json::object();
    for (const auto& [name, record] : records) {
        json files = json::array();
        for (const folder_file& file : record.fingerprint)
            files.push_back({file.name, file.size});
        sessions[name] = {{"destination", record.destination}, {"files", files}};
    }
    return json{{"version", 1}, {"sessions", sessions}}.dump() + "\n";
}

archive_records parse_records(std::string_view text) {
    try {
        const json state = json::parse(text);
        if (state.at("version").get<int>() != 1)
            throw std::runtime_error("unknown version");
        archive_records records;
        for (const auto& [name, session] : state.at("sessions").items()) {
            archive_record& record = records[name];
            record.destination = session.at("destination").get<std::string>();
            for (const json& file : session.at("files"))
                record.fingerprint.push_back(
                    {file.at(0).get<std::string>(), file.at(1).get<std::uint64_t>()});
        }
        return records;
    } catch (const json::exception& e) {
        throw std::runtime_error(e.what());
    }
}

std::string remote_destination(const std::string& remote, const std::string& car,
                               const std::string& name) {
    const bool separated = remote.empty() || remote.back() == ':' || remote.back() == '/';
    return remote + (separated ? "" : "/") + car + "/" + name;
}

rclone_line read_rclone_line(std::string_view line) {
    rclone_line read;
    if (has_log_date(line)) {
        read.error = message_text(line.substr(20));
        return read;
    }
    if (starts_with(line, "caused by: ")) {
        read.cause = message_text(line.substr(11));
        return read;
    }
    const json record = json::parse(line, nullptr, false);
    if (!record.is_object())
        return read;
    if (const auto stats = record.find("stats"); stats != record.end() && stats->is_object())
        read.percent = stats_percent(*stats);
    const auto level = record.find("level"), message = record.find("msg");
    if (level != record.end() && *level == "error" && message != record.end() &&
        message->is_string()) {
        const auto object = record.find("object");
        const std::string about =
            object != record.end() && object->is_string() ? object->get<std::string>() + ": " : "";
        read.error = about + message_text(message->get<std::string>());
    }
    return read;
}

std::vector<std::size_t> deletion_order(const std::vector<retention_folder>& oldest_first,
                                        bool loop) {
    std::vector<std::size_t> order;
    for (const bool archived : {true, false}) {
        if (!archived && !loop)
            break;
        for (std::size_t i = 0; i < oldest_first.size(); ++i)
            if (oldest_first[i].archived == archived && !oldest_first[i].in_use)
                order.push_back(i);
    }
    return order;
}
