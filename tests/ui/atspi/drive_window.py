#!/usr/bin/python3
"""Drives printer-config's window through AT-SPI with the keyboard alone, as a screen reader user would.

Run by run_window_e2e.sh inside its private X server and D-Bus session; it expects the
application to be starting already and printer-sim to be listening on 127.0.0.1:PORT with its
console lines going to SIM_LOG. Every control the Tab key reaches must say what it is (a name, a
role, the focusable state); the drive moves only by Tab, Shift+Tab, Space, Return and Escape, and
types or sets text the way assistive tools do. Exits 0 when every step worked, 1 (after printing
the application's accessible tree) when one did not.
"""

import argparse
import os
import sys
import tempfile
import time
import warnings

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib  # noqa: E402

APP_NAME = "printer-config"
S = Atspi.StateType
R = Atspi.Role

# One bound for every wait. Generous: under the sanitizers the window takes seconds to come up,
# and a wait that succeeds returns as soon as its condition holds.
WAIT_SECONDS = 30.0
POLL_INTERVAL = 0.05

KEY_TAB, KEY_RETURN, KEY_ESCAPE, KEY_SPACE = 0xFF09, 0xFF0D, 0xFF1B, 0x20
KEY_END, KEY_BACKSPACE, KEY_SHIFT = 0xFF57, 0xFF08, 0xFFE1

# What a control the keyboard can reach may be.
CONTROL_ROLES = {R.PUSH_BUTTON, R.RADIO_BUTTON, R.CHECK_BOX, R.TOGGLE_BUTTON, R.TEXT,
                 R.PASSWORD_TEXT, R.COMBO_BOX, R.LIST_ITEM, R.PAGE_TAB, R.ENTRY}


class StepFailed(Exception):
    pass


def pump():
    """Delivers the accessibility events that have arrived (they come through GLib's main loop)."""
    context = GLib.MainContext.default()
    while context.pending():
        context.iteration(False)


def wait_for(description, probe, seconds=WAIT_SECONDS):
    """Polls probe() until it returns something truthy, which it returns; fails after seconds."""
    deadline = time.monotonic() + seconds
    while True:
        pump()
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


def states(node):
    return node.get_state_set()


def showing(root):
    """Every node on screen under root, depth first; hidden panels are not entered."""
    try:
        count = root.get_child_count()
    except GLib.Error:
        return
    for i in range(count):
        try:
            child = root.get_child_at_index(i)
            if child is None or not states(child).contains(S.SHOWING):
                continue
        except GLib.Error:
            continue  # gone while walking
        yield child
        yield from showing(child)


def find_showing(root, name, role=None):
    # The client library caches names and states; the window changes under us.
    root.clear_cache()
    for node in showing(root):
        if node.get_name() == name and (role is None or node.get_role() == role):
            return node
    return None


class FocusTracker:
    """Follows the focus as a screen reader does, by the application's focus events: asking every
    node for its state at each step costs a D-Bus round trip per node."""

    def __init__(self):
        self.node = None
        self.listener = Atspi.EventListener.new(self._on_event)
        self.listener.register("object:state-changed:focused")

    def _on_event(self, event):
        if event.detail1 and event.source is not None and event.source.get_role() != R.FRAME:
            self.node = event.source


TRACKER = None


def focused(root):
    """The control that has the keyboard focus, as the last focus event named it."""
    pump()
    return TRACKER.node


def inside(node, ancestor):
    while node is not None:
        if node == ancestor:
            return True
        node = node.get_parent()
    return False


def describe(node):
    return f"{node.get_role_name()} {node.get_name()!r}"


def press_key(keysym, shift=False):
    if shift:
        Atspi.generate_keyboard_event(KEY_SHIFT, None, Atspi.KeySynthType.SYM | Atspi.KeySynthType.PRESS)
    ok = Atspi.generate_keyboard_event(keysym, None, Atspi.KeySynthType.SYM)
    if shift:
        Atspi.generate_keyboard_event(KEY_SHIFT, None, Atspi.KeySynthType.SYM | Atspi.KeySynthType.RELEASE)
    if not ok:
        raise StepFailed(f"could not send the key 0x{keysym:x}")


