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

SCAN_COMPLETE = "Scan complete. Nothing was changed."
# Titles of the items the test ticks; the other two found items stay unticked.
CHOSEN = ["site / node_modules", "_cacache"]

# Under CTest's 120 s, so a slow run still fails here, naming its step, with a picture.
BUDGET_SECONDS = 100
finish_by = time.monotonic() + BUDGET_SECONDS

args = None
children = []
step_number = 0
current_step = "start"


class Failure(Exception):
    pass


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


def wait_for(what, probe, timeout=20.0, interval=0.1):
    """Polls `probe` until it returns something true; fails naming `what` after `timeout` s."""
    deadline = min(time.monotonic() + timeout, finish_by)
    last_error = None
    while True:
        try:
            value = probe()
            if value:
                return value
        except Failure:
            raise
        except Exception as error:  # the tree changes under us while the window rebuilds
            last_error = error
        if time.monotonic() > deadline:
            detail = f" (last error: {last_error})" if last_error else ""
            if deadline == finish_by:
                raise Failure(f"{what} did not happen before the test's {BUDGET_SECONDS} s ran out{detail}")
            raise Failure(f"{what} did not happen within {timeout:.0f} s{detail}")
        time.sleep(interval)


def start(command, name, **kwargs):
    """Starts a process in its own group and records the group for the shell's cleanup."""
    process = subprocess.Popen(command, start_new_session=True, **kwargs)
    children.append(process)
    with open(os.path.join(args.work, f"{name}.pgid"), "w") as file:
        file.write(str(process.pid))
    return process


def stop(process):
    """Ends the process's whole group, politely first, and reaps the process."""
    for sig, grace in ((signal.SIGTERM, 5), (signal.SIGKILL, 5)):
        try:
            os.killpg(process.pid, sig)
        except ProcessLookupError:
            pass
        try:
            process.wait(timeout=grace)
            break
        except subprocess.TimeoutExpired:
            continue


# --- the accessibility tree ------------------------------------------------------------------

def walk(node):
    yield node
    for i in range(node.childCount):
        child = node.getChildAtIndex(i)
        if child is not None:
            yield from walk(child)


def describe(node):
    states = [pyatspi.stateToString(s) for s in node.getState().getStates()]
    try:
        action = node.queryAction()
        actions = [action.getName(i) for i in range(action.nActions)]
    except NotImplementedError:
        actions = []
    return f"[{node.getRoleName()}] {node.name!r} {states} {actions}"


# Names of the rows whose checked state the program announced, as a screen reader hears it.
announced_checked = []


def listen_for_checks():
    def heard(event):
        if event.source is not None and event.detail1 == 1:
            announced_checked.append(event.source.name)
    pyatspi.Registry.registerEventListener(heard, "object:state-changed:checked")


def heard_events():
    """Delivers the accessibility events that arrived; pyatspi hands them over on GLib's loop."""
    context = GLib.MainContext.default()
    while context.pending():
        context.iteration(False)
    return True


def has_state(node, state):
    return node.getState().contains(state)


def showing(node):
    return has_state(node, pyatspi.STATE_SHOWING)


def find(root, role, name, need_showing=True):
    for node in walk(root):
        if node.getRoleName() == role and node.name == name and (not need_showing or showing(node)):
            return node
    return None


def application():
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        app = desktop.getChildAtIndex(i)
        if app is not None and app.name == "quillet":
            return app
    return None


def window(app, title="Quillet"):
    for i in range(app.childCount):
        child = app.getChildAtIndex(i)
        if child is not None and child.getRoleName() in ("frame", "dialog") and child.name == title:
            return child
    return None


def any_window_with(app, text):
    """The top-level window (a sheet) that shows the label `text`."""
    for i in range(app.childCount):
        top = app.getChildAtIndex(i)
        if top is not None and find(top, "label", text):
            return top
    return None


CONTROLS = {"push button", "toggle button", "check box", "radio button", "combo box", "text", "list",
            "list item", "menu item", "slider", "spin button", "page tab", "scroll pane"}


def check_names(root, where):
    """A screen reader announces a control by its name: every control in view needs one."""
    unnamed = [describe(node) for node in walk(root)
               if showing(node) and not node.name.strip()
               and (node.getRoleName() in CONTROLS or has_state(node, pyatspi.STATE_FOCUSABLE))]
    if unnamed:
        raise Failure(f"{where}: controls without an accessible name:\n  " + "\n  ".join(unnamed))


