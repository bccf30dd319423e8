#include "recording/session_db.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

std::shared_mutex session_index_lock;
std::string database_root;
session_index_entries session_index;

namespace {
namespace fs = std::filesystem;

bool is_candidate_folder(const fs::directory_entry& entry) {
    std::error_code error;
    const std::string name = entry.path().filename().string();
    return !name.empty() && name.front() != '.' && entry.is_directory(error);
}

// Opens one folder as a session database; its failure is reported and leaves it out.
void add_entry(session_index_entries& entries, const std::string& path,
               const session_error_sink& report_error) {
    try {
        const session_reader reader(path);
        entries.push_back({reader.info(), path});
    } catch (const std::exception& e) {
        report_error(e.what());
    }
}

bool matches(const session_index_entry& entry, const std::wstring& code, std::uint32_t dpp) {
    const session_info& info = entry.info;
    return info.has_frames && info.session_code == code && info.dpp_start <= dpp &&
           dpp <= info.dpp_end;
}
} // namespace

session_index_entries scan_database_root(const std::string& root,
                                         const session_error_sink& report_error) {
    session_index_entries entries;
    std::error_code error;
    fs::directory_iterator folder(fs::path(root), error);
    for (; !error && folder != fs::directory_iterator(); folder.increment(error)) {
        if (is_candidate_folder(*folder))
            add_entry(entries, folder->path().string(), report_error);
    }
    return entries;
}

void refresh_session_index(const session_error_sink& report_error) {
    session_index.clear();
    session_index = scan_database_root(database_root, report_error);
}

void read_indexed_frame(const std::wstring& code, std::uint32_t dpp, cv::Mat& image) {
    const auto entry = std::find_if(session_index.begin(), session_index.end(),
                                    [&](const auto& e) { return matches(e, code, dpp); });
    image.release();
    if (entry != session_index.end())
        session_reader(entry->path).read_frame(dpp, image);
    if (image.empty())
        image = not_found_image(code, dpp);
}
