// gallery OUTPUT_FOLDER [NUMBER...]: shows the main window with each skin and saves a picture of it
// as OUTPUT_FOLDER/NN-Name.png. Meant for a private X display; see make_gallery.sh.
#include <gtk/gtk.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "app/program.h"
#include "skin/engine/skin_format.h"
#include "skin/gallery/on_screen.h"
#include "skin/skin_data.h"
#include "skin/skin_deploy.h"

namespace {

bool SavePicture(GtkWidget* window, const std::string& path)
{
    GdkWindow* surface = gtk_widget_get_window(window);
    if (!surface) return false;
    GdkRectangle frame;
    gdk_window_get_frame_extents(surface, &frame);
    // From the screen, as a person would see it: the web view's page included.
    GdkPixbuf* picture =
        gdk_pixbuf_get_from_window(gdk_get_default_root_window(), frame.x, frame.y, frame.width, frame.height);
    if (!picture) return false;
    bool saved = gdk_pixbuf_save(picture, path.c_str(), "png", nullptr, nullptr);
    g_object_unref(picture);
    return saved;
}

std::string PictureName(int number)
{
    skin::Skin parsed;
    std::string name;
    if (skin::ParseSkin(SkinTableEntry(number).Bytes(), parsed) == skin::SkinError::None) name = parsed.name;
    for (char& c : name)
        if (c == ' ') c = '_';
    char prefix[8];
    std::snprintf(prefix, sizeof prefix, "%02d", number);
    return name.empty() ? prefix : std::string(prefix) + "-" + name;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: gallery OUTPUT_FOLDER [NUMBER...]\n");
        return 2;
    }
    // Absolute now: starting the runtime moves the current directory to the program's own.
    std::string folder = std::filesystem::absolute(argv[1]).string();
    std::vector<int> numbers;
    for (int i = 2; i < argc; ++i) numbers.push_back(std::atoi(argv[i]));
    if (numbers.empty())
        for (int number = 1; number <= kSkinCount; ++number) numbers.push_back(number);

    PrepareProcess();
    if (!CreateMainWindow()) {
        std::fprintf(stderr, "gallery: no main window (is there a display?)\n");
        return 1;
    }
    ShowMainWindow();
    Settle(6000);  // the start page loads once; every skin is shown over the same page
    GtkWidget* window = ShownMainWindow();
    if (!window) {
        std::fprintf(stderr, "gallery: the main window is not shown\n");
        return 1;
    }

    int failures = 0;
    for (int number : numbers) {
        ApplySkin(number);
        Settle(700);
        std::string path = folder + "/" + PictureName(number) + ".png";
        if (!SavePicture(window, path)) {
            std::fprintf(stderr, "gallery: cannot save %s\n", path.c_str());
            ++failures;
        }
    }
    return failures == 0 ? 0 : 1;
}
