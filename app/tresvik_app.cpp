#include "app/tresvik_app.h"

#include <cstdlib>
#include <exception>

#include <wx/msgdlg.h>

#include "app/tresvik_frame.h"
#include "app/user_locale.h"
#include "base/constants.h"
#include "base/encoding.h"

namespace {
constexpr long error_box = wxOK | wxICON_ERROR;
}

bool tresvik::OnInit() {
    adopt_user_locale();
    if (instance_checker_.IsAnotherRunning()) {
        show_box("Another program instance is already running, aborting.", "Error", error_box);
        return false;
    }
    wxHandleFatalExceptions(false);
    try {
        wxFrame* frame = create_main_window();
        SetTopWindow(frame);
        frame->Show();
        return true;
    } catch (const std::exception& e) {
        show_box(readable_text(e.what()), "C++ exception", error_box);
        // Without a window nothing would ever end the main loop, and the process would keep the
        // single-instance lock: end start-up here.
        return false;
    } catch (...) {
        show_box("Unknown exception. Application will be closed", "Fatal error", error_box);
        end_process(1);
        return false;
    }
}

int tresvik::OnExit() {
    return 0;
}

bool tresvik::OnExceptionInMainLoop() {
    try {
        throw;
    } catch (const std::exception& e) {
        show_box(readable_text(e.what()), "C++ exception", error_box);
        return true;
    } catch (...) {
        show_box(L"Программа будет завершена.", L"Неизвестное исключение.", error_box);
        return false;
    }
}

void tresvik::OnUnhandledException() {
    show_box("Unhandled exception", "Error", wxOK | wxCENTRE);
}

void tresvik::show_box(const wxString& text, const wxString& caption, long style) {
    wxMessageBox(text, caption, style, nullptr);
}

wxFrame* tresvik::create_main_window() {
    auto* frame = new tresvik_frame(nullptr, id_main_window, L"Подвагонные камеры",
                                    wxDefaultPosition, wxDefaultSize);
    frame->show_failures_with(
        [this] { OnUnhandledException(); },
        [this](const wxString& text) { show_box(text, "C++ exception", error_box); });
    return frame;
}

void tresvik::end_process(int exit_code) {
    std::_Exit(exit_code);
}
