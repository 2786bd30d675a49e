// Build tool: renders the icon drawing to square PNG files, one per size.
//   qy_render_icon DRAWING.svg OUTPUT_FOLDER SIZE...
#include <gdk-pixbuf/gdk-pixbuf.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/linux/gobject_ptr.h"

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s DRAWING.svg OUTPUT_FOLDER SIZE...\n", argv[0]);
        return 2;
    }
    for (int arg = 3; arg < argc; ++arg) {
        const int size = std::atoi(argv[arg]);
        GError* error = nullptr;
        platform::GObjectPtr<GdkPixbuf> icon(gdk_pixbuf_new_from_file_at_size(argv[1], size, size, &error));
        const std::string output = std::string(argv[2]) + "/" + std::to_string(size) + ".png";
        if (!icon || !gdk_pixbuf_save(icon.get(), output.c_str(), "png", &error, nullptr)) {
            std::fprintf(stderr, "%s: %s\n", output.c_str(), error ? error->message : "cannot render");
            return 1;
        }
    }
    return 0;
}