def press(node, what):
    if not has_state(node, pyatspi.STATE_ENABLED):
        raise Failure(f"{what} is disabled")
    action = node.queryAction()
    for i in range(action.nActions):
        if action.getName(i) == "Press":
            action.doAction(i)
            return
    raise Failure(f"{what} offers no Press action")


def button(root, name):
    return wait_for(f'the button "{name}" showing', lambda: find(root, "push button", name))


def enabled_button(root, name):
    return wait_for(f'the button "{name}" enabled',
                    lambda: (lambda b: b if b and has_state(b, pyatspi.STATE_ENABLED) else None)(
                        find(root, "push button", name)))


def label(root, text, timeout=20.0):
    return wait_for(f'the text "{text}"', lambda: find(root, "label", text), timeout=timeout)


def focus_window(process):
    """Gives the window the keyboard, as clicking it would; there is no window manager to do so."""
    found = subprocess.run(["xdotool", "search", "--sync", "--onlyvisible", "--pid", str(process.pid),
                            "--name", "^Quillet$"], capture_output=True, text=True, timeout=20)
    ids = found.stdout.split()
    if not ids:
        raise Failure("xdotool found no visible window of the program")
    subprocess.run(["xdotool", "windowfocus", "--sync", ids[0]], check=True, timeout=20)


def keys(*names):
    subprocess.run(["xdotool", "key", "--clearmodifiers", *names], check=True, timeout=10)


# --- the command line's plan -----------------------------------------------------------------

def command_line(*arguments, given=None):
    result = subprocess.run([args.program, *arguments], input=given, capture_output=True, timeout=60)
    if result.returncode != 0:
        raise Failure(f"quillet {' '.join(arguments)} exited with {result.returncode}: {result.stderr.decode()}")
    return result.stdout


def scan_paths_in_order(scan_json, titles):
    items = json.loads(scan_json)["items"]
    by_title = {item["title"]: item["path"] for item in items}
    missing = [t for t in titles if t not in by_title]
    if missing:
        raise Failure(f"the command line's scan has no item titled {missing}")
    wanted = {by_title[t] for t in titles}
    # The window plans the selected items in the scan's order, the command line in the order given.
    return [item["path"] for item in items if item["path"] in wanted]


def clipboard():
    result = subprocess.run(["xclip", "-o", "-selection", "clipboard", "-t", "UTF8_STRING"],
                            capture_output=True, timeout=10)
    return result.stdout if result.returncode == 0 else b""


def compare(copied, expected):
    if copied != expected:
        raise Failure("the copied plan differs from `quillet plan`:\n--- copied\n" +
                      copied.decode(errors="replace") + "\n--- quillet plan\n" + expected.decode(errors="replace"))


def files_under(folder):
    """Every file below `folder` with its size: what a cleanup would have to touch."""
    found = {}
    for base, _, names in os.walk(folder):
        for name in names:
            path = os.path.join(base, name)
            found[path] = os.lstat(path).st_size
    return found


# --- the scenario ----------------------------------------------------------------------------

