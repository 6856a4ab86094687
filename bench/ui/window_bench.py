#!/usr/bin/python3
"""Launch time and idle cost of the real window under a private X server.

usage: bench/ui/window_bench.py QUILLET_PROGRAM [--launches N] [--seconds S]

Launch: the time from starting the program to the X server mapping its window, seen as a
MapNotify on the root window (xev), median and spread of N launches, each with a new empty
home, all on one private session bus.
Idle: with the welcome window open for S seconds, the program's CPU time and voluntary context
switches (every thread's, from /proc/PID/task/*/schedstat and status, sampled every 0.2 s),
once with the window focused (the leaf drifts) and once with another window focused (the
window is inactive: nothing should wake it).
Needs xvfb, x11-utils (xev) and xdotool; runs as any user; touches nothing outside its temp folder.
"""

import argparse
import os
import select
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time



class Session:
    """An Xvfb display and a session bus of our own; everything started is ended on close."""

    def __init__(self, work):
        self.work = work
        self.children = []
        read_end, write_end = os.pipe()
        self.xvfb = self.start(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x900x24",
                                "-nolisten", "tcp", "-noreset"], pass_fds=(write_end,))
        os.close(write_end)
        # Xvfb writes the number and the line break separately: read both before closing.
        text = b""
        while not text.endswith(b"\n"):
            ready, _, _ = select.select([read_end], [], [], 10)
            if not ready:
                raise SystemExit("window bench: Xvfb gave no display within 10 s")
            text += os.read(read_end, 32)
        os.close(read_end)
        self.display = ":" + text.decode().strip()
        bus = self.start(["dbus-daemon", "--session", "--nofork", "--print-address=1"],
                         stdout=subprocess.PIPE, text=True)
        self.bus_address = bus.stdout.readline().strip()
        self.env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "DISPLAY": self.display,
                    "DBUS_SESSION_BUS_ADDRESS": self.bus_address, "LANG": "C.UTF-8",
                    "XDG_RUNTIME_DIR": work, "QT_QPA_PLATFORM": "xcb"}

    def start(self, command, **kwargs):
        process = subprocess.Popen(command, start_new_session=True, **kwargs)
        self.children.append(process)
        return process

    def close(self):
        for process in reversed(self.children):
            stop(process)


def stop(process):
    for sig in (signal.SIGTERM, signal.SIGKILL):
        try:
            os.killpg(process.pid, sig)
        except ProcessLookupError:
            pass
        try:
            process.wait(timeout=5)
            return
        except subprocess.TimeoutExpired:
            continue


def fresh_home(work, n):
    home = os.path.join(work, f"home-{n}")
    os.makedirs(home)
    return home


def launch(session, program, home):
    """Starts the program and returns (process, seconds until its window was mapped)."""
    # xev buffers a pipe fully; stdbuf makes it hand over each line as it is printed.
    watcher = subprocess.Popen(["stdbuf", "-oL", "xev", "-root", "-event", "substructure"], env=session.env,
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, start_new_session=True)
    try:
        time.sleep(0.3)  # xev must be listening before the program starts
        env = dict(session.env, HOME=home)
        started = time.monotonic()
        process = session.start([program], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = started + 30
        seen = b""
        while time.monotonic() < deadline:
            # Raw reads: a buffered reader would hold lines that select() no longer reports.
            ready, _, _ = select.select([watcher.stdout], [], [], 0.5)
            if ready:
                seen += os.read(watcher.stdout.fileno(), 65536)
                if b"MapNotify event" in seen:
                    return process, time.monotonic() - started
            if process.poll() is not None:
                raise SystemExit(f"window bench: the program ended with status {process.returncode}")
        raise SystemExit("window bench: no window was mapped within 30 s")
    finally:
        stop(watcher)


def window_id(session, process):
    found = subprocess.run(["xdotool", "search", "--sync", "--onlyvisible", "--pid", str(process.pid),
                            "--name", "^Quillet$"], env=session.env, capture_output=True, text=True, timeout=30)
    return found.stdout.split()[0]


def per_thread(pid):
    """Each thread's time on a CPU (ns, from schedstat) and voluntary context switches."""
    counts = {}
    for task in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{task}/schedstat") as file:
                runtime = int(file.read().split()[0])
            with open(f"/proc/{pid}/task/{task}/status") as file:
                woken = next(int(line.split()[1]) for line in file if line.startswith("voluntary_ctxt_switches:"))
            counts[task] = (runtime, woken)
        except (FileNotFoundError, ProcessLookupError):  # the thread ended while we looked
            pass
    return counts


def idle(pid, seconds):
    """CPU seconds, percent of one core, and wakeups per second over `seconds`."""
    time.sleep(2)  # let start-up work and the first frames settle
    # Sampled often, so a pool thread that ends in between still counts up to its end.
    runtime = woken = 0
    last = per_thread(pid)
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        time.sleep(0.2)
        now = per_thread(pid)
        for task, (ns, switches) in now.items():
            ns0, switches0 = last.get(task, (0, 0))
            runtime += ns - ns0
            woken += switches - switches0
        last = now
    cpu = runtime / 1e9
    return cpu, 100 * cpu / seconds, woken / seconds


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("program")
    parser.add_argument("--launches", type=int, default=10)
    parser.add_argument("--seconds", type=float, default=10)
    options = parser.parse_args()
    program = os.path.abspath(options.program)
    for tool in ("Xvfb", "xev", "xdotool", "dbus-daemon"):
        if shutil.which(tool) is None:
            raise SystemExit(f"window bench: {tool} is missing (scripts/setup installs it)")

    work = tempfile.mkdtemp(prefix="quillet-window-bench.")
    session = Session(work)
    try:
        times = []
        for n in range(options.launches):
            process, seconds = launch(session, program, fresh_home(work, n))
            times.append(seconds)
            stop(process)
        print(f"launch to window mapped, {len(times)} launches: median {statistics.median(times) * 1000:.0f} ms, "
              f"min {min(times) * 1000:.0f} ms, max {max(times) * 1000:.0f} ms")

        process, _ = launch(session, program, fresh_home(work, "idle"))
        window = window_id(session, process)
        subprocess.run(["xdotool", "windowfocus", "--sync", window], env=session.env, check=True, timeout=30)
        cpu, percent, wakeups = idle(process.pid, options.seconds)
        print(f"idle, window active (leaf drifting), {options.seconds:.0f} s: CPU {cpu * 1000:.0f} ms ({percent:.2f} %), "
              f"{wakeups:.1f} voluntary context switches/s")

        # Another client's window takes the focus: ours is inactive and should sleep.
        other = session.start(["xev", "-geometry", "200x200+1150+700"], env=session.env,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        found = subprocess.run(["xdotool", "search", "--sync", "--onlyvisible", "--name", "^Event Tester$"],
                               env=session.env, capture_output=True, text=True, timeout=30).stdout.split()
        subprocess.run(["xdotool", "windowfocus", "--sync", found[0]], env=session.env, check=True, timeout=30)
        cpu, percent, wakeups = idle(process.pid, options.seconds)
        print(f"idle, window inactive, {options.seconds:.0f} s: CPU {cpu * 1000:.1f} ms ({percent:.2f} %), "
              f"{wakeups:.1f} voluntary context switches/s")
        stop(other)
        stop(process)
    finally:
        session.close()
        shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