class Keyboard:
    """Moves the focus with Tab and checks every control it lands on."""

    def __init__(self, app):
        self.app = app
        self.reached = set()

    def check(self, node):
        role, name, state = node.get_role(), node.get_name(), states(node)
        if role not in CONTROL_ROLES:
            raise StepFailed(f"the focus landed on {describe(node)}, which is not a control")
        if not name.strip():
            raise StepFailed(f"a focusable {node.get_role_name()} has no accessible name")
        for needed in (S.FOCUSABLE, S.ENABLED, S.SENSITIVE):
            if not state.contains(needed):
                raise StepFailed(f"{describe(node)} has the focus but is not {needed.value_nick}")
        self.reached.add(name)

    def tab(self, backwards=False):
        before = focused(self.app)
        press_key(KEY_TAB, shift=backwards)
        node = wait_for("the focus to move", lambda: (lambda now: now if now is not None and now != before else None)(focused(self.app)))
        self.check(node)
        return node

    def tab_to(self, name, role=None, within=None, limit=60, backwards=False):
        """Tabs until the control with this name has the focus; fails if it never comes.

        With within, every stop on the way must lie inside that node (a modal sheet or alert).
        """
        node = focused(self.app)
        for _ in range(limit):
            if node is not None and node.get_name() == name and (role is None or node.get_role() == role):
                return node
            node = self.tab(backwards)
            if within is not None and not inside(node, within):
                raise StepFailed(f"Tab left {describe(within)} for {describe(node)}")
        raise StepFailed(f'Tab never reached "{name}" in {limit} steps')

    def activate(self, name, role=None, within=None, key=KEY_SPACE):
        self.tab_to(name, role, within)
        press_key(key)

    def cycle(self, within, stops=60):
        """Tabs round a modal node: every stop lies inside it, and the round comes back."""
        # Counted from the first control: the sheet itself may hold the focus when it opens.
        first = self.tab()
        if not inside(first, within):
            raise StepFailed(f"Tab left {describe(within)} for {describe(first)}")
        for _ in range(stops):
            node = self.tab()
            if not inside(node, within):
                raise StepFailed(f"Tab left {describe(within)} for {describe(node)}")
            if node == first:
                return
        raise StepFailed(f"Tab did not come round in {describe(within)} within {stops} stops")


def text_of(node):
    node.clear_cache()
    return Atspi.Text.get_text(node, 0, Atspi.Text.get_character_count(node))


def type_into(keys, name, value):
    """Replaces a field's text by typing, as a user would."""
    field = keys.tab_to(name)
    old = text_of(field)
    if old:
        press_key(KEY_END)
        for _ in old:
            press_key(KEY_BACKSPACE)
    if not Atspi.generate_keyboard_event(0, value, Atspi.KeySynthType.STRING):
        raise StepFailed(f"could not type {value!r}")
    wait_for(f'"{name}" to read {value!r}', lambda: text_of(field) == value)


def set_text(root, name, value):
    """Puts text into a field the way dictation and other assistive tools do: all at once."""
    field = wait_for(f'the "{name}" field', lambda: find_showing(root, name))
    if "EditableText" not in field.get_interfaces():
        raise StepFailed(f'"{name}" offers no EditableText (it offers {field.get_interfaces()})')
    Atspi.EditableText.set_text_contents(field, value)
    wait_for(f'"{name}" to read {value!r}', lambda: text_of(field) == value)


def sim_lines(path):
    with open(path, encoding="utf-8") as log:
        return log.read().splitlines()


def dialog(app, name):
    return find_showing(app, name, R.DIALOG)


