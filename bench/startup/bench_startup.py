#!/usr/bin/env python3
"""Start-up time and memory of the program against a minimal web view window, side by side.

Under a private Xvfb and the bundled local server, each round starts: the program in a fresh run
folder (it writes its skin engine), the program where the engine is already written, the minimal
window and, where installed, chromium --app. Prints medians and the ratios to the minimal window.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

TITLE = "霜岭群英录青柚修改器v3.6最新版"
PORT = 8713
PAGE = f"http://127.0.0.1:{PORT}/flash/130342.htm"
TARGET_RATIO = 1.10
ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def log(text):
    print(f"bench_startup: {text}", file=sys.stderr, flush=True)


def start_xvfb():
    read_end, write_end = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x800x24", "-nolisten", "tcp"],
                            pass_fds=[write_end], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_end)
    with os.fdopen(read_end) as pipe:
        number = pipe.readline().strip()
    if not number:
        sys.exit("bench_startup: Xvfb did not start")
    return xvfb, f":{number}"


def start_server(scratch):
    ready = os.path.join(scratch, "server.ready")
    server = subprocess.Popen([sys.executable, os.path.join(ROOT, "server", "local_server.py"),
                               "--port", str(PORT), "--ready-file", ready])
    for _ in range(100):
        if os.path.exists(ready):
            return server
        if server.poll() is not None:
            break
        time.sleep(0.05)
    sys.exit(f"bench_startup: the local server did not start (is port {PORT} taken? run inside unshare -n)")


def parse(line):
    fields = {}
    for item in line.split():
        key, _, value = item.partition("=")
        fields[key] = value
    return fields


class Runner:
    def __init__(self, build, scratch, display, settle_ms):
        self.build = os.path.abspath(build)
        self.scratch = scratch
        self.watch = os.path.join(self.build, "bench", "bench_launch_and_watch")
        self.settle_ms = settle_ms
        home = os.path.join(scratch, "home")
        # One user for every contender, so caches and fonts are equally warm after the first round.
        self.env = dict(os.environ, DISPLAY=display, HOME=home,
                        XDG_CACHE_HOME=os.path.join(home, ".cache"), XDG_DATA_HOME=os.path.join(home, ".local/share"),
                        XDG_CONFIG_HOME=os.path.join(home, ".config"), NO_AT_BRIDGE="1")
        self.env.pop("http_proxy", None)
        self.env.pop("HTTP_PROXY", None)
        os.makedirs(home, exist_ok=True)
        self.later_folder = self.new_run_folder()
        self.counter = 0
        self.marks = None

    def new_run_folder(self):
        folder = tempfile.mkdtemp(prefix="run-", dir=self.scratch)
        shutil.copy2(os.path.join(self.build, "bin", "qingyou"), folder)
        return folder

    def measure(self, name, command, env, title_args):
        # The contenders' own chatter (chromium's D-Bus complaints) goes to a file, not the table.
        with open(os.path.join(self.scratch, "contenders.log"), "a") as chatter:
            output = subprocess.run([self.watch, *title_args, "--settle-ms", str(self.settle_ms), "--", *command],
                                    env=env, stdout=subprocess.PIPE, stderr=chatter, text=True,
                                    check=False).stdout.strip()
        fields = parse(output.splitlines()[-1] if output else "result=nothing")
        if fields.get("result") != "ok":
            sys.exit(f"bench_startup: {name}: {output or 'no output'}")
        drawn = {key: float(fields[key]) for key in ("drawn_ms", "page_ms")}
        result = {"ms": float(fields["window_ms"]), "kb": int(fields["pss_kb"]), "detail": fields.get("detail", ""),
                  **{key: value if value >= 0 else None for key, value in drawn.items()}}
        if self.marks:
            result["phases"] = read_phases(self.marks, result["ms"])
            os.remove(self.marks)
        return result

    def with_marks(self, env):
        if not self.marks:
            return env
        return dict(env, LD_PRELOAD=os.path.join(self.build, "bench", "bench_phase_marks.so"), QY_PHASE_LOG=self.marks)

    def program(self, folder):
        env = self.with_marks(dict(self.env, LD_LIBRARY_PATH=os.path.join(self.build, "lib")))
        return self.measure("program", [os.path.join(folder, "qingyou")], env, ["--title", TITLE])

    def first_start(self):
        folder = self.new_run_folder()
        result = self.program(folder)
        if not os.path.exists(os.path.join(folder, "SkinH_EL.dll")):
            sys.exit("bench_startup: the program did not write its skin engine on a first start")
        shutil.rmtree(folder)
        return result

    def later_start(self):
        if not os.path.exists(os.path.join(self.later_folder, "SkinH_EL.dll")):
            self.program(self.later_folder)
        return self.program(self.later_folder)

    def minimal(self, *options):
        return self.measure("minimal", [os.path.join(self.build, "bench", "bench_minimal_view"), TITLE, PAGE, *options],
                            self.with_marks(self.env), ["--title", TITLE])

    def minimal_software(self):
        return self.minimal("--software")

    def later_start_unskinned(self):
        self.env["QY_PHASE_SKIP_ATTACH"] = "1"
        try:
            return self.later_start()
        finally:
            del self.env["QY_PHASE_SKIP_ATTACH"]

    def chromium(self):
        self.counter += 1
        profile = os.path.join(self.scratch, f"chromium-{self.counter}")
        command = ["chromium", f"--app={PAGE}", f"--user-data-dir={profile}", "--disable-gpu", "--no-first-run",
                   "--disable-background-networking", "--disable-component-update", "--disable-sync",
                   "--window-size=942,705"]
        if os.geteuid() == 0:
            command.append("--no-sandbox")
        result = self.measure("chromium", command, self.env, ["--any-title"])
        shutil.rmtree(profile, ignore_errors=True)
        return result


def read_phases(path, mapped_ms):
    """Landmarks of the launched process itself, in order, each with the time since the one before."""
    marks, seen, pid = [], set(), None
    with open(path) as lines:
        for line in lines:
            owner, ms, label = line.rstrip("\n").split(" ", 2)
            pid = pid or owner
            if owner != pid:
                continue
            key = label
            if label == "connect":
                key = f"connect {sum(1 for m in marks if m[0].startswith('connect')) + 1}"
            if key in seen:
                continue
            seen.add(key)
            marks.append((key, float(ms)))
    marks.append(("window mapped", mapped_ms))
    phases, before = [], ("exec", 0.0)
    for key, ms in marks:
        phases.append((f"{before[0]} -> {key}", ms - before[1]))
        before = (key, ms)
    return phases


def print_phases(results, runs):
    print(f"\nWhere the time goes (with the phase marker preloaded; medians of {runs} runs, ms)")
    for name, measured in results.items():
        print(f"  {name}")
        steps = [step for step, _ in measured[0]["phases"]]
        for index, step in enumerate(steps):
            values = [r["phases"][index][1] for r in measured
                      if index < len(r["phases"]) and r["phases"][index][0] == step]
            if values:
                print(f"    {step:48} {statistics.median(values):8.1f}")


def drawn_median(runs, key):
    """The median of a drawn time, or None when some run never got there."""
    times = [r[key] for r in runs]
    return statistics.median(times) if all(time is not None for time in times) else None


def ratio_text(value, base):
    return f"{value / base:.2f}x"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build"), help="build folder (default build/)")
    parser.add_argument("--runs", type=int, default=5, help="measured rounds (default 5)")
    parser.add_argument("--settle-ms", type=int, default=3000, help="wait after the window shows (default 3000)")
    parser.add_argument("--no-chromium", action="store_true", help="leave chromium out even where installed")
    parser.add_argument("--detail", action="store_true", help="print each run's Pss per process")
    parser.add_argument("--phases", action="store_true",
                        help="afterwards, as many rounds again with landmarks marked, and the time between them")
    args = parser.parse_args()

    contenders = [("program, first start", "first_start"), ("program, later start", "later_start"),
                  ("minimal web view window", "minimal"),
                  ("minimal, pages in software", "minimal_software")]
    if not args.no_chromium and shutil.which("chromium"):
        contenders.append(("chromium --app", "chromium"))

    scratch = tempfile.mkdtemp(prefix="bench-startup-")
    xvfb = server = None
    try:
        xvfb, display = start_xvfb()
        server = start_server(scratch)
        runner = Runner(args.build, scratch, display, args.settle_ms)
        log(f"display {display}, server on 127.0.0.1:{PORT}; one warm-up round, then {args.runs} rounds")
        results = {name: [] for name, _ in contenders}
        for round_number in range(args.runs + 1):
            # Interleaved, so drift in the machine's load touches every contender alike.
            for name, method in contenders:
                result = getattr(runner, method)()
                if round_number == 0:
                    continue
                results[name].append(result)
                if args.detail:
                    log(f"{name}: {result['ms']:.1f} ms, {result['kb']} kB [{result['detail']}]")
            log(f"round {round_number} done" if round_number else "warm-up done")
        marked = [(name, method) for name, method in contenders if method != "chromium"]
        marked.insert(2, ("program, later start, skin left out", "later_start_unskinned"))
        phases = {name: [] for name, _ in marked}
        if args.phases:
            runner.marks = os.path.join(scratch, "phases.log")
            for round_number in range(args.runs):
                for name, method in marked:
                    phases[name].append(getattr(runner, method)())
            runner.marks = None
    finally:
        for process in (server, xvfb):
            if process:
                process.terminate()
                process.wait()
        shutil.rmtree(scratch, ignore_errors=True)

    medians = {name: (statistics.median(r["ms"] for r in runs), statistics.median(r["kb"] for r in runs))
               for name, runs in results.items()}
    base_ms, base_kb = medians["minimal web view window"]
    print(f"Start-up to a visible window and Pss {args.settle_ms} ms later; medians of {args.runs} runs")
    print(f"{'':26} {'window ms':>10} {'min..max':>15} {'ratio':>7}   {'Pss MiB':>8} {'min..max':>15} {'ratio':>7}")
    for name, runs in results.items():
        ms, kb = medians[name]
        times = [r["ms"] for r in runs]
        sizes = [r["kb"] / 1024 for r in runs]
        print(f"{name:26} {ms:10.1f} {min(times):7.1f}..{max(times):<7.1f} {ratio_text(ms, base_ms):>7}   "
              f"{kb / 1024:8.1f} {min(sizes):7.1f}..{max(sizes):<7.1f} {ratio_text(kb, base_kb):>7}")
    # Mapped is not yet drawn, and a window can show before its page: both times, alongside.
    print(f"\nStart-up to the window drawn and to the page drawn in it; medians of {args.runs} runs")
    print(f"{'':26} {'drawn ms':>10} {'min..max':>15} {'ratio':>7}   {'page ms':>8} {'min..max':>15} {'ratio':>7}")
    drawn_base = {key: drawn_median(results["minimal web view window"], key) for key in ("drawn_ms", "page_ms")}
    for name, runs in results.items():
        cells = []
        for key, width in (("drawn_ms", 10), ("page_ms", 8)):
            value, base = drawn_median(runs, key), drawn_base[key]
            if value is None:
                cells.append(f"{'not in every run':>{width + 24}}")
                continue
            times = [r[key] for r in runs]
            ratio = ratio_text(value, base) if base else "-"
            cells.append(f"{value:{width}.1f} {min(times):7.1f}..{max(times):<7.1f} {ratio:>7}")
        print(f"{name:26} {cells[0]}   {cells[1]}")
    held = True
    for name in ("program, first start", "program, later start"):
        ms, kb = medians[name]
        for what, value, base in (("time", ms, base_ms), ("memory", kb, base_kb)):
            ok = value <= TARGET_RATIO * base
            held &= ok
            print(f"target {name}, {what} <= {TARGET_RATIO:.2f}x minimal: "
                  f"{'holds' if ok else 'MISSED'} ({value / base:.2f}x)")
    if args.phases:
        print_phases(phases, args.runs)
    return 0 if held else 1


if __name__ == "__main__":
    sys.exit(main())
