// Settings files as the field leaves them: whatever bytes the file holds, the store opens without
// fault and every key reads; opening never changes the file, and a copy kept aside holds exactly
// the user's bytes.
#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <wx/init.h>

#include "base/constants.h"
#include "fuzz/fuzz_check.h"
#include "harness/temp_dir.h"
#include "settings/settings.h"
#include "settings/settings_store.h"

namespace {
namespace fs = std::filesystem;

fs::path config_folder() {
    static temp_dir home("tresvik-fuzz-home");
    setenv("HOME", home.path().c_str(), 1);
    return fs::path(home.path()) / user_folder_name / "config";
}

void read_every_key(const wxConfigBase& store) {
    wxString path;
    read_side(store), read_side_for_startup_row(store), read_driver(store), read_rotate180(store);
    read_show_scale(store), read_scale(store), read_write_path(store);
    read_stored_write_path(store, &path), read_dpp_port(store);
    read_coordinate_server_address(store), read_coordinate_server_port(store);
    read_data_service_port(store), read_exposure_mode(store);
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::setlocale(LC_ALL, "C.UTF-8");
    static wxInitializer wx;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fs::path folder = config_folder();
    const fs::path file = folder / ".tresvik";
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    fs::remove_all(folder);
    fs::create_directories(folder);
    std::ofstream(file, std::ios::binary) << bytes;
    read_every_key(*open_settings().store);
    for (const auto& entry : fs::directory_iterator(folder))
        fuzz_require(read_file(entry.path()) == bytes, "the user's bytes changed or were lost");
    return 0;
}
