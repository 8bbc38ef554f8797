#!/usr/bin/python3
"""Reads a running Vantelo's windows as a screen reader does, over AT-SPI.

Usage: atspi_names.py PID VANTELO ARTIFACTS_DIR
       atspi_names.py --shows PID TEXT   (waits until the dialer shows TEXT)

Checks the dialer window, then opens the options window and the about
window with a click (xdotool) on the dialer's buttons, found by their
accessible names and places, and checks those too; then dials with
"Connecter" and starts VANTELO again, which shows the connection details,
and checks them. A control that takes the keyboard focus and
has no name of its own fails the check: a screen reader would announce it
by its kind alone, or by the caption of the frame around it, the same for
two controls; so does a window that is not offered as a window (a
frame or a dialog), whose title a screen reader would not announce. Exits 0 when every control has a name, 1 otherwise.
"""

import subprocess
import sys
import time

import pyatspi

DIALER = "Vantelo - BETA VERSION"
WINDOW_ROLES = {pyatspi.ROLE_FRAME, pyatspi.ROLE_DIALOG, pyatspi.ROLE_WINDOW}


def log(text):
    print(f"e2e_atspi_names: {text}", flush=True)


def wait_for(what, probe, seconds=15.0, seen=None):
    deadline = time.monotonic() + seconds
    while True:
        try:
            found = probe()
        except Exception:  # a window that goes while it is read: ask again
            found = None
        if found:
            return found
        if time.monotonic() > deadline:
            log(f"FAIL: no {what} within {seconds:.0f}s")
            if seen:
                log(f"  seen: {seen()}")
            sys.exit(1)
        time.sleep(0.1)


def application(pid):
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        app = desktop.getChildAtIndex(i)
        if app is not None and app.get_process_id() == pid:
            return app
    return None


def showing(acc):
    return acc.getState().contains(pyatspi.STATE_SHOWING)


def windows(app):
    found = {}
    for i in range(app.childCount):
        w = app.getChildAtIndex(i)
        if w is not None and showing(w):
            found[w.name] = w
    return found


def window(pid, name):
    return windows(application(pid)).get(name)


def controls(acc, path="", around=()):
    """Every showing control under acc: the control, its path of roles and
    names, and the names of the panels around it."""
    for i in range(acc.childCount):
        child = acc.getChildAtIndex(i)
        if child is None or not showing(child):
            continue
        here = f"{path}/{child.getRoleName()}"
        if child.name:
            here += f" \"{child.name}\""
        yield child, here, around
        frame = child.getRole() == pyatspi.ROLE_PANEL and child.name
        yield from controls(child, here, around + ((child.name,) if frame else ()))


def check(win):
    """What a screen reader would miss in win: the window itself when it is
    not offered as a window, and each focusable control without a name."""
    problems = []
    if win.getRole() not in WINDOW_ROLES:
        problems.append(f"\"{win.name}\" is a {win.getRoleName()}, not a window")
    count = 0
    owners = {}
    for control, path, around in controls(win):
        if not control.getState().contains(pyatspi.STATE_FOCUSABLE):
            continue
        count += 1
        log(f"    {path}")
        name = control.name.strip()
        where = f"\"{win.name}\"{path}"
        # A control with no name of its own is given its frame's caption,
        # and two of them share it. The edit box of an editable combo box
        # rightly has the combo box's name.
        if not name:
            problems.append(f"no name: {where}")
        elif name in around:
            problems.append(f"announced by its frame's caption: {where}")
        elif name in owners and not path.startswith(owners[name] + "/"):
            problems.append(f"the same name as {owners[name]}: {where}")
        owners.setdefault(name, path)
    if count == 0:
        problems.append(f"\"{win.name}\" offers no focusable control at all")
    log(f"  \"{win.name}\" ({win.getRoleName()}): {count} focusable controls")
    for problem in problems:
        log(f"    {problem}")
    return problems


def button(win, name, role=pyatspi.ROLE_PUSH_BUTTON):
    for control, _, _ in controls(win):
        if control.getRole() == role and control.name == name:
            return control
    return None


def click(control):
    box = control.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    x, y = box.x + box.width // 2, box.y + box.height // 2
    subprocess.run(["xdotool", "mousemove", str(x), str(y), "click", "1"], check=True)


def shot(art, name):
    subprocess.run(["import", "-window", "root", f"{art}/{name}.png"], check=False)


def dialer_shows(pid, text):
    """Whether a caption in the dialer reads text, as a screen reader reads it."""
    dialer = window(pid, DIALER)
    if dialer is None:
        return False
    for control, _, _ in controls(dialer):
        if control.getRole() == pyatspi.ROLE_LABEL and text in control.name:
            return True
    return False


def main():
    if sys.argv[1] == "--shows":
        pid, text = int(sys.argv[2]), sys.argv[3]
        wait_for(f"\"{text}\" in the dialer", lambda: dialer_shows(pid, text), 10)
        log(f"  the dialer shows \"{text}\"")
        return 0
    pid, vantelo, art = int(sys.argv[1]), sys.argv[2], sys.argv[3]
    wait_for("Vantelo on the accessibility bus", lambda: application(pid))
    dialer = wait_for("the dialer, read over AT-SPI", lambda: window(pid, DIALER),
                      seen=lambda: [(w.name, w.getRoleName()) for w in application(pid)])
    problems = check(dialer)
    shot(art, "01-dialer")

    # The modal windows, each opened from its button on the dialer.
    for caption, title in (("Options", "Options..."), ("A Propos", "About Vantelo BETA")):
        dialer = wait_for("the dialer", lambda: window(pid, DIALER))
        pressed = wait_for(f"the dialer's \"{caption}\" button", lambda: button(dialer, caption))
        click(pressed)
        opened = wait_for(f"\"{title}\" over AT-SPI", lambda: window(pid, title))
        problems += check(opened)
        shot(art, f"02-{caption.replace(' ', '-').lower()}")
        if title == "Options...":
            # The options' other page.
            click(wait_for("the \"Connection\" page's choice",
                           lambda: button(opened, "Connection", pyatspi.ROLE_RADIO_BUTTON)))
            wait_for("the \"Connection\" page", lambda: button(
                window(pid, title), "Connection", pyatspi.ROLE_RADIO_BUTTON).getState().contains(
                    pyatspi.STATE_CHECKED))
            problems += check(window(pid, title))
            shot(art, "02-options-connection")
        subprocess.run(["xdotool", "key", "Escape"], check=True)
        wait_for(f"\"{title}\" to close", lambda: window(pid, title) is None)

    # The connection details: "Connecter" dials with the stored login, and
    # a second start while the line is up shows them.
    click(wait_for("the dialer's \"Connecter\" button", lambda: button(dialer, "Connecter")))

    def second_start_shows_details():
        subprocess.run([vantelo], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=10, check=False)
        time.sleep(0.3)
        return window(pid, "Session")

    details = wait_for("\"Session\" from a second start", second_start_shows_details, 20)
    problems += check(details)
    shot(art, "03-details")

    if problems:
        log(f"FAIL: {len(problems)} problems: {problems}")
        return 1
    log("PASS (the four windows are offered as windows, their focusable controls by name)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
