#!/usr/bin/python3
"""Drives printer-config's window through AT-SPI, as a screen reader or switch user would.

Run by run_window_e2e.sh inside its private X server and D-Bus session; it expects the
application to be starting already and printer-sim to be listening on 127.0.0.1:PORT with its
console lines going to SIM_LOG. Exits 0 when every step worked, 1 (after printing the
application's accessible tree) when one did not.
"""

import argparse
import sys
import time
import warnings

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib  # noqa: E402

APP_NAME = "printer-config"

# One bound for every wait. Generous: under the sanitizers the window takes seconds to come up,
# and a wait that succeeds returns as soon as its condition holds.
WAIT_SECONDS = 30.0
POLL_INTERVAL = 0.05


class StepFailed(Exception):
    pass


def wait_for(description, probe, seconds=WAIT_SECONDS):
    """Polls probe() until it returns something truthy, which it returns; fails after seconds."""
    deadline = time.monotonic() + seconds
    while True:
        try:
            result = probe()
        except GLib.Error:
            # An object can go away between listing it and asking about it; ask again.
            result = None
        if result:
            return result
        if time.monotonic() >= deadline:
            raise StepFailed(f"timed out after {seconds:.0f} s waiting for {description}")
        time.sleep(POLL_INTERVAL)


def find_application():
    desktop = Atspi.get_desktop(0)
    for i in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(i)
        if app is not None and app.get_name() == APP_NAME:
            return app
    return None


def descendants(node):
    """Every node under node, depth first. Nodes that vanish while walking are skipped."""
    try:
        count = node.get_child_count()
    except GLib.Error:
        return
    for i in range(count):
        try:
            child = node.get_child_at_index(i)
        except GLib.Error:
            continue
        if child is None:
            continue
        yield child
        yield from descendants(child)


def is_showing(node):
    return node.get_state_set().contains(Atspi.StateType.SHOWING)


def find_showing(root, name, role=None):
    """The first node on screen with this accessible name (and role, if given).

    Hidden panels stay in Qt's tree without the SHOWING state, and the same name can be used by
    a hidden control and a visible one; only what a sighted user could see counts.
    """
    # The client library caches names and states; the window changes under us.
    root.clear_cache()
    for node in descendants(root):
        if node.get_name() != name or (role is not None and node.get_role() != role):
            continue
        if is_showing(node):
            return node
    return None


def action_names(node):
    if "Action" not in node.get_interfaces():
        return []
    # libatspi 2.46 marks get_action_name deprecated, but its successor is not in the typelib.
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", DeprecationWarning)
        return [Atspi.Action.get_action_name(node, i)
                for i in range(Atspi.Action.get_n_actions(node))]


def press(node, label):
    names = action_names(node)
    for wanted in ("Press", "Toggle"):
        if wanted in names:
            if not Atspi.Action.do_action(node, names.index(wanted)):
                raise StepFailed(f'"{label}" refused its {wanted} action')
            return
    raise StepFailed(f'"{label}" offers no Press or Toggle action (it offers {names})')


def press_named(root, name, role=None):
    node = wait_for(f'"{name}" on screen', lambda: find_showing(root, name, role))
    press(node, name)


def text_of(node):
    node.clear_cache()
    return Atspi.Text.get_text(node, 0, Atspi.Text.get_character_count(node))


KEYSYM_END = 0xFF57
KEYSYM_BACKSPACE = 0xFF08


def has_focus(node):
    node.clear_cache()
    return node.get_state_set().contains(Atspi.StateType.FOCUSED)


def type_into(root, name, value):
    """Replaces a field's text by typing, as a user would.

    Qt 6.4's Quick items offer no EditableText interface, and a text set from outside would not
    count as an edit anyway: the window only takes up what is typed.
    """
    field = wait_for(f'the "{name}" field on screen',
                     lambda: find_showing(root, name, Atspi.Role.TEXT))
    if not Atspi.Component.grab_focus(field):
        raise StepFailed(f'"{name}" refused the keyboard focus')
    wait_for(f'"{name}" to have the keyboard focus', lambda: has_focus(field))
    # Keys by symbol, not by key code: the X server's keyboard map is not ours to assume.
    old = text_of(field)
    if old:
        press_key(KEYSYM_END)
        for _ in old:
            press_key(KEYSYM_BACKSPACE)
    if not Atspi.generate_keyboard_event(0, value, Atspi.KeySynthType.STRING):
        raise StepFailed(f'could not type {value!r}')
    wait_for(f'"{name}" to read {value!r}', lambda: text_of(field) == value)


