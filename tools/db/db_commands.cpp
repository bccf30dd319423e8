#include "tools/db/db_commands.h"

#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>

#include <opencv2/imgcodecs.hpp>
#include <unistd.h>

#include "recording/session_db.h"
#include "recording/session_format.h"
#include "tools/db/session_rows.h"

const char* const usage_text =
    "usage: tresvik-db list ROOT [--json]\n"
    "       tresvik-db info PATH [--json]\n"
    "       tresvik-db frame PATH DPP OUT.png\n"
    "       tresvik-db export PATH OUTDIR [--from DPP] [--to DPP] [--format png|jpg]\n"
    "\n"
    "list    one line per session under ROOT: path, session code, orientation, side,\n"
    "        start time, end time, DPP start, DPP end, size in bytes (tab-separated;\n"
    "        \"-\" for a session without frames). Folders that are no readable session\n"
    "        are reported on standard error and skipped.\n"
    "info    the same for one session folder, plus its frame count.\n"
    "frame   saves the frame at or after DPP as an image file (BGR, as recorded).\n"
    "export  one file per frame in OUTDIR, named by its frame key; jpg writes the\n"
    "        stored JPEG bytes unchanged. Frames whose value is no image are\n"
    "        reported and skipped, and the exit status is then 1.\n";

namespace {
namespace fs = std::filesystem;

struct command_shape {
    std::size_t operands;
    bool takes_json;
    bool takes_range;
};

const std::map<std::string, command_shape> command_shapes = {
    {"list", {1, true, false}},
    {"info", {1, true, false}},
    {"frame", {3, false, false}},
    {"export", {2, false, true}},
};

std::uint32_t dpp_argument(const std::string& text) {
    try {
        return parse_dpp_argument(text);
    } catch (const std::invalid_argument& e) {
        throw usage_error(std::string("bad DPP: ") + e.what());
    }
}

// Takes the value of an option that needs one; moves the index past it.
const std::string& option_value(const std::vector<std::string>& arguments, std::size_t& i) {
    if (i + 1 >= arguments.size())
        throw usage_error(arguments[i] + " needs a value");
    return arguments[++i];
}

void parse_option(const std::vector<std::string>& arguments, std::size_t& i, command_line& line) {
    const command_shape& shape = command_shapes.at(line.command);
    const std::string& option = arguments[i];
    if (option == "--json" && shape.takes_json)
        line.json = true;
    else if (option == "--from" && shape.takes_range)
        line.from = dpp_argument(option_value(arguments, i));
    else if (option == "--to" && shape.takes_range)
        line.to = dpp_argument(option_value(arguments, i));
    else if (option == "--format" && shape.takes_range)
        line.format = option_value(arguments, i);
    else
        throw usage_error("unknown option for " + line.command + ": " + option);
}

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
} // namespace

command_line parse_command_line(const std::vector<std::string>& arguments) {
    if (arguments.empty() || command_shapes.count(arguments[0]) == 0)
        throw usage_error(arguments.empty() ? "no command" : "unknown command: " + arguments[0]);
    command_line line;
    line.command = arguments[0];
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        if (arguments[i].size() > 2 && arguments[i].compare(0, 2, "--") == 0)
            parse_option(arguments, i, line);
        else
            line.operands.push_back(arguments[i]);
    }
    if (line.operands.size() != command_shapes.at(line.command).operands)
        throw usage_error("wrong number of operands for " + line.command);
    if (line.format != "png" && line.format != "jpg")
        throw usage_error("unknown format: " + line.format);
    if (line.from && line.to && *line.from > *line.to)
        throw usage_error("--from is above --to");
    return line;
}

namespace {
int list_sessions(const command_line& line) {
    const std::string& root = line.operands[0];
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
    const auto reader = open_session(line.operands[0]);
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
    const std::uint32_t dpp = dpp_argument(line.operands[1]);
    const auto reader = open_session(line.operands[0]);
    reader->seek_frame(dpp);
    cv::Mat image;
    if (on_frame(reader->current_cursor()))
        reader->read_frame_at_cursor(image);
    if (image.empty())
        throw std::runtime_error("no frame at or after DPP " + std::to_string(dpp) + " in " +
                                 line.operands[0]);
    write_image(line.operands[2], image);
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
    const std::string last_key = frame_key(line.to.value_or(missing_dpp));
    export_counts counts;
    progress_line progress;
    leveldb::Iterator& cursor = reader.current_cursor();
    for (reader.seek_frame(line.from.value_or(0));
         on_frame(cursor) && cursor_key(cursor) <= last_key; cursor.Next()) {
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
    const auto reader = open_session(line.operands[0]);
    const fs::path folder = line.operands[1];
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