def scenario():
    before = files_under(args.home)
    step("launch")
    start(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"], "atspi",
          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    started = time.monotonic()
    quillet = start([args.program], "quillet",
                    stdout=open(os.path.join(args.work, "quillet.log"), "w"), stderr=subprocess.STDOUT)

    def running_application():
        if quillet.poll() is not None:
            raise Failure(f"the program ended at start with status {quillet.returncode}")
        return application()

    app = wait_for("the application on the accessibility bus", running_application, timeout=30)
    listen_for_checks()
    main = wait_for('the window "Quillet"', lambda: window(app), timeout=30)
    start_scan = button(main, "Scan developer storage")
    log(f"window ready after {time.monotonic() - started:.2f} s")
    focus_window(quillet)
    label(main, "Find your next few gigabytes.")
    screenshot("welcome")
    check_names(main, "the welcome window")

    step("scan")
    press(start_scan, '"Scan developer storage"')
    label(main, SCAN_COMPLETE, timeout=60)
    results = wait_for("the results list", lambda: find(main, "list", "Results"))
    titles = wait_for("rows in the results list", lambda: listed(results))
    log(f"listed: {titles}")
    for title in CHOSEN:
        if title not in titles:
            raise Failure(f'the results list has no row "{title}" (rows: {titles})')
    screenshot("scanned")
    check_names(main, "the window after the scan")

    step("search")
    # A finished scan leaves the keyboard in the search field.
    search = find(main, "text", "Filter by project or path")
    if search is None or not has_state(search, pyatspi.STATE_FOCUSED):
        raise Failure("the search field does not have the keyboard after the scan")
    subprocess.run(["xdotool", "type", "--delay", "20", "site"], check=True, timeout=10)
    wait_for('the list narrowed to "site / node_modules"', lambda: listed(results) == ["site / node_modules"])
    screenshot("search")
    check_names(main, "the window while searching")
    press(button(main, "Clear search"), '"Clear search"')
    wait_for("the whole list back", lambda: listed(results) == titles)

    step("select items")
    # One row from the keyboard, the other through its checkbox on the accessibility bus.
    select_row(results, CHOSEN[0])
    tick_row(results, CHOSEN[1])
    wait_for("the selection bar", lambda: any(
        n.getRoleName() == "label" and n.name.startswith(f"{len(CHOSEN)} selected · ") and showing(n)
        for n in walk(main)))
    ticked = [n.name for n in walk(results) if n.getRoleName() == "list item" and has_state(n, pyatspi.STATE_CHECKED)]
    if sorted(ticked) != sorted(CHOSEN):
        raise Failure(f"the rows read as checked are {ticked}, not {CHOSEN}")
    screenshot("selected")

    step("details through the bus")
    title = CHOSEN[1]
    press(wait_for(f'the button "Details for {title}"', lambda: find(results, "push button", f"Details for {title}")),
          f'"Details for {title}"')
    details = wait_for(f'the details of "{title}"', lambda: (lambda w: w if w and showing(w) else None)(
        window(app, title)))
    label(details, "To recreate")
    enabled_button(details, "Keep this item")
    screenshot("details")
    check_names(details, "the detail sheet")
    press(enabled_button(details, "Done"), '"Done"')
    wait_for("the detail sheet closing", lambda: window(app, title) is None or not showing(window(app, title)))

    step("review")
    press(enabled_button(main, "Review plan…"), '"Review plan…"')
    sheet = wait_for("the review sheet", lambda: any_window_with(app, "Preview a cleanup plan."))
    for title in CHOSEN:
        wait_for(f'"{title}" in the review sheet', lambda: any(
            n.getRoleName() == "label" and n.name.startswith(title) and showing(n) for n in walk(sheet)))
    screenshot("review")
    check_names(sheet, "the review sheet")

    step("create plan")
    press(enabled_button(sheet, "Create preview plan"), '"Create preview plan"')
    label(main, f"Preview ready for {len(CHOSEN)} items. No files moved or deleted.", timeout=60)
    screenshot("planned")

    step("view plan")
    press(enabled_button(main, "View plan"), '"View plan"')
    sheet = wait_for("the plan sheet", lambda: any_window_with(app, "Preview only. Nothing changed."))
    for title in CHOSEN:
        label(sheet, title)
    screenshot("plan")
    check_names(sheet, "the plan sheet")

    step("copy plan")
    if clipboard():
        raise Failure("the new X server's clipboard is not empty")
    copy = enabled_button(sheet, "Copy plan as JSON")
    press(copy, '"Copy plan as JSON"')
    copied = wait_for("plan text on the clipboard", clipboard)
    screenshot("copied")

    step("compare with the command line")
    scan_json = command_line("scan", "--json", "--home", args.home)
    paths = scan_paths_in_order(scan_json, CHOSEN)
    printed = command_line("plan", "--scan", "-", "--home", args.home, *paths, given=scan_json)
    if not printed.endswith(b"]\n"):
        raise Failure(f"the command line's plan does not end in a bracket and a line break: {printed!r}")
    expected = printed[:-1]  # the terminal's line break is not part of the plan text
    compare(copied, expected)
    # A second copy replaces the first rather than adding to it.
    press(copy, '"Copy plan as JSON" a second time')
    time.sleep(0.3)
    compare(wait_for("plan text on the clipboard again", clipboard), expected)
    log(f"the clipboard holds the same {len(expected)} bytes as `quillet plan`")

    step("done")
    press(enabled_button(sheet, "Done"), '"Done"')
    wait_for("the plan sheet closing", lambda: find(app, "label", "Preview only. Nothing changed.") is None)
    screenshot("closed")
    if quillet.poll() is not None:
        raise Failure(f"the program ended by itself with status {quillet.returncode}")
    stop(quillet)

    step("nothing changed on disk")
    after = files_under(args.home)
    changed = sorted(path for path, size in before.items() if after.get(path) != size)
    if changed:
        raise Failure(f"files changed or went missing under the home folder: {changed}")
    added = sorted(set(after) - set(before))
    if any("preferences" not in os.path.basename(path) for path in added):
        raise Failure(f"the program wrote more than its preferences: {added}")


def listed(results):
    return [node.name for node in walk(results) if node is not results and node.getRoleName() == "list item"]


def current_row(results):
    for node in walk(results):
        if node is not results and node.getRoleName() == "list item" and has_state(node, pyatspi.STATE_FOCUSED):
            return node
    return None


def focus_list(results):
    """Tabs through the window until the results list has the keyboard, as a keyboard user would."""
    for _ in range(15):
        if has_state(results, pyatspi.STATE_FOCUSED):
            return
        keys("Tab")
        try:
            wait_for("focus to move", lambda: has_state(results, pyatspi.STATE_FOCUSED), timeout=0.5)
        except Failure:
            pass
    raise Failure("Tab never brought the keyboard to the results list")


def select_row(results, title):
    """Moves the current row to `title` with the arrow keys and ticks it with Space."""
    focus_list(results)
    names = listed(results)
    for _ in range(len(names) + 2):
        row = wait_for("a current row in the results list", lambda: current_row(results), timeout=5)
        if row.name == title:
            break
        keys("Down" if names.index(title) > names.index(row.name) else "Up")
        wait_for("the current row to move", lambda: current_row(results) and current_row(results).name != row.name,
                 timeout=5)
    else:
        raise Failure(f'the arrow keys never reached the row "{title}"')
    if has_state(row, pyatspi.STATE_CHECKED):
        raise Failure(f'the row "{title}" was ticked before the test ticked it')
    keys("space")
    wait_for(f'the row "{title}" to read as checked',
             lambda: (lambda r: r is not None and r.name == title and has_state(r, pyatspi.STATE_CHECKED))(
                 current_row(results)), timeout=5)
    wait_for(f'the program to announce "{title}" as checked',
             lambda: heard_events() and title in announced_checked, timeout=5)


def tick_row(results, title):
    """Ticks the row `title` with its "Select" checkbox's own action, as a screen reader can."""
    box = wait_for(f'the checkbox "Select {title}"', lambda: find(results, "check box", f"Select {title}"))
    if has_state(box, pyatspi.STATE_CHECKED):
        raise Failure(f'the checkbox "Select {title}" was ticked before the test ticked it')
    action = box.queryAction()
    names = [action.getName(i) for i in range(action.nActions)]
    if "Toggle" not in names:
        raise Failure(f'the checkbox "Select {title}" offers no Toggle action (only {names})')
    action.doAction(names.index("Toggle"))
    wait_for(f'"Select {title}" to read as checked',
             lambda: has_state(find(results, "check box", f"Select {title}"), pyatspi.STATE_CHECKED), timeout=5)
    wait_for(f'the program to announce "Select {title}" as checked',
             lambda: heard_events() and f"Select {title}" in announced_checked, timeout=5)


def main():
    global args
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--home", required=True)
    parser.add_argument("--pictures", required=True)
    parser.add_argument("--work", required=True)
    args = parser.parse_args()
    try:
        scenario()
    except Exception as error:
        path = screenshot(f"FAILED-{current_step.replace(' ', '-')}")
        log(f'FAILED at step {step_number} "{current_step}": {error}')
        log(f"screen at the failure: {path}")
        program_log = os.path.join(args.work, "quillet.log")
        if os.path.exists(program_log):
            with open(program_log) as file:
                text = file.read().strip()
            if text:
                log("program output:\n" + text[-4000:])
        return 1
    finally:
        # The program first, so it never sees its accessibility bus vanish while running.
        for process in reversed(children):
            stop(process)
    log("passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