def press_key(keysym):
    if not Atspi.generate_keyboard_event(keysym, None, Atspi.KeySynthType.SYM):
        raise StepFailed(f"could not send the key 0x{keysym:x}")


def sim_lines(path):
    with open(path, encoding="utf-8") as log:
        return log.read().splitlines()


def sim_printed_test(path):
    return any(line.endswith("\u00b7 test") for line in sim_lines(path))


MARKED_STATES = (Atspi.StateType.SHOWING, Atspi.StateType.FOCUSED, Atspi.StateType.CHECKED,
                 Atspi.StateType.ENABLED)


def dump_tree(root, out):
    def show(node, depth):
        try:
            states = node.get_state_set()
            marks = [mark.value_nick for mark in MARKED_STATES if states.contains(mark)]
            out.write(f"{'  ' * depth}{node.get_role_name()} {node.get_name()!r} "
                      f"{' '.join(marks)} {action_names(node)}\n")
            for i in range(node.get_child_count()):
                child = node.get_child_at_index(i)
                if child is not None:
                    show(child, depth + 1)
        except GLib.Error as error:
            out.write(f"{'  ' * depth}(gone: {error.message})\n")

    root.clear_cache()
    show(root, 0)


def drive(sim_port, sim_log):
    app = wait_for(f'the application "{APP_NAME}" on the accessibility bus', find_application)

    # Started without a reachable Bluetooth service, the window opens with the Bluetooth alert
    # up; like a user, dismiss it with its own button before anything else.
    def alert():
        return find_showing(app, "Bluetooth", Atspi.Role.DIALOG)

    press_named(wait_for('the "Bluetooth" alert', alert), "OK", Atspi.Role.PUSH_BUTTON)
    wait_for('the "Bluetooth" alert to close', lambda: alert() is None)

    # The transport choice shares its name with the dashboard's "Network" card, which is hidden
    # until a printer is connected.
    press_named(app, "Network")
    type_into(app, "IP Address", "127.0.0.1")
    type_into(app, "Port", str(sim_port))
    press_named(app, "Connect Network", Atspi.Role.PUSH_BUTTON)

    # The dashboard names the printer by the address it was reached at: proof that the typed
    # address and port reached the application, not just the fields.
    wait_for("the dashboard naming 127.0.0.1:%d" % sim_port,
             lambda: find_showing(app, f"127.0.0.1:{sim_port}", Atspi.Role.HEADING))

    if sim_printed_test(sim_log):
        raise StepFailed("printer-sim reported a communication test before one was asked for")
    press_named(app, "Communication Test", Atspi.Role.PUSH_BUTTON)
    wait_for('printer-sim to report the communication test ("... \u00b7 test")',
             lambda: sim_printed_test(sim_log))

    press_named(app, "Parameter Settings", Atspi.Role.PUSH_BUTTON)
    wait_for('the settings hub ("Basic Settings")', lambda: find_showing(app, "Basic Settings"))
    press_named(app, "Close")
    # Asking for the dashboard too: a window that went away would also show no hub.
    wait_for("the settings hub to close over the dashboard",
             lambda: find_showing(app, "Basic Settings") is None
             and find_showing(app, "Parameter Settings", Atspi.Role.PUSH_BUTTON))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--sim-port", type=int, required=True)
    parser.add_argument("--sim-log", required=True)
    args = parser.parse_args()

    try:
        drive(args.sim_port, args.sim_log)
    except StepFailed as failure:
        sys.stderr.write(f"FAIL: {failure}\n")
    else:
        print("driven over AT-SPI: alert, Network, connect, communication test, settings hub")
        return 0

    app = find_application()
    if app is None:
        sys.stderr.write(f'"{APP_NAME}" is not on the accessibility bus\n')
    else:
        sys.stderr.write("accessible tree of the application:\n")
        dump_tree(app, sys.stderr)
    return 1


if __name__ == "__main__":
    sys.exit(main())
