// Starts a program, times exec to the mapping of its titled window, to the window being drawn and
// to the page being drawn in it, sums the Pss of the program and its descendants a while later,
// then closes the window. Prints one line of key=value pairs.
#define _GNU_SOURCE
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <dirent.h>
#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

enum { kMaxProcesses = 4096 };

static double NowMs(void)
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

static void Usage(void)
{
    fprintf(stderr,
            "usage: launch_and_watch (--title TITLE | --any-title) [--settle-ms N] [--timeout-ms N] -- PROGRAM [ARG...]\n");
    exit(64);
}

// Both title properties: toolkits set _NET_WM_NAME in UTF-8 and WM_NAME in the locale's text.
static int HasTitle(Display* display, Window window, const char* title)
{
    Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    Atom netName = XInternAtom(display, "_NET_WM_NAME", False);
    Atom type;
    int format;
    unsigned long count, after;
    unsigned char* value = NULL;
    int matches = 0;
    if (XGetWindowProperty(display, window, netName, 0, 1024, False, utf8, &type, &format, &count, &after,
                           &value) == Success && value) {
        matches = type == utf8 && strcmp((const char*)value, title) == 0;
        XFree(value);
    }
    if (matches)
        return 1;
    XTextProperty text;
    if (XGetWMName(display, window, &text) && text.value) {
        matches = strcmp((const char*)text.value, title) == 0;
        XFree(text.value);
    }
    return matches;
}

// A browser names its window after the page, later: take its first top-level window of real size.
static int IsMainSized(Display* display, const XMapEvent* map)
{
    XWindowAttributes attributes;
    if (map->override_redirect || !XGetWindowAttributes(display, map->window, &attributes))
        return 0;
    return attributes.width >= 300 && attributes.height >= 200;
}

// What a grid of points over the upper part of the window shows, where the web view lies in
// every contender. A window not yet drawn is black on Xvfb; before its page is drawn, a web view
// shows one colour (white, or what lies beneath it); the bundled game page is a scene of many.
enum Drawn { kNothingDrawn, kWindowDrawn, kPageDrawn };

static enum Drawn LookAtWindow(Display* display, Window window)
{
    enum { kColumns = 6, kRows = 4, kPageColours = 3 };
    unsigned long seen[kPageColours];
    int distinct = 0;
    for (int row = 0; row < kRows && distinct < kPageColours; ++row) {
        for (int column = 0; column < kColumns && distinct < kPageColours; ++column) {
            XImage* image = XGetImage(display, window, 80 + column * 150, 80 + row * 130, 1, 1, AllPlanes, ZPixmap);
            if (!image)
                return kNothingDrawn;
            const unsigned long pixel = XGetPixel(image, 0, 0) & 0xffffff;
            XDestroyImage(image);
            int known = 0;
            for (int i = 0; i < distinct; ++i)
                known |= seen[i] == pixel;
            if (!known)
                seen[distinct++] = pixel;
        }
    }
    if (distinct >= kPageColours)
        return kPageDrawn;
    return distinct == 1 && seen[0] == 0 ? kNothingDrawn : kWindowDrawn;
}

// A window that goes away while it is looked at must not end the watch.
static int IgnoreXError(Display* display, XErrorEvent* error)
{
    (void)display;
    (void)error;
    return 0;
}

static int ParentOf(int pid)
{
    char path[64], buffer[512];
    snprintf(path, sizeof path, "/proc/%d/stat", pid);
    FILE* file = fopen(path, "r");
    if (!file)
        return -1;
    size_t length = fread(buffer, 1, sizeof buffer - 1, file);
    fclose(file);
    buffer[length] = '\0';
    // The command name may hold spaces and parentheses: the fields follow its last ')'.
    char* end = strrchr(buffer, ')');
    int parent = -1;
    if (!end || sscanf(end + 2, "%*c %d", &parent) != 1)
        return -1;
    return parent;
}

static long PssKb(int pid)
{
    char path[64], line[256];
    snprintf(path, sizeof path, "/proc/%d/smaps_rollup", pid);
    FILE* file = fopen(path, "r");
    if (!file)
        return 0;
    long kb = 0;
    while (fgets(line, sizeof line, file))
        if (sscanf(line, "Pss: %ld kB", &kb) == 1)
            break;
    fclose(file);
    return kb;
}

static void CommandName(int pid, char* name, size_t size)
{
    char path[64];
    snprintf(path, sizeof path, "/proc/%d/comm", pid);
    FILE* file = fopen(path, "r");
    name[0] = '\0';
    if (file) {
        if (fgets(name, (int)size, file))
            name[strcspn(name, "\n")] = '\0';
        fclose(file);
    }
}

