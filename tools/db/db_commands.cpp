#include "tools/db/db_commands.h"

#include <filesystem>
#include <fstream>
#include <iostream>
#include <limits>

#include <opencv2/imgcodecs.hpp>
#include <unistd.h>

#include "recording/session_format.h"
#include "recording/session_store.h"
#include "tools/common/command_line.h"
#include "tools/db/session_rows.h"

namespace fs = std::filesystem;

void require_folder(const std::string& path) {
    std::error_code error;
    if (!fs::is_directory(path, error))
        throw std::runtime_error(path + ": no such folder");
}

namespace {
void add_session_folder(CLI::App& command, command_line& line) {
    command.add_option("PATH", line.path, "a session folder")->required();
}

CLI::Option* add_dpp(CLI::App& command, const std::string& name, std::uint32_t& dpp,
                     const std::string& description) {
    return add_number(command, name, dpp, 0, std::numeric_limits<std::uint32_t>::max(), description)
        ->type_name("DPP");
}

void add_export(CLI::App& app, command_line& line) {
    CLI::App* command =
        add_command(app, line, "export",
                    "one file per frame in OUTDIR, named by its frame key; jpg writes the\n"
                    "stored JPEG bytes unchanged. Frames whose value is no image, or declares\n"
                    "more pixels than a camera gives, are reported and skipped, and the exit\n"
                    "status is then 1. Keys that are no frame keys are passed over and counted.");
    add_session_folder(*command, line);
    command->add_option("OUTDIR", line.output, "the folder to write to")->required();
    add_dpp(*command, "--from", line.from, "the first DPP of the range");
    add_dpp(*command, "--to", line.to, "the last DPP of the range");
    add_choice(*command, "--format", line.format, {{"png", "png"}, {"jpg", "jpg"}},
               "image file format");
    command->callback([&line] {
        if (line.from > line.to)
            throw CLI::ValidationError("--from is above --to");
    });
}
} // namespace

CLI::App* add_command(CLI::App& app, command_line& line, const std::string& name,
                      const std::string& description) {
    CLI::App* command = app.add_subcommand(name, description);
    command->parse_complete_callback([&line, name] { line.command = name; });
    return command;
}

void add_db_commands(CLI::App& app, command_line& line) {
    app.require_subcommand(1);
    CLI::App* list =
        add_command(app, line, "list",
                    "one line per session under ROOT: path, session code, orientation, side,\n"
                    "start time, end time, DPP start, DPP end, size in bytes (tab-separated;\n"
                    "\"-\" for a session without frames). Folders that are no readable session\n"
                    "are reported on standard error and skipped.");
    list->add_option("ROOT", line.path, "the folder that holds the sessions")->required();
    list->add_flag("--json", line.json, "a JSON array of objects with the same fields");
    CLI::App* info =
        add_command(app, line, "info",
                    "the same for one session folder, plus its number of frames and of other\n"
                    "keys (neither frames nor metadata, passed over by every command).");
    add_session_folder(*info, line);
    info->add_flag("--json", line.json, "a JSON object");
    CLI::App* frame = add_command(app, line, "frame",
                                  "saves the frame at or after DPP as an image file (BGR, as "
                                  "recorded).");
    add_session_folder(*frame, line);
    add_dpp(*frame, "DPP", line.dpp, "the odometer count")->required();
    frame->add_option("OUT.png", line.output, "the image file to write")->required();
    add_export(app, line);
}

