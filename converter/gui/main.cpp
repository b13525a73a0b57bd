// vek2avi-gui: the converter's desktop program.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "converter/gui/command_line.h"
#include "converter/gui/main_form.h"
#include "converter/interrupt.h"
#include "platform/ui/application.h"
#include "platform/ui/backend.h"

int main(int argc, char** argv)
{
    // A file-size limit fails the write (and the run) instead of killing the
    // program; SIGTERM and the like during a run remove its unfinished file.
    converter::InstallInterruptHandlers();
    // A desktop program without a display would run unseen until killed:
    // the off-screen backend only when it is asked for.
    const char* backend = std::getenv("VEK_UI_BACKEND");
    if (!(backend && std::strcmp(backend, "headless") == 0) && ui::CurrentBackend() != ui::BackendKind::bkX11) {
        const char* display = std::getenv("DISPLAY");
        std::fprintf(stderr, "vek2avi-gui: cannot open display \"%s\"\n", display ? display : "");
        return 1;
    }
    ui::Application& app = ui::App();
    app.Initialize();

    auto form = std::make_unique<converter::gui::TForm1>();
    converter::gui::Form1 = form.get();
    if (argc > 1) {
        const std::string path = converter::gui::PathFromArgument(argv[1]);
        if (path.empty()) std::fprintf(stderr, "vek2avi-gui: not a local file: %s\n", argv[1]);
        form->Edit1->SetText(path);
    }
    app.SetMainForm(form.get());
    const int code = app.Run();
    converter::gui::Form1 = nullptr;
    return code;
}