def any_dialog(app):
    app.clear_cache()
    return next((node for node in showing(app) if node.get_role() == R.DIALOG), None)


def dismiss_alert(app, keys, title):
    """The alert holds the focus; Return dismisses it."""
    alert = wait_for(f'the "{title}" alert', lambda: dialog(app, title))
    wait_for(f'the focus in the "{title}" alert', lambda: inside(focused(app), alert))
    press_key(KEY_RETURN)
    wait_for(f'the "{title}" alert to close', lambda: dialog(app, title) is None)


def require_state(node, state, present=True):
    node.clear_cache()
    if states(node).contains(state) != present:
        raise StepFailed(f"{describe(node)} is {'not ' if present else ''}{state.value_nick}")


def drive(sim_port, sim_log):
    global TRACKER
    TRACKER = FocusTracker()
    app = wait_for(f'the application "{APP_NAME}" on the accessibility bus', find_application)
    keys = Keyboard(app)
    wait_for("the transport choice", lambda: find_showing(app, "Network", R.RADIO_BUTTON))
    address = f"127.0.0.1:{sim_port}"

    # Network: the address typed, the port put in as assistive tools do, then connect.
    keys.activate("Network", R.RADIO_BUTTON)
    type_into(keys, "IP Address", "127.0.0.1")
    set_text(app, "Port", str(sim_port))
    keys.activate("Connect Network", R.PUSH_BUTTON)
    # The dashboard names the printer by the address the link was made to.
    title = wait_for(f"the dashboard naming {address}", lambda: find_showing(app, address, R.HEADING))

    lines = len(sim_lines(sim_log))
    keys.activate("Communication Test", R.PUSH_BUTTON)
    wait_for('printer-sim to report the communication test ("... \u00b7 test")',
             lambda: any(line.endswith("\u00b7 test") for line in sim_lines(sim_log)[lines:]))
    wait_for("the communication test's notice",
             lambda: find_showing(app, "Communication test sent to the printer"))

    # Choosing Network again resets its fields; the title stays with the live link.
    keys.activate("Network", R.RADIO_BUTTON)
    wait_for('the "Port" field reset', lambda: text_of(find_showing(app, "Port")) == "9100")
    require_state(title, S.SHOWING)

    # The settings sheet takes the focus and keeps it, and the transport cannot change under it.
    keys.activate("Parameter Settings", R.PUSH_BUTTON)
    sheet = wait_for("the settings sheet", lambda: dialog(app, "Parameter Settings"))
    wait_for("the focus in the settings sheet", lambda: inside(focused(app), sheet))
    keys.cycle(sheet)
    for name in ("Network", "Bluetooth", "USB"):
        transport = find_showing(app, name, R.RADIO_BUTTON)
        if transport is not None:
            require_state(transport, S.SENSITIVE, present=False)

    # Basic settings: choices are radio buttons that say which is chosen, and the codepage
    # list is left with Escape.
    keys.activate("Basic Settings", R.PUSH_BUTTON, within=sheet)
    sheet = wait_for("the Basic Settings sheet", lambda: dialog(app, "Basic Settings"))
    for picker in ("Print Density", "Font"):
        # Qt puts a group on the bus as a named panel.
        group = wait_for(f'the "{picker}" choice', lambda: find_showing(app, picker, R.PANEL))
        chosen = [node for node in showing(group) if node.get_role() == R.RADIO_BUTTON
                  and states(node).contains(S.CHECKED)]
        if len(chosen) != 1:
            raise StepFailed(f'"{picker}" has {len(chosen)} checked choices, not one')
    keys.activate("Language / Codepage", R.PUSH_BUTTON, within=sheet)
    codepages = wait_for("the codepage list", lambda: find_showing(app, "Language / Codepage", R.LIST))
    current = wait_for("the current codepage", lambda: next(
        (n for n in showing(codepages) if states(n).contains(S.CHECKED)), None))
    require_state(current, S.SHOWING)
    press_key(KEY_ESCAPE)
    wait_for("the codepage list to close", lambda: find_showing(app, "Language / Codepage", R.LIST) is None)
    lines = len(sim_lines(sim_log))
    keys.activate("Set", R.PUSH_BUTTON, within=sheet)
    wait_for("printer-sim to report the basic settings",
             lambda: any("\u00b7 basic " in line for line in sim_lines(sim_log)[lines:]))
    press_key(KEY_ESCAPE)
    wait_for("the sheet to close", lambda: dialog(app, "Basic Settings") is None)

    # Every other screen: walked round with Tab (every control named), then closed with Escape.
    screens = (("Network Settings", ["Ethernet: Use Static IP", "Wi\u2011Fi: Use Static IP"]),
               ("WIFI Settings", ["WIFI Name", "WIFI Password"]),
               ("MQTT Settings", ["Password"]))
    for hub_row, expected in screens:
        keys.activate("Parameter Settings", R.PUSH_BUTTON)
        hub = wait_for("the settings sheet", lambda: dialog(app, "Parameter Settings"))
        keys.activate(hub_row, R.PUSH_BUTTON, within=hub)
        sheet = wait_for(f'the "{hub_row}" sheet', lambda: dialog(app, hub_row))
        keys.reached.clear()
        keys.cycle(sheet)
        missing = [name for name in expected if name not in keys.reached]
        if missing:
            raise StepFailed(f'Tab round "{hub_row}" never reached {missing}; it reached {sorted(keys.reached)}')
        if hub_row == "Network Settings":
            # The confirmation comes once the printer has the bytes, never before.
            lines = len(sim_lines(sim_log))
            keys.activate("Set Ethernet Dynamic IP", R.PUSH_BUTTON, within=sheet)
            dismiss_alert(app, keys, "Settings Successful")
            if len(sim_lines(sim_log)) == lines:
                raise StepFailed("the window confirmed an address printer-sim never received")
        if hub_row == "MQTT Settings":
            check_tls_pane(app, keys, sheet)
        press_key(KEY_ESCAPE)
        wait_for(f'the "{hub_row}" sheet to close', lambda: dialog(app, hub_row) is None)

    # Profiles: what the screens hold saved to a file only its owner reads, read back, and
    # applied to the printer, all from the keyboard.
    profile = os.path.join(tempfile.mkdtemp(), "shop.json")
    for hub_row, field_value, action in (("Save as Profile\u2026", profile, "Save Profile"),
                                         ("Apply Profile\u2026", profile, "Read Profile")):
        keys.activate("Parameter Settings", R.PUSH_BUTTON)
        hub = wait_for("the settings sheet", lambda: dialog(app, "Parameter Settings"))
        keys.activate(hub_row, R.PUSH_BUTTON, within=hub)
        title = hub_row.rstrip("\u2026")
        sheet = wait_for(f'the "{title}" sheet', lambda: dialog(app, title))
        type_into(keys, "File", field_value)
        keys.activate(action, R.PUSH_BUTTON, within=sheet)
        if action == "Save Profile":
            dismiss_alert(app, keys, "Profile Saved")
            if os.stat(profile).st_mode & 0o777 != 0o600:
                raise StepFailed(f"the profile was saved with mode {os.stat(profile).st_mode & 0o777:o}")
            press_key(KEY_ESCAPE)
            wait_for("the sheet to close", lambda: dialog(app, title) is None)
    lines = len(sim_lines(sim_log))
    keys.activate("Apply", R.PUSH_BUTTON, within=sheet)
    dismiss_alert(app, keys, "Settings Successful")
    if not any(line.endswith("\u00b7 mqtt.tls-off") for line in sim_lines(sim_log)[lines:]):
        raise StepFailed("the window confirmed a profile whose last command printer-sim never got")
    press_key(KEY_ESCAPE)
    wait_for("the profile sheet to close", lambda: dialog(app, "Apply Profile") is None)
    os.remove(profile)
    os.rmdir(os.path.dirname(profile))

    keys.activate("Disconnect", R.PUSH_BUTTON)
    wait_for("the dashboard to go", lambda: find_showing(app, address, R.HEADING) is None)

    # USB with no printer attached: the connect button says it cannot be used.
    keys.activate("USB", R.RADIO_BUTTON)
    if find_showing(app, "No USB printer found. Use a data USB cable (not charge-only), then Refresh."):
        connect = wait_for('"Connect USB"', lambda: find_showing(app, "Connect USB", R.PUSH_BUTTON))
        require_state(connect, S.ENABLED, present=False)
        require_state(connect, S.SENSITIVE, present=False)

    # Without a Bluetooth service nothing was said about it until Bluetooth is chosen.
    if any_dialog(app) is not None:
        raise StepFailed(f"an alert is up before Bluetooth was chosen: {describe(any_dialog(app))}")
    keys.activate("Bluetooth", R.RADIO_BUTTON)
    dismiss_alert(app, keys, "Bluetooth")