namespace {
void print_repair(const std::string& message) {
    std::cerr << "tresvik-db: " << message << '\n';
}

int list_sessions(session_store& sessions, const command_line& line) {
    sessions.refresh_session_index(
        [](const std::string& message) { std::cerr << "tresvik-db: skipped: " << message << '\n'; },
        print_repair);
    const session_index_entries entries = sessions.entries();
    if (!line.json) {
        for (const auto& entry : entries)
            std::cout << session_row(entry) << '\n';
        return 0;
    }
    std::cout << '[';
    for (std::size_t i = 0; i < entries.size(); ++i)
        std::cout << (i ? ",\n " : "\n ") << session_json(entries[i]);
    std::cout << "\n]\n";
    return 0;
}

int show_info(const session_reader& reader, const command_line& line) {
    const session_index_entry entry{reader.info(), reader.path()};
    const key_counts counts = reader.count_keys();
    if (line.json) {
        std::cout << session_json(entry, counts) << '\n';
        return 0;
    }
    const std::vector<std::string> fields = session_fields(entry);
    for (std::size_t i = 0; i < fields.size(); ++i)
        std::cout << session_field_names[i] << '\t' << fields[i] << '\n';
    std::cout << "frames\t" << counts.frames << "\nother keys\t" << counts.others << '\n';
    return 0;
}

void write_image(const std::string& file, const cv::Mat& image) {
    bool written = false;
    try {
        written = cv::imwrite(file, image);
    } catch (const cv::Exception& e) {
        throw std::runtime_error(file + ": " + e.what());
    }
    if (!written)
        throw std::runtime_error(file + ": cannot write the image");
}

// The frame under the cursor as every reader decodes it; why it was not decoded otherwise.
decoded_frame decode_at(const frame_cursor& cursor) {
    return decode_stored_frame(cursor.bytes(), cv::IMREAD_COLOR);
}

int save_frame(const session_reader& reader, const command_line& line) {
    frame_cursor cursor = reader.frames();
    const decoded_frame frame = cursor.seek(line.dpp) ? decode_at(cursor) : decoded_frame();
    if (!frame.refused.empty())
        throw std::runtime_error("frame " + frame_key(cursor.dpp()) + " in " + line.path +
                                 " is not decoded: " + frame.refused);
    if (frame.image.empty())
        throw std::runtime_error("no frame at or after DPP " + std::to_string(line.dpp) + " in " +
                                 line.path);
    write_image(line.output, frame.image);
    std::cout << frame_key(cursor.dpp()) << '\n';
    return 0;
}
} // namespace

namespace {
// A single progress line on a terminal, rewritten in place; nothing when stderr is redirected.
class progress_line {
public:
    progress_line() : shown_(isatty(STDERR_FILENO) != 0) {}
    ~progress_line() { end_line(); }
    void update(std::uint64_t frames, const std::string& key) {
        if (!shown_)
            return;
        std::cerr << "\rexported " << frames << " frames, at " << key << std::flush;
        drawn_ = true;
    }
    void warn(const std::string& text) {
        end_line();
        std::cerr << "tresvik-db: " << text << '\n';
    }

private:
    void end_line() {
        if (drawn_)
            std::cerr << '\n';
        drawn_ = false;
    }

    bool shown_;
    bool drawn_ = false;
};

void write_bytes(const std::string& file, std::string_view bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out.flush())
        throw std::runtime_error(file + ": cannot write the file");
}

// Writes the frame under the cursor; why it was skipped otherwise.
std::string export_frame(const frame_cursor& cursor, const fs::path& folder,
                         const std::string& format) {
    const std::string file = (folder / (frame_key(cursor.dpp()) + "." + format)).string();
    if (format == "jpg") {
        std::string refused = frame_refusal(cursor.bytes());
        if (refused.empty())
            write_bytes(file, cursor.bytes());
        return refused;
    }
    const decoded_frame frame = decode_at(cursor);
    if (frame.image.empty())
        return frame.refused.empty() ? "not an image" : frame.refused;
    write_image(file, frame.image);
    return {};
}

struct export_counts {
    std::uint64_t exported = 0;
    std::uint64_t skipped = 0;
    std::uint64_t other_keys = 0;
};

// From --from 0 the walk starts at the first key, so that it also counts what sorts before
// every frame key (an empty key, for one).
export_counts export_range(const session_reader& reader, const fs::path& folder,
                           const command_line& line) {
    export_counts counts;
    progress_line progress;
    frame_cursor cursor = reader.frames(line.to);
    for (bool more = cursor.seek(line.from); more; more = cursor.next()) {
        const std::string refused = export_frame(cursor, folder, line.format);
        const std::string key = frame_key(cursor.dpp());
        if (refused.empty()) {
            progress.update(++counts.exported, key);
        } else {
            ++counts.skipped;
            progress.warn("skipped " + key + ": " + refused);
        }
    }
    counts.other_keys = cursor.passed();
    return counts;
}

int export_frames(const session_reader& reader, const command_line& line) {
    const fs::path folder = line.output;
    fs::create_directories(folder);
    const export_counts counts = export_range(reader, folder, line);
    std::cout << "exported " << counts.exported << " frames to " << folder.string();
    if (counts.other_keys > 0)
        std::cout << " (other keys skipped: " << counts.other_keys << ")";
    std::cout << '\n';
    return counts.skipped == 0 ? 0 : 1;
}
} // namespace

// The tool's own store, on ROOT for list; a reader's errors name the folder.
int run_command(const command_line& line) {
    require_folder(line.path);
    session_store sessions(line.path);
    if (line.command == "list")
        return list_sessions(sessions, line);
    const auto reader = sessions.open_reader(line.path, print_repair);
    if (line.command == "info")
        return show_info(*reader, line);
    if (line.command == "frame")
        return save_frame(*reader, line);
    return export_frames(*reader, line);
}
