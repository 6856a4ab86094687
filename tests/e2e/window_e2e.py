"""Uses the Quillet window through the accessibility bus and the keyboard, as a person with a
screen reader would, from the first scan to the copied plan. Runs inside a private session bus
on a private X server (see window_e2e.sh); never calls into the program's model."""

import argparse
import json
import os
import signal
import subprocess
import sys
import time

import pyatspi
from gi.repository import GLib

# Titles of the items the test ticks; the other two found items stay unticked.
CHOSEN = ["site / node_modules", "_cacache"]
# Under CTest's 120 s, so a slow run still fails here, naming its step, with a picture.
BUDGET_SECONDS = 100
finish_by = time.monotonic() + BUDGET_SECONDS
CONTROLS = {"push button", "toggle button", "check box", "radio button", "combo box", "text", "list",
            "list item", "menu item", "slider", "spin button", "page tab", "scroll pane"}
SHOWING, ENABLED, FOCUSED, CHECKED = (pyatspi.STATE_SHOWING, pyatspi.STATE_ENABLED, pyatspi.STATE_FOCUSED,
                                      pyatspi.STATE_CHECKED)

args = None
children = []
step_number = 0
current_step = "start"
announced_checked = []  # names of the parts the program announced as checked


class Failure(Exception):
    pass


def check(ok, problem):
    if not ok:
        raise Failure(problem)


def log(text):
    print(f"window e2e: {text}", flush=True)


