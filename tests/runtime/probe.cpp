// Runs one runtime service that ends or shapes the process, and reports what it saw on
// standard output. Usage: runtime_probe <mode> [arguments]
#include <dlfcn.h>
#include <gtk/gtk.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "runtime/library_functions.h"
#include "runtime/runtime.h"
#include "tests/runtime/dialog_inspector.h"
#include "tests/runtime/probe_protocol.h"

namespace {

void Report(std::string_view key, std::string_view value)
{
    std::string line = std::string(key) + "=" + EscapeLineValue(value) + "\n";
    std::fputs(line.c_str(), stdout);
    std::fflush(stdout);
}

// Reports the first message box that opens and answers it with its OK button.
gboolean AnswerMessageBox(gpointer)
{
    static int ticks = 0;
    auto box = FindMessageBox();
    if (!box) {
        if (++ticks > 1200) {  // a minute: no box is coming, don't hang the test
            Report("box", "never-opened");
            _exit(98);
        }
        return G_SOURCE_CONTINUE;
    }
    Report("box.caption", box->caption);
    Report("box.text", box->text);
    Report("box.icon", box->iconName);
    std::string labels;
    for (const std::string& label : box->labels)
        labels += (labels.empty() ? "" : "|") + label;
    Report("box.buttons", labels);
    if (GtkWidget* ok = ButtonLabelled(*box, reinterpret_cast<const char*>(u8"确定")))
        gtk_button_clicked(GTK_BUTTON(ok));
    else
        gtk_widget_destroy(box->dialog);
    return G_SOURCE_REMOVE;
}

void ReportExitCallback()
{
    Report("callback", "ran");
}

using WhichCopyFunction = const char* (*)();

std::string LoadedFile(void* address)
{
    Dl_info info{};
    return dladdr(address, &info) && info.dli_fname ? info.dli_fname : "";
}

// Asks the dynamic loader without loading: is the file still in the process?
bool StillLoaded(const std::string& file)
{
    void* handle = dlopen(file.c_str(), RTLD_LAZY | RTLD_NOLOAD);
    if (handle)
        dlclose(handle);
    return handle != nullptr;
}

const char* YesNo(bool value)
{
    return value ? "yes" : "no";
}

// bind NAME [EXPORT]: binds a declaration of our own and calls it.
int Bind(const char* library, const char* exportName)
{
    LibraryFunctionRecord declaration(library, exportName);
    auto function = reinterpret_cast<WhichCopyFunction>(BindLibraryFunction(declaration));
    Report("which", function());
    return 0;
}

// bind-preloaded NAME [EXPORT]: the same after preloading the library.
int BindPreloaded(const char* library, const char* exportName)
{
    PreloadLibrary(library);
    return Bind(library, exportName);
}

// bind-twice PATH: the second call must not look for the file again.
int BindTwice(const char* path)
{
    LibraryFunctionRecord declaration(path, "WhichCopy");
    void* first = BindLibraryFunction(declaration);
    Report("first", reinterpret_cast<WhichCopyFunction>(first)());
    Report("removed", YesNo(static_cast<bool>(platform::RemoveFile(path))));
    void* second = BindLibraryFunction(declaration);
    Report("second", reinterpret_cast<WhichCopyFunction>(second)());
    Report("same-address", YesNo(first == second));
    return 0;
}

// own-modules NAME: two declarations of one library each hold the library themselves.
int OwnModules(const char* library)
{
    LibraryFunctionRecord first(library, "WhichCopy");
    LibraryFunctionRecord second(library, "WhichCopy");
    BindLibraryFunction(first);
    BindLibraryFunction(second);
    std::string file = LoadedFile(second.boundAddress);
    first.module = {};
    Report("loaded-after-first-release", YesNo(StillLoaded(file)));
    Report("second-still-answers", reinterpret_cast<WhichCopyFunction>(second.boundAddress)());
    second.module = {};
    Report("loaded-after-second-release", YesNo(StillLoaded(file)));
    return 0;
}

// unload-table: the program's own declaration, bound by a call, then released.
int UnloadTable()
{
    Report("attach", std::to_string(SkinH_AttachRes(nullptr, 42, nullptr, 0, 0, 0)));
    auto& declaration = DeclaredLibraryFunctions()[static_cast<size_t>(Declared::SkinH_AttachRes)];
    std::string file = LoadedFile(declaration.boundAddress);
    Report("bound-from", file);
    UnloadLibraryFunctions();
    Report("loaded-after-unload", YesNo(StillLoaded(file)));
    Report("bound-after-unload", YesNo(declaration.boundAddress != nullptr));
    return 0;
}

// end-program CODE: the skin engine stand-in is bound first, so its unload shows in the output.
int EndWith(int code)
{
    SkinH_AttachRes(nullptr, 0, nullptr, 0, 0, 0);
    EndProgram(code);
}

// run-directory: what the start-up made of the program's folder.
int ReportRunDirectory()
{
    Text runDirectory = RunDirectory();
    Report("run-directory", runDirectory.View());
    char* current = getcwd(nullptr, 0);
    Report("current-directory", current ? current : "");
    std::free(current);
    return 0;
}

gboolean NoteIdleRan(gpointer)
{
    Report("idle", "ran");
    return G_SOURCE_REMOVE;
}

// quit-pending: a pending quit stops the dispatch and stays for the message loop.
int QuitPending()
{
    g_idle_add(NoteIdleRan, nullptr);
    platform::QuitMessageLoop();
    ProcessPendingEvents();
    Report("quit-still-pending", YesNo(platform::QuitPending()));
    platform::RunMessageLoop();
    Report("message-loop", "returned");
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    StartRuntime();
    if (getenv("DISPLAY") && platform::InitToolkit())
        g_timeout_add(50, AnswerMessageBox, nullptr);
    RegisterExitCallback(ReportExitCallback);

    std::string_view mode = argc > 1 ? argv[1] : "";
    const char* argument = argc > 2 ? argv[2] : "";
    if (mode == "bind")
        return Bind(argument, argc > 3 ? argv[3] : "WhichCopy");
    if (mode == "bind-preloaded")
        return BindPreloaded(argument, argc > 3 ? argv[3] : "WhichCopy");
    if (mode == "bind-twice")
        return BindTwice(argument);
    if (mode == "own-modules")
        return OwnModules(argument);
    if (mode == "unload-table")
        return UnloadTable();
    if (mode == "end-program")
        return EndWith(std::atoi(argument));
    if (mode == "fatal")
        FatalRuntimeError(argc > 3 ? argv[3] : "", std::atoi(argument));
    if (mode == "run-directory")
        return ReportRunDirectory();
    if (mode == "quit-pending")
        return QuitPending();
    std::fprintf(stderr, "unknown mode\n");
    return 2;
}
