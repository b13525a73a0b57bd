#pragma once
// The application object: the main form, the message loop, and the
// framework's handling of exceptions that escape an event handler. By
// default such an exception is shown in a message box with its message and
// the loop goes on; a crash reporter replaces that with OnException.
#include <exception>
#include <functional>
#include <string>

#include "platform/ui/form.h"

namespace ui {

class Application {
public:
    static Application& Instance();

    // Makes the toolkit's windows the dialog provider and routes escaping
    // exceptions to HandleException. Call once on the user-interface thread.
    void Initialize();
    bool Initialized() const { return initialized_; }

    std::string Title; // caption of the exception message box; the program name by default

    // The first form made main is the main form; closing it ends Run.
    void SetMainForm(Form* form);
    Form* MainForm() const { return mainForm_; }
    // Shows the main form and runs the message loop until it is closed (or
    // Terminate). Returns the exit code.
    int Run();
    void Terminate(int exitCode = 0);
    // Handles every message waiting now.
    void ProcessMessages();

    // Replaceable handling of an exception that escaped an event handler.
    std::function<void(std::exception_ptr)> OnException;
    void HandleException(std::exception_ptr e);
    // The default: a message box with the message (error icon, OK).
    void ShowException(std::exception_ptr e);
    // The message text ShowException shows: the exception's message, with a
    // full stop added when it does not end in one, as the framework does.
    static std::string ExceptionText(std::exception_ptr e);

private:
    Application();
    bool initialized_ = false;
    Form* mainForm_ = nullptr;
    bool inHandler_ = false;
};

inline Application& App() { return Application::Instance(); }

} // namespace ui
