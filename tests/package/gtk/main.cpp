// A GTK 3 program with three buttons, each reached by its mnemonic: "Crash"
// writes through a null pointer in its handler, "Freeze" blocks the main
// loop for three seconds, "Ping" prints "pong", "Quit" ends it.
#include <gtk/gtk.h>

#include <chrono>
#include <cstdio>
#include <thread>

namespace app {

volatile int* g_cells = nullptr;

__attribute__((noinline, noclone)) void OnCrashClicked(GtkButton*, gpointer)
{
    g_cells[3] = 3; // the fault
}

void OnFreezeClicked(GtkButton*, gpointer) { std::this_thread::sleep_for(std::chrono::seconds(3)); }

void OnPingClicked(GtkButton*, gpointer)
{
    std::printf("pong\n");
    std::fflush(stdout);
}

void OnMapped(GtkWidget*, GdkEvent*, gpointer)
{
    std::printf("window: shown\n");
    std::fflush(stdout);
}

} // namespace app

int main(int argc, char** argv)
{
    gtk_init(&argc, &argv);
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window), "GTK program");
    gtk_window_set_default_size(GTK_WINDOW(window), 360, 220);
    gtk_window_move(GTK_WINDOW(window), 60, 60);
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 8);
    gtk_container_set_border_width(GTK_CONTAINER(box), 12);
    gtk_container_add(GTK_CONTAINER(window), box);
    const struct {
        const char* label;
        GCallback handler;
    } buttons[] = {{"_Crash", G_CALLBACK(app::OnCrashClicked)},
                   {"_Freeze", G_CALLBACK(app::OnFreezeClicked)},
                   {"_Ping", G_CALLBACK(app::OnPingClicked)},
                   {"_Quit", G_CALLBACK(gtk_main_quit)}};
    for (const auto& b : buttons) {
        GtkWidget* button = gtk_button_new_with_mnemonic(b.label);
        g_signal_connect(button, "clicked", b.handler, nullptr);
        gtk_box_pack_start(GTK_BOX(box), button, TRUE, TRUE, 0);
    }
    g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);
    g_signal_connect(window, "map-event", G_CALLBACK(app::OnMapped), nullptr);
    gtk_widget_show_all(window);
    gtk_main();
    return 0;
}
