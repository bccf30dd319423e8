#include "tools/db/db_commands.h"

#include <filesystem>
#include <fstream>
#include <iostream>
#include <limits>

#include <opencv2/imgcodecs.hpp>
#include <unistd.h>

#include "recording/session_db.h"
#include "recording/session_format.h"
#include "tools/common/command_line.h"
#include "tools/db/session_rows.h"

namespace {
namespace fs = std::filesystem;

void require_folder(const std::string& path) {
    std::error_code error;
    if (!fs::is_directory(path, error))
        throw std::runtime_error(path + ": no such folder");
}

// The reader's own open error names the lock or the missing file; say which session it was.
std::unique_ptr<session_reader> open_session(const std::string& path) {
    require_folder(path);
    try {
        return std::make_unique<session_reader>(path);
    } catch (const std::exception& e) {
        throw std::runtime_error("cannot read session " + path + ": " + e.what());
    }
}

std::string cursor_key(const leveldb::Iterator& cursor) {
    return cursor.key().ToString();
}

bool on_frame(const leveldb::Iterator& cursor) {
    return cursor.Valid() && is_frame_key(cursor_key(cursor));
}

CLI::App* add_command(CLI::App& app, command_line& line, const std::string& name,
                      const std::string& description) {
    CLI::App* command = app.add_subcommand(name, description);
    command->parse_complete_callback([&line, name] { line.command = name; });
    return command;
}

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
                    "stored JPEG bytes unchanged. Frames whose value is no image are\n"
                    "reported and skipped, and the exit status is then 1.");
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
        add_command(app, line, "info", "the same for one session folder, plus its frame count.");
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
int list_sessions(const command_line& line) {
    const std::string& root = line.path;
    require_folder(root);
    const auto entries = scan_database_root(root, [](const std::string& message) {
        std::cerr << "tresvik-db: skipped: " << message << '\n';
    });
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

std::uint64_t count_frames(session_reader& reader) {
    leveldb::Iterator& cursor = reader.current_cursor();
    std::uint64_t frames = 0;
    for (cursor.SeekToFirst(); on_frame(cursor); cursor.Next())
        ++frames;
    return frames;
}

int show_info(const command_line& line) {
    const auto reader = open_session(line.path);
    const session_index_entry entry{reader->info(), reader->path()};
    const std::uint64_t frames = count_frames(*reader);
    if (line.json) {
        std::cout << session_json(entry, frames) << '\n';
        return 0;
    }
    const std::vector<std::string> fields = session_fields(entry);
    for (std::size_t i = 0; i < fields.size(); ++i)
        std::cout << session_field_names[i] << '\t' << fields[i] << '\n';
    std::cout << "frames\t" << frames << '\n';
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

int save_frame(const command_line& line) {
    const auto reader = open_session(line.path);
    reader->seek_frame(line.dpp);
    cv::Mat image;
    if (on_frame(reader->current_cursor()))
        reader->read_frame_at_cursor(image);
    if (image.empty())
        throw std::runtime_error("no frame at or after DPP " + std::to_string(line.dpp) + " in " +
                                 line.path);
    write_image(line.output, image);
    std::cout << cursor_key(reader->current_cursor()) << '\n';
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

bool looks_like_jpeg(const leveldb::Slice& value) {
    return value.size() > 3 && static_cast<unsigned char>(value[0]) == 0xFF &&
           static_cast<unsigned char>(value[1]) == 0xD8 &&
           static_cast<unsigned char>(value[2]) == 0xFF;
}

void write_bytes(const std::string& file, const leveldb::Slice& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out.flush())
        throw std::runtime_error(file + ": cannot write the file");
}

// Writes the frame under the reader's current cursor; false when its value is no image.
bool export_frame(session_reader& reader, const fs::path& folder, const std::string& format) {
    const std::string key = cursor_key(reader.current_cursor());
    const std::string file = (folder / (key + "." + format)).string();
    if (format == "jpg") {
        const leveldb::Slice value = reader.current_cursor().value();
        if (!looks_like_jpeg(value))
            return false;
        write_bytes(file, value);
        return true;
    }
    cv::Mat image;
    reader.read_frame_at_cursor(image);
    if (image.empty())
        return false;
    write_image(file, image);
    return true;
}

struct export_counts {
    std::uint64_t exported = 0;
    std::uint64_t skipped = 0;
};

export_counts export_range(session_reader& reader, const fs::path& folder,
                           const command_line& line) {
    const std::string last_key = frame_key(line.to);
    export_counts counts;
    progress_line progress;
    leveldb::Iterator& cursor = reader.current_cursor();
    for (reader.seek_frame(line.from); on_frame(cursor) && cursor_key(cursor) <= last_key;
         cursor.Next()) {
        if (export_frame(reader, folder, line.format)) {
            progress.update(++counts.exported, cursor_key(cursor));
        } else {
            ++counts.skipped;
            progress.warn("skipped " + cursor_key(cursor) + ": not an image");
        }
    }
    return counts;
}

int export_frames(const command_line& line) {
    const auto reader = open_session(line.path);
    const fs::path folder = line.output;
    fs::create_directories(folder);
    const export_counts counts = export_range(*reader, folder, line);
    std::cout << "exported " << counts.exported << " frames to " << folder.string() << '\n';
    return counts.skipped == 0 ? 0 : 1;
}
} // namespace

int run_command(const command_line& line) {
    if (line.command == "list")
        return list_sessions(line);
    if (line.command == "info")
        return show_info(line);
    if (line.command == "frame")
        return save_frame(line);
    return export_frames(line);
}
