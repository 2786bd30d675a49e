"""Running an installed copy of the program the way a desktop would: the bundled local server on
127.0.0.1:8713, the program under the current DISPLAY, its window found with xdotool and closed
the way a window manager closes it."""

import configparser
import ctypes
import ctypes.util
import os
import pwd
import shutil
import signal
import socket
import subprocess
import tempfile
import time

SOURCE_DIR = os.environ.get("QY_SOURCE_DIR", os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..")))
BUILD_DIR = os.environ.get("QY_BUILD_DIR", os.path.join(SOURCE_DIR, "build"))
APP_ID = "cn.qingyou.trainer"
WINDOW_TITLE = "霜岭群英录青柚修改器v3.6最新版"
PORT = 8713
WINDOW_LIMIT_SECONDS = 90
EXIT_LIMIT_SECONDS = 30


def run(argv, **kwargs):
    """Runs a command to its end; its output is kept for the failure message."""
    kwargs.setdefault("stdout", subprocess.PIPE)
    kwargs.setdefault("stderr", subprocess.STDOUT)
    kwargs.setdefault("text", True)
    return subprocess.run(argv, **kwargs)


def read_desktop_entry(path):
    parser = configparser.ConfigParser(interpolation=None, strict=True)
    parser.optionxform = str  # keys are case-sensitive
    with open(path, encoding="utf-8") as file:
        parser.read_file(file)
    return parser["Desktop Entry"]


def dynamic_entries(elf_path):
    """The dynamic section's tags as (tag, value) pairs, from readelf."""
    output = run(["readelf", "-d", elf_path], check=True).stdout
    entries = []
    for line in output.splitlines():
        fields = line.split(None, 2)
        if len(fields) == 3 and fields[0].startswith("0x") and fields[1].startswith("("):
            entries.append((fields[1].strip("()"), fields[2]))
    return entries


def png_size(path):
    with open(path, "rb") as file:
        head = file.read(24)
    if head[:8] != b"\x89PNG\r\n\x1a\n":
        return None
    return int.from_bytes(head[16:20], "big"), int.from_bytes(head[20:24], "big")


class LocalServer:
    """server/local_server.py on 127.0.0.1:8713 (flag "1"), stopped with SIGTERM."""

    def __enter__(self):
        with socket.socket() as probe:
            if probe.connect_ex(("127.0.0.1", PORT)) == 0:
                raise RuntimeError(f"port {PORT} is taken; the program's build points at it")
        self.folder = tempfile.TemporaryDirectory(prefix="qy-server-")
        ready = os.path.join(self.folder.name, "ready")
        self.process = subprocess.Popen(
            ["python3", os.path.join(SOURCE_DIR, "server", "local_server.py"), "--port", str(PORT), "--ready-file", ready])
        deadline = time.monotonic() + 20
        while not os.path.exists(ready):
            if self.process.poll() is not None or time.monotonic() > deadline:
                self.__exit__(None, None, None)
                raise RuntimeError("the local server did not start")
            time.sleep(0.05)
        return self

    def __exit__(self, *exc):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.folder.cleanup()


class ProgramRun:
    """One run of the program as a child in its own process group, killed on the way out."""

    def __init__(self, argv, cwd, env=None, user=None):
        self.output = tempfile.NamedTemporaryFile(prefix="qy-program-", suffix=".log")
        prefix = []
        if user is not None:
            account = pwd.getpwnam(user)
            prefix = ["setpriv", f"--reuid={account.pw_uid}", f"--regid={account.pw_gid}", "--clear-groups", "--"]
        self.process = subprocess.Popen(prefix + argv, cwd=cwd, env=env, stdout=self.output,
                                        stderr=subprocess.STDOUT, start_new_session=True)

    def log(self):
        with open(self.output.name, encoding="utf-8", errors="replace") as file:
            return file.read()

    def wait_for_window(self):
        """The id of the program's visible window with the title, or None after the limit."""
        deadline = time.monotonic() + WINDOW_LIMIT_SECONDS
        while time.monotonic() < deadline:
            if self.process.poll() is not None:
                return None
            found = run(["timeout", "5", "xdotool", "search", "--onlyvisible", "--name", f"^{WINDOW_TITLE}$"])
            for window in found.stdout.split():
                if window_pid(window) == self.process.pid:
                    return window
            time.sleep(0.25)
        return None

    def wait_for_exit(self):
        try:
            return self.process.wait(EXIT_LIMIT_SECONDS)
        except subprocess.TimeoutExpired:
            return None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        if self.process.poll() is None:
            os.killpg(self.process.pid, signal.SIGKILL)
            self.process.wait()
        self.output.close()


def window_property(window, name):
    output = run(["xprop", "-id", window, name]).stdout.strip()
    _, _, value = output.partition(" = ")
    return value


def window_pid(window):
    value = window_property(window, "_NET_WM_PID")
    return int(value) if value.isdigit() else None


def window_class(window):
    """WM_CLASS as (instance, class)."""
    value = window_property(window, "WM_CLASS")
    return tuple(part.strip().strip('"') for part in value.split(","))


class _ClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                ("format", ctypes.c_int), ("data", ctypes.c_long * 5)]