def check_tls_pane(app, keys, sheet):
    """The TLS pane: its passwords are named, and its apply button says when it cannot be used."""
    keys.activate("TLS", R.RADIO_BUTTON, within=sheet)
    apply = wait_for('"Apply TLS Settings"', lambda: find_showing(app, "Apply TLS Settings", R.PUSH_BUTTON))
    enabled = states(apply).contains(S.ENABLED)
    if enabled != states(apply).contains(S.SENSITIVE):
        raise StepFailed(f"{describe(apply)} is enabled but not sensitive, or the other way round")
    keys.reached.clear()
    keys.cycle(sheet)
    if enabled != ("Apply TLS Settings" in keys.reached):
        raise StepFailed(f'"Apply TLS Settings" reports enabled={enabled}, but Tab '
                         f'{"never reached" if enabled else "reached"} it')
    # The certificate chooser, left with Escape: the screen says the import was cancelled.
    keys.activate("Mutual", R.RADIO_BUTTON, within=sheet)
    keys.activate("Import File 1 \u00b7 CA", R.PUSH_BUTTON, within=sheet)
    chooser = wait_for("the certificate chooser", lambda: dialog(app, "Import certificate"))
    wait_for("the focus in the chooser", lambda: inside(focused(app), chooser))
    press_key(KEY_ESCAPE)
    alert = wait_for('the "Settings" alert', lambda: dialog(app, "Settings"))
    if not find_showing(alert, "Import cancelled or failed: no file was chosen"):
        raise StepFailed("a cancelled import did not say so")
    dismiss_alert(app, keys, "Settings")


MARKED_STATES = (S.SHOWING, S.FOCUSED, S.CHECKED, S.ENABLED, S.SENSITIVE)


def dump_tree(root, out):
    def action_names(node):
        if "Action" not in node.get_interfaces():
            return []
        # libatspi 2.46 marks get_action_name deprecated, but its successor is not in the typelib.
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", DeprecationWarning)
            return [Atspi.Action.get_action_name(node, i) for i in range(Atspi.Action.get_n_actions(node))]

    def show(node, depth):
        try:
            marks = [mark.value_nick for mark in MARKED_STATES if states(node).contains(mark)]
            out.write(f"{'  ' * depth}{describe(node)} {' '.join(marks)} {action_names(node)}\n")
            for i in range(node.get_child_count()):
                child = node.get_child_at_index(i)
                if child is not None:
                    show(child, depth + 1)
        except GLib.Error as error:
            out.write(f"{'  ' * depth}(gone: {error.message})\n")

    root.clear_cache()
    show(root, 0)


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
        print("driven by keyboard over AT-SPI: Network, connect, communication test, every "
              "settings screen, a profile saved and applied, disconnect, USB, the Bluetooth alert")
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
