#include "platform/ui/application.h"

#include <cstdio>
#include <fstream>

#include "platform/rtl/exception.h"
#include "platform/ui/message_box.h"
#include "platform/ui/window_dialogs.h"

namespace ui {

namespace {
std::string ProgramName()
{
    std::ifstream in("/proc/self/comm");
    std::string name;
    std::getline(in, name);
    return name.empty() ? "Application" : name;
}
} // namespace

Application::Application() : Title(ProgramName()) {}

Application& Application::Instance()
{
    static Application app;
    return app;
}

void Application::Initialize()
{
    if (initialized_) return;
    initialized_ = true;
    SetDialogProvider(&WindowDialogs());
    SetDispatchExceptionHandler([this](std::exception_ptr e) { HandleException(e); });
}

void Application::SetMainForm(Form* form)
{
    mainForm_ = form;
    if (!form) return;
    auto previous = form->OnClose;
    form->OnClose = [this, previous](Form& f) {
        if (previous) previous(f);
        if (&f == mainForm_) Terminate(0);
    };
}

int Application::Run()
{
    if (mainForm_) mainForm_->Show();
    Msg m;
    while (GetMessage(m)) DispatchMessage(m);
    return static_cast<int>(m.wParam);
}

void Application::Terminate(int exitCode) { PostQuitMessage(exitCode); }

void Application::ProcessMessages() { PumpPending(false); }

void Application::HandleException(std::exception_ptr e)
{
    if (OnException) {
        OnException(e);
        return;
    }
    ShowException(e);
}

std::string Application::ExceptionText(std::exception_ptr e)
{
    std::string text;
    try {
        std::rethrow_exception(e);
    } catch (const rtl::Exception& x) {
        text = x.Message;
    } catch (const std::exception& x) {
        text = x.what();
    } catch (...) {
        text = "Unknown exception";
    }
    if (!text.empty() && text.back() != '.') text += '.';
    return text;
}

void Application::ShowException(std::exception_ptr e)
{
    const std::string text = ExceptionText(e);
    if (inHandler_) {
        // An exception while showing one: do not stack boxes without end.
        std::fprintf(stderr, "%s\n", text.c_str());
        return;
    }
    inHandler_ = true;
    try {
        ShowMessageBox(ActiveForm(), text, Title, MB_OK | MB_ICONERROR);
    } catch (...) {
        std::fprintf(stderr, "%s\n", text.c_str());
    }
    inHandler_ = false;
}

} // namespace ui
