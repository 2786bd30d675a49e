// Shared between the GTK files of the window layer.
#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <memory>
#include <utility>

#include "platform/ui.h"

namespace platform::ui {

inline GtkWidget* AsWidget(Control* control) { return reinterpret_cast<GtkWidget*>(control); }
inline Control* AsControl(GtkWidget* widget) { return reinterpret_cast<Control*>(widget); }

// Texts of this layer are UTF-8 whatever the execution character set of the build.
inline const char* Utf8(const char8_t* text) { return reinterpret_cast<const char*>(text); }

// The plane of the container and page that a placement names, or nullptr.
GtkWidget* PlaneFor(const Placement& placement);
// Gives the control its name, puts it on the plane beneath what is there already, shows it.
Control* PutControl(GtkWidget* plane, const Placement& placement, GtkWidget* widget);

// Connects a C++ callable to a signal; the instance's handler list owns it. The signal's
// arguments after the instance are named: ConnectSignal<gboolean, GdkEventKey*>(...).
template <typename Return, typename... Args, typename Callable>
void ConnectSignal(gpointer instance, const char* signal, Callable callable)
{
    using Stored = std::function<Return(Args...)>;
    auto stored = std::make_unique<Stored>(std::move(callable));
    auto trampoline = +[](gpointer, Args... args, gpointer data) -> Return {
        return (*static_cast<Stored*>(data))(args...);
    };
    g_signal_connect_data(instance, signal, G_CALLBACK(trampoline), stored.release(),
                          [](gpointer data, GClosure*) { delete static_cast<Stored*>(data); },
                          GConnectFlags(0));
}

}  // namespace platform::ui