// Pss of root and every descendant; one "name:kB" entry per process goes to detail.
static long TreePssKb(int root, int* processCount, char* detail, size_t detailSize)
{
    static int pids[kMaxProcesses], parents[kMaxProcesses];
    int count = 0;
    DIR* proc = opendir("/proc");
    struct dirent* entry;
    while (proc && (entry = readdir(proc)) && count < kMaxProcesses) {
        int pid = atoi(entry->d_name);
        if (pid <= 0)
            continue;
        pids[count] = pid;
        parents[count] = ParentOf(pid);
        ++count;
    }
    if (proc)
        closedir(proc);

    static int tree[kMaxProcesses];
    int treeSize = 1;
    tree[0] = root;
    for (int at = 0; at < treeSize; ++at)
        for (int i = 0; i < count; ++i)
            if (parents[i] == tree[at] && treeSize < kMaxProcesses)
                tree[treeSize++] = pids[i];

    long total = 0;
    size_t used = 0;
    detail[0] = '\0';
    for (int i = 0; i < treeSize; ++i) {
        long kb = PssKb(tree[i]);
        char name[64];
        CommandName(tree[i], name, sizeof name);
        total += kb;
        if (used < detailSize)
            used += snprintf(detail + used, detailSize - used, "%s%s:%ld", i ? "," : "", name, kb);
    }
    *processCount = treeSize;
    return total;
}

static void RequestClose(Display* display, Window window)
{
    XEvent event;
    memset(&event, 0, sizeof event);
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = (long)XInternAtom(display, "WM_DELETE_WINDOW", False);
    XSendEvent(display, window, False, NoEventMask, &event);
    XFlush(display);
}

static int WaitForExit(int pid, double timeoutMs, int* status)
{
    const double deadline = NowMs() + timeoutMs;
    while (NowMs() < deadline) {
        int result = waitpid(pid, status, WNOHANG);
        if (result == pid)
            return 1;
        if (result < 0)
            return 0;
        usleep(10000);
    }
    return 0;
}

int main(int argc, char** argv)
{
    const char* title = NULL;
    int anyTitle = 0;
    double settleMs = 3000, timeoutMs = 60000;
    int at = 1;
    for (; at < argc; ++at) {
        if (strcmp(argv[at], "--") == 0) {
            ++at;
            break;
        }
        if (strcmp(argv[at], "--any-title") == 0) {
            anyTitle = 1;
            continue;
        }
        if (at + 1 >= argc)
            Usage();
        if (strcmp(argv[at], "--title") == 0)
            title = argv[++at];
        else if (strcmp(argv[at], "--settle-ms") == 0)
            settleMs = atof(argv[++at]);
        else if (strcmp(argv[at], "--timeout-ms") == 0)
            timeoutMs = atof(argv[++at]);
        else
            Usage();
    }
    if ((!title && !anyTitle) || at >= argc)
        Usage();

    Display* display = XOpenDisplay(NULL);
    if (!display) {
        fprintf(stderr, "launch_and_watch: cannot open the display\n");
        return 69;
    }
    XSetErrorHandler(IgnoreXError);
    Window root = DefaultRootWindow(display);
    // Subscribed before the fork, so no mapping can slip by unseen.
    XSelectInput(display, root, SubstructureNotifyMask);
    XSync(display, False);

    const double start = NowMs();
    pid_t child = fork();
    if (child == 0) {
        close(ConnectionNumber(display));
        char startNs[32];
        snprintf(startNs, sizeof startNs, "%.0f", start * 1e6);
        // Time zero for a preloaded phase marker, if any.
        setenv("QY_BENCH_EXEC_NS", startNs, 1);
        execvp(argv[at], argv + at);
        _exit(127);
    }
    if (child < 0) {
        perror("fork");
        return 71;
    }

    Window shown = 0;
    double shownMs = 0;
    int status = 0, exited = 0;
    while (!shown) {
        while (!shown && XPending(display)) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == MapNotify && (anyTitle ? IsMainSized(display, &event.xmap)
                                                      : HasTitle(display, event.xmap.window, title))) {
                shown = event.xmap.window;
                shownMs = NowMs() - start;
            }
        }
        if (shown)
            break;
        if (waitpid(child, &status, WNOHANG) == child) {
            exited = 1;
            break;
        }
        if (NowMs() - start > timeoutMs)
            break;
        struct pollfd connection = {ConnectionNumber(display), POLLIN, 0};
        poll(&connection, 1, 5);
    }
    if (!shown) {
        printf("result=%s elapsed_ms=%.1f\n", exited ? "exited-before-window" : "no-window", NowMs() - start);
        if (!exited) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
        }
        return 1;
    }

    // Until the page is drawn or the settle time is over; a few milliseconds apart, so that the
    // looking costs the contender and the X server little.
    double drawnMs = -1, pageMs = -1;
    while (NowMs() - start < shownMs + settleMs) {
        if (pageMs < 0) {
            const enum Drawn drawn = LookAtWindow(display, shown);
            const double now = NowMs() - start;
            if (drawnMs < 0 && drawn != kNothingDrawn)
                drawnMs = now;
            if (drawn == kPageDrawn)
                pageMs = now;
        }
        usleep(pageMs < 0 ? 4000 : 20000);
    }
    int processes = 0;
    static char detail[8192];
    long pss = TreePssKb(child, &processes, detail, sizeof detail);

    RequestClose(display, shown);
    int closed = WaitForExit(child, 10000, &status);
    if (!closed) {
        kill(child, SIGTERM);
        if (!WaitForExit(child, 5000, &status)) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
        }
    }
    printf("result=ok window_ms=%.1f drawn_ms=%.1f page_ms=%.1f pss_kb=%ld processes=%d closed=%s exit=%d "
           "detail=%s\n",
           shownMs, drawnMs, pageMs, pss, processes, closed ? "yes" : "no",
           WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status), detail);
    XCloseDisplay(display);
    return 0;
}