def screenshot(name):
    path = os.path.join(args.pictures, f"{step_number:02d}-{name}.png")
    subprocess.run(["import", "-window", "root", path], check=False, timeout=30,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return path


def step(name):
    global step_number, current_step
    step_number += 1
    current_step = name
    log(f"step {step_number}: {name}")


def wait_for(what, probe, timeout=20.0):
    """Polls `probe` until it returns something true; fails naming `what` after `timeout` s."""
    deadline = min(time.monotonic() + timeout, finish_by)
    last_error = None
    while time.monotonic() <= deadline:
        try:
            value = probe()
            if value:
                return value
        except Failure:
            raise
        except Exception as error:  # the tree changes under us while the window rebuilds
            last_error = error
        time.sleep(0.1)
    within = f"before the test's {BUDGET_SECONDS} s ran out" if deadline == finish_by else f"within {timeout:.0f} s"
    raise Failure(f"{what} did not happen {within}" + (f" (last error: {last_error})" if last_error else ""))


def start(command, name, **kwargs):
    """Starts a process in its own group and records the group for the shell's cleanup."""
    process = subprocess.Popen(command, start_new_session=True, **kwargs)
    children.append(process)
    with open(os.path.join(args.work, f"{name}.pgid"), "w") as file:
        file.write(str(process.pid))
    return process


def stop(process):
    """Ends the process's whole group, politely first, and reaps the process."""
    for sig in (signal.SIGTERM, signal.SIGKILL):
        try:
            os.killpg(process.pid, sig)
            return process.wait(timeout=5)
        except (ProcessLookupError, subprocess.TimeoutExpired):
            pass
    process.wait()


# --- the accessibility tree ------------------------------------------------------------------

def walk(node):
    yield node
    for child in children_of(node):
        yield from walk(child)


def has(node, state):
    return node.getState().contains(state)


def find(root, role, name=None, starts=None, states=(SHOWING,)):
    """The first node of `role` named `name` (or starting with `starts`) in all of `states`."""
    return next((node for node in walk(root) if node.getRoleName() == role and name in (None, node.name)
                 and node.name.startswith(starts or "") and all(has(node, s) for s in states)), None)


def children_of(node):
    return [child for child in map(node.getChildAtIndex, range(node.childCount)) if child is not None]


def window(app, title="Quillet", showing=False):
    return next((w for w in children_of(app) if w.getRoleName() in ("frame", "dialog") and w.name == title
                 and (not showing or has(w, SHOWING))), None)


def sheet_with(app, text):
    """The top-level window (a sheet) that shows the label `text`."""
    return wait_for(f'a window showing "{text}"',
                    lambda: next((w for w in children_of(app) if find(w, "label", text)), None))


def actions(node):
    try:
        return [node.queryAction().getName(i) for i in range(node.queryAction().nActions)]
    except NotImplementedError:
        return []


def do(node, name, what):
    check(has(node, ENABLED) and name in actions(node),
          f"{what} is disabled or offers no {name} action (only {actions(node)})")
    node.queryAction().doAction(actions(node).index(name))


def press(root, name, role="push button"):
    """Waits for the enabled control `name` and presses it."""
    do(wait_for(f'"{name}" enabled', lambda: find(root, role, name, states=(SHOWING, ENABLED))), "Press", f'"{name}"')


def label(root, text, timeout=20.0):
    return wait_for(f'the text "{text}"', lambda: find(root, "label", text), timeout=timeout)


def look(root, name):
    """A picture of the screen, and every control in view has the name a screen reader announces."""
    screenshot(name)
    unnamed = [f"[{node.getRoleName()}] {actions(node)}" for node in walk(root) if has(node, SHOWING)
               and not node.name.strip() and (node.getRoleName() in CONTROLS or has(node, pyatspi.STATE_FOCUSABLE))]
    check(not unnamed, f"{name}: controls without an accessible name:\n  " + "\n  ".join(unnamed))


def heard(what):
    """Waits until the program announced `what` as checked; pyatspi delivers on GLib's loop."""
    def delivered():
        while GLib.MainContext.default().pending():
            GLib.MainContext.default().iteration(False)
        return what in announced_checked
    wait_for(f'the program to announce "{what}" as checked', delivered, timeout=5)


def keys(*names):
    subprocess.run(["xdotool", "key", "--clearmodifiers", *names], check=True, timeout=10)


def listed(results, states=()):
    return [node.name for node in walk(results) if node is not results and node.getRoleName() == "list item"
            and all(has(node, s) for s in states)]


def select_row(results, title):
    """Tabs to the results list, as a keyboard user would, moves the current row to `title` with
    the arrow keys and ticks it with Space."""
    for _ in range(15):
        if has(results, FOCUSED):
            break
        keys("Tab")
        time.sleep(0.5)
    else:
        raise Failure("Tab never brought the keyboard to the results list")
    names = listed(results)
    current = lambda: find(results, "list item", states=(FOCUSED,))
    for _ in range(len(names) + 2):
        row = wait_for("a current row in the results list", current, timeout=5)
        if row.name == title:
            break
        keys("Down" if names.index(title) > names.index(row.name) else "Up")
        wait_for("the current row to move", lambda: (current() or row).name != row.name, timeout=5)
    else:
        raise Failure(f'the arrow keys never reached the row "{title}"')
    check(not has(row, CHECKED), f'the row "{title}" was ticked before the test ticked it')
    keys("space")
    wait_for(f'the row "{title}" to read as checked', lambda: listed(results, (FOCUSED, CHECKED)) == [title], timeout=5)
    heard(title)


def tick_row(results, title):
    """Ticks the row `title` with its "Select" checkbox's own action, as a screen reader can."""
    name = f"Select {title}"
    box = wait_for(f'the checkbox "{name}"', lambda: find(results, "check box", name))
    check(not has(box, CHECKED), f'the checkbox "{name}" was ticked before the test ticked it')
    do(box, "Toggle", f'the checkbox "{name}"')
    wait_for(f'"{name}" to read as checked', lambda: has(find(results, "check box", name), CHECKED), timeout=5)
    heard(name)


# --- the command line and the disk -----------------------------------------------------------

def command_line(*arguments, given=None):
    result = subprocess.run([args.program, *arguments], input=given, capture_output=True, timeout=60)
    check(result.returncode == 0,
          f"quillet {' '.join(arguments)} exited with {result.returncode}: {result.stderr.decode()}")
    return result.stdout


def clipboard():
    result = subprocess.run(["xclip", "-o", "-selection", "clipboard", "-t", "UTF8_STRING"],
                            capture_output=True, timeout=10)
    return result.stdout if result.returncode == 0 else b""


def files_under(folder):
    """Every file below `folder` with its size: what a cleanup would have to touch."""
    return {os.path.join(base, name): os.lstat(os.path.join(base, name)).st_size
            for base, _, names in os.walk(folder) for name in names}


# --- the scenario ----------------------------------------------------------------------------

def scenario():
    before = files_under(args.home)
    step("launch")
    start(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"], "atspi",
          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    quillet = start([args.program], "quillet",
                    stdout=open(os.path.join(args.work, "quillet.log"), "w"), stderr=subprocess.STDOUT)

    def running_application():
        check(quillet.poll() is None, f"the program ended at start with status {quillet.returncode}")
        return next((a for a in children_of(pyatspi.Registry.getDesktop(0)) if a.name == "quillet"), None)
    app = wait_for("the application on the accessibility bus", running_application, timeout=30)
    pyatspi.Registry.registerEventListener(
        lambda event: event.source is not None and event.detail1 == 1 and announced_checked.append(event.source.name),
        "object:state-changed:checked")
    main = wait_for('the window "Quillet"', lambda: window(app), timeout=30)
    wait_for('the button "Scan developer storage"', lambda: find(main, "push button", "Scan developer storage"))
    # Gives the window the keyboard, as clicking it would; there is no window manager to do so.
    found = subprocess.run(["xdotool", "search", "--sync", "--onlyvisible", "--pid", str(quillet.pid),
                            "--name", "^Quillet$"], capture_output=True, text=True, timeout=20).stdout.split()
    check(found, "xdotool found no visible window of the program")
    subprocess.run(["xdotool", "windowfocus", "--sync", found[0]], check=True, timeout=20)
    label(main, "Find your next few gigabytes.")
    look(main, "welcome")

    step("scan")
    press(main, "Scan developer storage")
    label(main, "Scan complete. Nothing was changed.", timeout=60)
    results = wait_for("the results list", lambda: find(main, "list", "Results"))
    titles = wait_for("rows in the results list", lambda: listed(results))
    check(set(CHOSEN) <= set(titles), f"the results list has not all of {CHOSEN} (rows: {titles})")
    look(main, "scanned")

    step("select items")
    # One row from the keyboard, the other through its checkbox on the accessibility bus.
    select_row(results, CHOSEN[0])
    tick_row(results, CHOSEN[1])
    wait_for("the selection bar", lambda: find(main, "label", starts=f"{len(CHOSEN)} selected · "))
    ticked = listed(results, (CHECKED,))
    check(sorted(ticked) == sorted(CHOSEN), f"the rows read as checked are {ticked}, not {CHOSEN}")

    step("details through the bus")
    title = CHOSEN[1]
    press(results, f"Details for {title}")
    details = wait_for(f'the details of "{title}"', lambda: window(app, title, showing=True))
    label(details, "To recreate")
    wait_for('"Keep this item" enabled',
             lambda: find(details, "push button", "Keep this item", states=(SHOWING, ENABLED)))
    look(details, "details")
    press(details, "Done")
    wait_for("the detail sheet closing", lambda: window(app, title, showing=True) is None)

    step("review")
    press(main, "Review plan…")
    sheet = sheet_with(app, "Preview a cleanup plan.")
    for title in CHOSEN:
        wait_for(f'"{title}" in the review sheet', lambda: find(sheet, "label", starts=title))
    look(sheet, "review")

    step("create plan")
    press(sheet, "Create preview plan")
    label(main, f"Preview ready for {len(CHOSEN)} items. No files moved or deleted.", timeout=60)

    step("view plan")
    press(main, "View plan")
    sheet = sheet_with(app, "Preview only. Nothing changed.")
    for title in CHOSEN:
        label(sheet, title)
    look(sheet, "plan")

    step("copy plan and compare with the command line")
    check(not clipboard(), "the new X server's clipboard is not empty")
    scan_json = command_line("scan", "--json", "--home", args.home)
    items = json.loads(scan_json)["items"]
    by_title = {item["title"]: item["path"] for item in items}
    check(set(CHOSEN) <= set(by_title), f"the command line's scan lists {sorted(by_title)}, not all of {CHOSEN}")
    # The window plans the selected items in the scan's order, the command line in the order given.
    paths = [item["path"] for item in items if item["path"] in {by_title[t] for t in CHOSEN}]
    printed = command_line("plan", "--scan", "-", "--home", args.home, *paths, given=scan_json)
    check(printed.endswith(b"]\n"), f"the command line's plan does not end in a bracket and a line break: {printed!r}")
    expected = printed[:-1]  # the terminal's line break is not part of the plan text
    press(sheet, "Copy plan as JSON")
    copied = wait_for("plan text on the clipboard", clipboard)
    check(copied == expected, "the copy differs from `quillet plan`:\n--- copied\n" + copied.decode(errors="replace")
          + "\n--- quillet plan\n" + expected.decode(errors="replace"))

    step("done")
    press(sheet, "Done")
    wait_for("the plan sheet closing", lambda: find(app, "label", "Preview only. Nothing changed.") is None)
    check(quillet.poll() is None, f"the program ended by itself with status {quillet.returncode}")
    stop(quillet)  # and its preferences are written by now

    step("nothing changed on disk")
    after = files_under(args.home)
    changed = sorted(path for path, size in before.items() if after.get(path) != size)
    added = sorted(set(after) - set(before))
    check(not changed and all("preferences" in os.path.basename(path) for path in added),
          f"files changed or went missing under the home folder: {changed}; added: {added}")


def main():
    global args
    parser = argparse.ArgumentParser()
    for option in ("--program", "--home", "--pictures", "--work"):
        parser.add_argument(option, required=True)
    args = parser.parse_args()
    try:
        scenario()
    except Exception as error:
        log(f'FAILED at step {step_number} "{current_step}": {error}')
        log(f"screen at the failure: {screenshot('FAILED-' + current_step.replace(' ', '-'))}")
        program_log = os.path.join(args.work, "quillet.log")
        if os.path.exists(program_log):
            log("program output:\n" + open(program_log).read().strip()[-4000:])
        return 1
    finally:
        # The program first, so it never sees its accessibility bus vanish while running.
        for process in reversed(children):
            stop(process)
    log("passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
