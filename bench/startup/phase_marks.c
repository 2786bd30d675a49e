// Preloaded into a contender: notes when start-up passes its landmarks, in ms since exec, to the
// file named by QY_PHASE_LOG. Time zero comes from the launcher (QY_BENCH_EXEC_NS).
#define _GNU_SOURCE
#include <dlfcn.h>
#include <gtk/gtk.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

static FILE* marks;
static double execNs;

static double SinceExecMs(void)
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return ((double)now.tv_sec * 1e9 + now.tv_nsec - execNs) / 1e6;
}

static void Mark(const char* what, const char* detail)
{
    if (!marks)
        return;
    fprintf(marks, "%d %.2f %s%s%s\n", (int)getpid(), SinceExecMs(), what, detail ? " " : "", detail ? detail : "");
    fflush(marks);
}

__attribute__((constructor)) static void Open(void)
{
    const char* path = getenv("QY_PHASE_LOG");
    const char* start = getenv("QY_BENCH_EXEC_NS");
    if (!path || !start)
        return;
    execNs = atof(start);
    marks = fopen(path, "a");
    // The web helper processes are not to be marked.
    unsetenv("LD_PRELOAD");
    Mark("linked", NULL);
}

static const char* BaseName(const char* path)
{
    const char* slash = path ? strrchr(path, '/') : NULL;
    return slash ? slash + 1 : path;
}

// Only the libraries the program binds by name: the toolkit's own plug-ins would drown them.
static int Watched(const char* file)
{
    const char* name = BaseName(file);
    return name && strstr(name, ".dll") != NULL;
}

void* dlopen(const char* file, int mode)
{
    static void* (*real)(const char*, int);
    if (!real)
        real = (void* (*)(const char*, int))dlsym(RTLD_NEXT, "dlopen");
    const int watched = Watched(file);
    if (watched)
        Mark("dlopen-begin", BaseName(file));
    void* handle = real(file, mode);
    if (watched)
        Mark(handle ? "dlopen-end" : "dlopen-failed", BaseName(file));
    return handle;
}

typedef int32_t (*AttachFunction)(const uint8_t*, int32_t, const char*, int32_t, int32_t, int32_t);
static AttachFunction realAttach;

static int32_t TimedAttach(const uint8_t* skin, int32_t length, const char* options, int32_t a, int32_t b, int32_t c)
{
    // Leaving the skin out shows what its style costs when the window is shown.
    if (getenv("QY_PHASE_SKIP_ATTACH")) {
        Mark("attach-skipped", NULL);
        return 0;
    }
    Mark("attach-begin", NULL);
    int32_t result = realAttach(skin, length, options, a, b, c);
    Mark("attach-end", NULL);
    return result;
}

// dlsym itself is interposed through its versioned twin, the only way left to reach the real one.
void* dlsym(void* handle, const char* name)
{
    static void* (*real)(void*, const char*);
    if (!real)
        real = (void* (*)(void*, const char*))dlvsym(RTLD_NEXT, "dlsym", "GLIBC_2.34");
    if (!real)
        real = (void* (*)(void*, const char*))dlvsym(RTLD_NEXT, "dlsym", "GLIBC_2.2.5");
    void* address = real(handle, name);
    if (address && strcmp(name, "SkinH_AttachRes") == 0) {
        realAttach = (AttachFunction)address;
        return (void*)TimedAttach;
    }
    return address;
}

int connect(int socket, const struct sockaddr* address, socklen_t length)
{
    static int (*real)(int, const struct sockaddr*, socklen_t);
    if (!real)
        real = (int (*)(int, const struct sockaddr*, socklen_t))dlsym(RTLD_NEXT, "connect");
    if (address && address->sa_family == AF_INET)
        Mark("connect", NULL);
    return real(socket, address, length);
}

gboolean gtk_init_check(int* argc, char*** argv)
{
    static gboolean (*real)(int*, char***);
    if (!real)
        real = (gboolean (*)(int*, char***))dlsym(RTLD_NEXT, "gtk_init_check");
    Mark("toolkit-begin", NULL);
    gboolean result = real(argc, argv);
    Mark("toolkit-end", NULL);
    return result;
}

void gtk_init(int* argc, char*** argv)
{
    if (!gtk_init_check(argc, argv))
        exit(1);
}

typedef void (*ShowFunction)(GtkWidget*);

// The window's show, marked around the real function of that name (looked up once, into *real).
static void ShowMarked(const char* name, ShowFunction* real, GtkWidget* widget)
{
    if (!*real)
        *real = (ShowFunction)dlsym(RTLD_NEXT, name);
    const int toplevel = GTK_IS_WINDOW(widget);
    if (toplevel)
        Mark("show-begin", NULL);
    (*real)(widget);
    if (toplevel)
        Mark("show-end", NULL);
}

void gtk_widget_show(GtkWidget* widget)
{
    static ShowFunction real;
    ShowMarked("gtk_widget_show", &real, widget);
}

void gtk_widget_show_all(GtkWidget* widget)
{
    static ShowFunction real;
    ShowMarked("gtk_widget_show_all", &real, widget);
}
