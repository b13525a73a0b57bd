#pragma once
// The converter's main window: a path edit with "Open a file", "Start",
// and the progress gauge. "Start" runs the whole conversion on the
// user-interface thread; while it runs only the gauge repaints.
#include <memory>

#include "controls/gauge.h"
#include "platform/avifile/avifile.h"
#include "converter/gui/graphic_control_host.h"
#include "platform/ui/button.h"
#include "platform/ui/edit.h"
#include "platform/ui/file_dialog_component.h"
#include "platform/ui/form.h"

namespace converter::gui {

class TForm1 : public ui::Form {
public:
    TForm1();

    controls::TGauge Gauge1;
    ui::Button* Button1;
    ui::Edit* Edit1;
    ui::Button* Button2;
    ui::TOpenDialog OpenDialog1;
    ui::TSaveDialog SaveDialog1;

    void Button1Click();
    void Button2Click();

private:
    // The compression chosen in the last run, offered again in the next.
    avifile::AVICOMPRESSOPTIONS compression_{};
    // Declared after Gauge1, so destroyed before it: the host unhooks
    // itself from the gauge while the gauge still exists.
    std::unique_ptr<GraphicControlHost> gaugeHost_;
};

// The one main window, while it exists.
extern TForm1* Form1;

} // namespace converter::gui
