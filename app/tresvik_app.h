#pragma once

#include <wx/app.h>
#include <wx/frame.h>
#include <wx/snglinst.h>

// The application object: one instance per user, builds and shows the main window, and turns
// exceptions that escape the window's construction or an event handler into message boxes.
// Everything else belongs to the main window.
class tresvik : public wxApp {
public:
    bool OnInit() override;
    int OnExit() override;
    void OnUnhandledException() override;
    bool OnExceptionInMainLoop() override;

protected:
    // Seams for tests: the message box, the main window and the immediate end of the process.
    virtual void show_box(const wxString& text, const wxString& caption, long style);
    virtual wxFrame* create_main_window();
    virtual void end_process(int exit_code);

private:
    // Named on first use after the application and the user, so the check is per user; the lock
    // is held until the application object is destroyed.
    wxSingleInstanceChecker instance_checker_;
};