class _Event(ctypes.Union):
    _fields_ = [("xclient", _ClientMessage), ("pad", ctypes.c_long * 24)]


def close_window(window):
    """Asks the window to close with WM_DELETE_WINDOW, as a window manager does for Alt+F4 or the
    close button; a bare Xvfb has no window manager to turn the key into that message."""
    x11 = ctypes.cdll.LoadLibrary(ctypes.util.find_library("X11"))
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XInternAtom.restype = ctypes.c_ulong
    x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.POINTER(_Event)]
    x11.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
    display = x11.XOpenDisplay(None)
    if not display:
        raise RuntimeError("cannot open the display")
    try:
        event = _Event()
        event.xclient.type = 33  # ClientMessage
        event.xclient.window = int(window)
        event.xclient.message_type = x11.XInternAtom(display, b"WM_PROTOCOLS", 0)
        event.xclient.format = 32
        event.xclient.data[0] = x11.XInternAtom(display, b"WM_DELETE_WINDOW", 0)
        event.xclient.data[1] = 0  # CurrentTime
        if not x11.XSendEvent(display, int(window), 0, 0, ctypes.byref(event)):
            raise RuntimeError("XSendEvent failed")
        x11.XSync(display, 0)
    finally:
        x11.XCloseDisplay(display)


def session_environment(path, home):
    """A desktop session's environment: the display, a fresh home, the given PATH, nothing from
    the build (no LD_LIBRARY_PATH), so the libraries are found the installed way."""
    env = {"DISPLAY": os.environ["DISPLAY"], "PATH": path, "HOME": home, "LANG": "C.UTF-8",
           "XDG_CACHE_HOME": os.path.join(home, ".cache"), "XDG_DATA_HOME": os.path.join(home, ".local", "share"),
           "XDG_CONFIG_HOME": os.path.join(home, ".config"), "NO_AT_BRIDGE": "1"}
    return env


def require_tools(testcase, *tools):
    missing = [tool for tool in tools if shutil.which(tool) is None]
    if missing:
        message = "missing " + ", ".join(missing) + " (scripts/install-deps.sh --test installs them)"
        if os.environ.get("CI") == "true":
            testcase.fail(message)
        testcase.skipTest(message)


def main():
    """unittest's main, but exits with 77 (CTest's skip code here) when every test skipped."""
    import unittest
    program = unittest.main(exit=False, verbosity=2)
    result = program.result
    if not result.wasSuccessful():
        raise SystemExit(1)
    # A skipped setUpClass counts as one skip and runs no test.
    if result.skipped and len(result.skipped) >= result.testsRun:
        raise SystemExit(77)
    raise SystemExit(0)
