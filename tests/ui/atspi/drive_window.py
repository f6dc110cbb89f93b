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
import collections
import os
import sys
import tempfile
import time
import warnings

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, Gio, GLib  # noqa: E402

APP_NAME = "printer-config"
S = Atspi.StateType
R = Atspi.Role

# One bound for every wait. Generous: under the sanitizers on a busy machine the window takes
# seconds to come up, and a wait that succeeds returns as soon as its condition holds.
WAIT_SECONDS = 30.0
# A wait looks again after this long when no accessibility event has woken it earlier.
POLL_SECONDS = 0.05

KEY_TAB, KEY_RETURN, KEY_ESCAPE, KEY_SPACE = 0xFF09, 0xFF0D, 0xFF1B, 0x20
KEY_END, KEY_BACKSPACE, KEY_SHIFT = 0xFF57, 0xFF08, 0xFFE1

# What a control the keyboard can reach may be.
CONTROL_ROLES = {R.PUSH_BUTTON, R.RADIO_BUTTON, R.CHECK_BOX, R.TOGGLE_BUTTON, R.TEXT,
                 R.PASSWORD_TEXT, R.COMBO_BOX, R.LIST_ITEM, R.PAGE_TAB, R.ENTRY}

ACCESSIBLE = "org.a11y.atspi.Accessible"
PROPERTIES = "org.freedesktop.DBus.Properties"
REGISTRY_ROOT = ("org.a11y.atspi.Registry", "/org/a11y/atspi/accessible/root")

# One object as looked at: its role, name and states, and the objects below it (when asked).
Seen = collections.namedtuple("Seen", "node role name states children")


class StepFailed(Exception):
    pass


def pump():
    """Delivers the accessibility events that have arrived (they come through GLib's main loop)."""
    context = GLib.MainContext.default()
    while context.pending():
        context.iteration(False)


def idle(seconds):
    """Returns once something has arrived from the buses (an event, say) or `seconds` passed."""
    woken = []
    timer = GLib.timeout_add(int(seconds * 1000), lambda: woken.append(True) and False)
    GLib.MainContext.default().iteration(True)
    if not woken:
        GLib.source_remove(timer)


def wait_for(description, probe, seconds=WAIT_SECONDS):
    """Looks at probe() until it returns something truthy, which it returns; fails after seconds."""
    deadline = time.monotonic() + seconds
    while True:
        pump()
        result = probe()
        if result:
            return result
        if time.monotonic() >= deadline:
            raise StepFailed(f"timed out after {seconds:.0f} s waiting for {description}")
        idle(POLL_SECONDS)


def has(states, state):
    word, bit = divmod(int(state), 32)
    return bool(states[word] >> bit & 1)


class Bus:
    """The accessibility bus, spoken to directly. Each question is a round trip through the
    window's main thread, which a busy machine schedules late; asked one by one (as the client
    library asks), a look over the window took seconds. The questions of one look go out
    together and their answers are awaited together, so a look costs about one round trip per
    level of the tree, however many objects it covers."""

    def __init__(self):
        session = Gio.bus_get_sync(Gio.BusType.SESSION)
        address = session.call_sync("org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress",
                                    None, GLib.VariantType("(s)"), Gio.DBusCallFlags.NONE, -1,
                                    None).unpack()[0]
        self.connection = Gio.DBusConnection.new_for_address_sync(
            address, Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT
            | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION, None, None)

    def ask(self, questions):
        """The answers to (object, interface, method, arguments), in order; None from an object
        that has gone away (a row scrolled off, a closed sheet) between listing and asking."""
        answers = [None] * len(questions)
        waiting = [len(questions)]

        def answered(connection, result, index):
            try:
                answers[index] = connection.call_finish(result).unpack()
            except GLib.Error:
                pass
            waiting[0] -= 1

        for index, ((bus, path), interface, method, arguments) in enumerate(questions):
            self.connection.call(bus, path, interface, method, arguments, None,
                                 Gio.DBusCallFlags.NONE, int(WAIT_SECONDS * 1000), None,
                                 answered, index)
        while waiting[0]:
            GLib.MainContext.default().iteration(True)
        return answers


def name_question(node):
    return (node, PROPERTIES, "Get", GLib.Variant("(ss)", (ACCESSIBLE, "Name")))


def find_application(bus):
    listed = bus.ask([(REGISTRY_ROOT, ACCESSIBLE, "GetChildren", None)])[0]
    applications = [tuple(app) for app in listed[0]] if listed else []
    names = bus.ask([name_question(app) for app in applications])
    return next((app for app, name in zip(applications, names) if name == (APP_NAME,)), None)


class FocusTracker:
    """Follows the focus as a screen reader does, by the application's focus events. Registered
    before the application starts: it tells the bridge which events anyone listens to."""

    def __init__(self):
        self.arrived = []
        self.listener = Atspi.EventListener.new(self._on_event)
        self.listener.register("object:state-changed:focused")

    def _on_event(self, event):
        if event.detail1 and event.source is not None:
            self.arrived.append((event.source.app.bus_name, event.source.path))


class Window:
    """The application's objects, each named by its bus name and object path."""

    def __init__(self, bus, root, tracker):
        self.bus, self.root, self.tracker = bus, root, tracker
        # Asked once per object: a role never changes, nor the sheet or alert a control sits in.
        self.roles, self.parents = {}, {}
        self.focus = None

    def look(self, nodes, children=False):
        """What each object is now (None for one that is gone), all asked at once."""
        questions = []
        for node in nodes:
            questions += [(node, ACCESSIBLE, "GetState", None), name_question(node)]
            questions += [(node, ACCESSIBLE, "GetRole", None)] if node not in self.roles else []
            questions += [(node, ACCESSIBLE, "GetChildren", None)] if children else []
        answers = iter(self.bus.ask(questions))
        seen = []
        for node in nodes:
            states, name = next(answers), next(answers)
            if node not in self.roles and (role := next(answers)) is not None:
                self.roles[node] = role[0]
            below = next(answers) if children else None
            if states is None or name is None or node not in self.roles:
                seen.append(None)
                continue
            seen.append(Seen(node, R(self.roles[node]), name[0], states[0],
                             [tuple(child) for child in below[0]] if below else []))
        return seen

    def showing(self, under=None, until=None):
        """Every object on screen below `under`, a level at a time (hidden panels are not
        entered); with `until`, the look ends with the first level where it holds for one."""
        top = self.look([under or self.root], children=True)[0]
        nodes, found = top.children if top else [], []
        while nodes:
            level = [s for s in self.look(nodes, children=True) if s and has(s.states, S.SHOWING)]
            found += level
            if until is not None and any(until(s) for s in level):
                break
            nodes = [child for s in level for child in s.children]
        return found

    def find(self, name, role=None, under=None):
        def wanted(s):
            return s.name == name and (role is None or s.role == role)

        return next((s.node for s in self.showing(under, wanted) if wanted(s)), None)

    def dialog(self, name):
        return self.find(name, R.DIALOG)

    def any_dialog(self):
        def is_dialog(s):
            return s.role == R.DIALOG

        return next((s for s in self.showing(until=is_dialog) if is_dialog(s)), None)

    def active(self):
        """Whether the window has the keyboard: the X server sends the keys to the active one."""
        top = self.look([self.root], children=True)[0]
        return top is not None and any(s and s.role == R.FRAME and has(s.states, S.ACTIVE)
                                       for s in self.look(top.children))

    def focused(self):
        """The control that has the keyboard focus, as the last focus event named it (a window
        taking the focus is not a control)."""
        pump()
        arrived, self.tracker.arrived = self.tracker.arrived, []
        self.look([node for node in arrived if node not in self.roles])  # learns their roles
        for node in arrived:
            if self.roles.get(node, R.FRAME) != R.FRAME:
                self.focus = node
        return self.focus

    def inside(self, node, ancestor):
        while node is not None and node != self.root:
            if node == ancestor:
                return True
            if node not in self.parents:
                parent = self.bus.ask([(node, PROPERTIES, "Get",
                                        GLib.Variant("(ss)", (ACCESSIBLE, "Parent")))])[0]
                self.parents[node] = tuple(parent[0]) if parent else None
            node = self.parents[node]
        return node == ancestor

    def states(self, node):
        seen = self.look([node])[0]
        if seen is None:
            raise StepFailed(f"{node[1]} went away")
        return seen.states

    def describe(self, node):
        seen = self.look([node])[0]
        return f"{Atspi.role_get_name(seen.role)} {seen.name!r}" if seen else f"(gone) {node[1]}"

    def require_state(self, node, state, present=True):
        if has(self.states(node), state) != present:
            raise StepFailed(f"{self.describe(node)} is {'not ' if present else ''}{state.value_nick}")

    def text_of(self, node):
        if node is None:
            return None
        text = self.bus.ask([(node, "org.a11y.atspi.Text", "GetText", GLib.Variant("(ii)", (0, -1)))])[0]
        return text[0] if text else None


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

    def __init__(self, window):
        self.window = window
        self.reached = set()

    def check(self, node):
        seen = self.window.look([node])[0]
        if seen is None:
            raise StepFailed(f"the focus landed on {node[1]}, which went away")
        describe = f"{Atspi.role_get_name(seen.role)} {seen.name!r}"
        if seen.role not in CONTROL_ROLES:
            raise StepFailed(f"the focus landed on {describe}, which is not a control")
        if not seen.name.strip():
            raise StepFailed(f"a focusable {Atspi.role_get_name(seen.role)} has no accessible name")
        for needed in (S.FOCUSABLE, S.ENABLED, S.SENSITIVE):
            if not has(seen.states, needed):
                raise StepFailed(f"{describe} has the focus but is not {needed.value_nick}")
        self.reached.add(seen.name)
        return seen

    def tab(self, backwards=False):
        before = self.window.focused()
        press_key(KEY_TAB, shift=backwards)
        node = wait_for("the focus to move",
                        lambda: (now := self.window.focused()) not in (None, before) and now)
        return self.check(node)

    def tab_to(self, name, role=None, within=None, limit=60, backwards=False):
        """Tabs until the control with this name has the focus; fails if it never comes.

        With within, every stop on the way must lie inside that object (a modal sheet or alert).
        """
        node = self.window.focused()
        seen = self.window.look([node])[0] if node is not None else None
        for _ in range(limit):
            if seen is not None and seen.name == name and (role is None or seen.role == role):
                return seen.node
            seen = self.tab(backwards)
            if within is not None and not self.window.inside(seen.node, within):
                raise StepFailed(f"Tab left {self.window.describe(within)} for {self.window.describe(seen.node)}")
        raise StepFailed(f'Tab never reached "{name}" in {limit} steps')

    def activate(self, name, role=None, within=None, key=KEY_SPACE):
        self.tab_to(name, role, within)
        press_key(key)

    def cycle(self, within, stops=60):
        """Tabs round a modal object: every stop lies inside it, and the round comes back."""
        # Counted from the first control: the sheet itself may hold the focus when it opens.
        first = self.tab().node
        if not self.window.inside(first, within):
            raise StepFailed(f"Tab left {self.window.describe(within)} for {self.window.describe(first)}")
        for _ in range(stops):
            node = self.tab().node
            if not self.window.inside(node, within):
                raise StepFailed(f"Tab left {self.window.describe(within)} for {self.window.describe(node)}")
            if node == first:
                return
        raise StepFailed(f"Tab did not come round in {self.window.describe(within)} within {stops} stops")


def type_into(window, keys, name, value):
    """Replaces a field's text by typing, as a user would."""
    field = keys.tab_to(name)
    old = window.text_of(field)
    if old:
        press_key(KEY_END)
        for _ in old:
            press_key(KEY_BACKSPACE)
    if not Atspi.generate_keyboard_event(0, value, Atspi.KeySynthType.STRING):
        raise StepFailed(f"could not type {value!r}")
    wait_for(f'"{name}" to read {value!r}', lambda: window.text_of(field) == value)


def set_text(window, name, value):
    """Puts text into a field the way dictation and other assistive tools do: all at once."""
    field = wait_for(f'the "{name}" field', lambda: window.find(name))
    interfaces = window.bus.ask([(field, ACCESSIBLE, "GetInterfaces", None)])[0]
    interfaces = interfaces[0] if interfaces else []
    if "org.a11y.atspi.EditableText" not in interfaces:
        raise StepFailed(f'"{name}" offers no EditableText (it offers {interfaces})')
    window.bus.ask([(field, "org.a11y.atspi.EditableText", "SetTextContents",
                     GLib.Variant("(s)", (value,)))])
    wait_for(f'"{name}" to read {value!r}', lambda: window.text_of(field) == value)


def sim_lines(path):
    with open(path, encoding="utf-8") as log:
        return log.read().splitlines()


def dismiss_alert(window, title):
    """The alert holds the focus; Return dismisses it."""
    alert = wait_for(f'the "{title}" alert', lambda: window.dialog(title))
    wait_for(f'the focus in the "{title}" alert', lambda: window.inside(window.focused(), alert))
    press_key(KEY_RETURN)
    wait_for(f'the "{title}" alert to close', lambda: window.dialog(title) is None)


def drive(sim_port, sim_log, tracker):
    bus = Bus()
    app = wait_for(f'the application "{APP_NAME}" on the accessibility bus', lambda: find_application(bus))
    window = Window(bus, app, tracker)
    keys = Keyboard(window)
    wait_for("the transport choice", lambda: window.find("Network", R.RADIO_BUTTON))
    # The window asks for the keyboard once shown; a key sent before it has it is lost.
    wait_for("the window to have the keyboard", window.active)
    address = f"127.0.0.1:{sim_port}"

    # Network: the address typed, the port put in as assistive tools do, then connect.
    keys.activate("Network", R.RADIO_BUTTON)
    type_into(window, keys, "IP Address", "127.0.0.1")
    set_text(window, "Port", str(sim_port))
    keys.activate("Connect Network", R.PUSH_BUTTON)
    # The dashboard names the printer by the address the link was made to.
    title = wait_for(f"the dashboard naming {address}", lambda: window.find(address, R.HEADING))

    lines = len(sim_lines(sim_log))
    keys.activate("Communication Test", R.PUSH_BUTTON)
    wait_for('printer-sim to report the communication test ("... \u00b7 test")',
             lambda: any(line.endswith("\u00b7 test") for line in sim_lines(sim_log)[lines:]))
    wait_for("the communication test's notice",
             lambda: window.find("Communication test sent to the printer"))

    # Choosing Network again resets its fields; the title stays with the live link.
    keys.activate("Network", R.RADIO_BUTTON)
    wait_for('the "Port" field reset', lambda: window.text_of(window.find("Port")) == "9100")
    window.require_state(title, S.SHOWING)

    # The settings sheet takes the focus and keeps it, and the transport cannot change under it.
    keys.activate("Parameter Settings", R.PUSH_BUTTON)
    sheet = wait_for("the settings sheet", lambda: window.dialog("Parameter Settings"))
    wait_for("the focus in the settings sheet", lambda: window.inside(window.focused(), sheet))
    keys.cycle(sheet)
    for transport in window.showing():
        if transport.role == R.RADIO_BUTTON and transport.name in ("Network", "Bluetooth", "USB"):
            window.require_state(transport.node, S.SENSITIVE, present=False)

    # Basic settings: choices are radio buttons that say which is chosen, and the codepage
    # list is left with Escape.
    keys.activate("Basic Settings", R.PUSH_BUTTON, within=sheet)
    sheet = wait_for("the Basic Settings sheet", lambda: window.dialog("Basic Settings"))
    for picker in ("Print Density", "Font"):
        # Qt puts a group on the bus as a named panel.
        group = wait_for(f'the "{picker}" choice', lambda: window.find(picker, R.PANEL))
        chosen = [s for s in window.showing(group) if s.role == R.RADIO_BUTTON and has(s.states, S.CHECKED)]
        if len(chosen) != 1:
            raise StepFailed(f'"{picker}" has {len(chosen)} checked choices, not one')
    keys.activate("Language / Codepage", R.PUSH_BUTTON, within=sheet)
    codepages = wait_for("the codepage list", lambda: window.find("Language / Codepage", R.LIST))
    current = wait_for("the current codepage", lambda: next(
        (s.node for s in window.showing(codepages) if has(s.states, S.CHECKED)), None))
    window.require_state(current, S.SHOWING)
    press_key(KEY_ESCAPE)
    wait_for("the codepage list to close", lambda: window.find("Language / Codepage", R.LIST) is None)
    lines = len(sim_lines(sim_log))
    keys.activate("Set", R.PUSH_BUTTON, within=sheet)
    wait_for("printer-sim to report the basic settings",
             lambda: any("\u00b7 basic " in line for line in sim_lines(sim_log)[lines:]))
    press_key(KEY_ESCAPE)
    wait_for("the sheet to close", lambda: window.dialog("Basic Settings") is None)

    # Every other screen: walked round with Tab (every control named), then closed with Escape.
    screens = (("Network Settings", ["Ethernet: Use Static IP", "Wi\u2011Fi: Use Static IP"]),
               ("WIFI Settings", ["WIFI Name", "WIFI Password"]),
               ("MQTT Settings", ["Password"]))
    for hub_row, expected in screens:
        keys.activate("Parameter Settings", R.PUSH_BUTTON)
        hub = wait_for("the settings sheet", lambda: window.dialog("Parameter Settings"))
        keys.activate(hub_row, R.PUSH_BUTTON, within=hub)
        sheet = wait_for(f'the "{hub_row}" sheet', lambda: window.dialog(hub_row))
        keys.reached.clear()
        keys.cycle(sheet)
        missing = [name for name in expected if name not in keys.reached]
        if missing:
            raise StepFailed(f'Tab round "{hub_row}" never reached {missing}; it reached {sorted(keys.reached)}')
        if hub_row == "Network Settings":
            # The confirmation comes once the printer has the bytes, never before.
            lines = len(sim_lines(sim_log))
            keys.activate("Set Ethernet Dynamic IP", R.PUSH_BUTTON, within=sheet)
            dismiss_alert(window, "Settings Successful")
            if len(sim_lines(sim_log)) == lines:
                raise StepFailed("the window confirmed an address printer-sim never received")
        if hub_row == "MQTT Settings":
            check_tls_pane(window, keys, sheet)
        press_key(KEY_ESCAPE)
        wait_for(f'the "{hub_row}" sheet to close', lambda: window.dialog(hub_row) is None)

    # Profiles: what the screens hold saved to a file only its owner reads, read back, and
    # applied to the printer, all from the keyboard.
    profile = os.path.join(tempfile.mkdtemp(), "shop.json")
    for hub_row, field_value, action in (("Save as Profile\u2026", profile, "Save Profile"),
                                         ("Apply Profile\u2026", profile, "Read Profile")):
        keys.activate("Parameter Settings", R.PUSH_BUTTON)
        hub = wait_for("the settings sheet", lambda: window.dialog("Parameter Settings"))
        keys.activate(hub_row, R.PUSH_BUTTON, within=hub)
        title = hub_row.rstrip("\u2026")
        sheet = wait_for(f'the "{title}" sheet', lambda: window.dialog(title))
        type_into(window, keys, "File", field_value)
        keys.activate(action, R.PUSH_BUTTON, within=sheet)
        if action == "Save Profile":
            dismiss_alert(window, "Profile Saved")
            if os.stat(profile).st_mode & 0o777 != 0o600:
                raise StepFailed(f"the profile was saved with mode {os.stat(profile).st_mode & 0o777:o}")
            press_key(KEY_ESCAPE)
            wait_for("the sheet to close", lambda: window.dialog(title) is None)
    lines = len(sim_lines(sim_log))
    keys.activate("Apply", R.PUSH_BUTTON, within=sheet)
    dismiss_alert(window, "Settings Successful")
    if not any(line.endswith("\u00b7 mqtt.tls-off") for line in sim_lines(sim_log)[lines:]):
        raise StepFailed("the window confirmed a profile whose last command printer-sim never got")
    press_key(KEY_ESCAPE)
    wait_for("the profile sheet to close", lambda: window.dialog("Apply Profile") is None)
    os.remove(profile)
    os.rmdir(os.path.dirname(profile))

    keys.activate("Disconnect", R.PUSH_BUTTON)
    wait_for("the dashboard to go", lambda: window.find(address, R.HEADING) is None)

    # USB with no printer attached: the connect button says it cannot be used.
    keys.activate("USB", R.RADIO_BUTTON)
    if window.find("No USB printer found. Use a data USB cable (not charge-only), then Refresh."):
        connect = wait_for('"Connect USB"', lambda: window.find("Connect USB", R.PUSH_BUTTON))
        window.require_state(connect, S.ENABLED, present=False)
        window.require_state(connect, S.SENSITIVE, present=False)

    # Without a Bluetooth service nothing was said about it until Bluetooth is chosen.
    if (alert := window.any_dialog()) is not None:
        raise StepFailed(f"an alert is up before Bluetooth was chosen: {alert.name!r}")
    keys.activate("Bluetooth", R.RADIO_BUTTON)
    dismiss_alert(window, "Bluetooth")


def check_tls_pane(window, keys, sheet):
    """The TLS pane: its passwords are named, and its apply button says when it cannot be used."""
    keys.activate("TLS", R.RADIO_BUTTON, within=sheet)
    apply = wait_for('"Apply TLS Settings"', lambda: window.find("Apply TLS Settings", R.PUSH_BUTTON))
    states = window.states(apply)
    enabled = has(states, S.ENABLED)
    if enabled != has(states, S.SENSITIVE):
        raise StepFailed(f"{window.describe(apply)} is enabled but not sensitive, or the other way round")
    keys.reached.clear()
    keys.cycle(sheet)
    if enabled != ("Apply TLS Settings" in keys.reached):
        raise StepFailed(f'"Apply TLS Settings" reports enabled={enabled}, but Tab '
                         f'{"never reached" if enabled else "reached"} it')
    # The certificate chooser, left with Escape: the screen says the import was cancelled.
    keys.activate("Mutual", R.RADIO_BUTTON, within=sheet)
    keys.activate("Import File 1 \u00b7 CA", R.PUSH_BUTTON, within=sheet)
    chooser = wait_for("the certificate chooser", lambda: window.dialog("Import certificate"))
    wait_for("the focus in the chooser", lambda: window.inside(window.focused(), chooser))
    press_key(KEY_ESCAPE)
    alert = wait_for('the "Settings" alert', lambda: window.dialog("Settings"))
    if not window.find("Import cancelled or failed: no file was chosen", under=alert):
        raise StepFailed("a cancelled import did not say so")
    dismiss_alert(window, "Settings")


MARKED_STATES = (S.SHOWING, S.FOCUSED, S.CHECKED, S.ENABLED, S.SENSITIVE)


def dump_tree(root, out):
    """The whole tree through the client library: slow, and only ever done after a failure."""
    def action_names(node):
        if "Action" not in node.get_interfaces():
            return []
        # libatspi 2.46 marks get_action_name deprecated, but its successor is not in the typelib.
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", DeprecationWarning)
            return [Atspi.Action.get_action_name(node, i) for i in range(Atspi.Action.get_n_actions(node))]

    def show(node, depth):
        try:
            state = node.get_state_set()
            marks = [mark.value_nick for mark in MARKED_STATES if state.contains(mark)]
            out.write(f"{'  ' * depth}{node.get_role_name()} {node.get_name()!r} {' '.join(marks)} "
                      f"{action_names(node)}\n")
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
        drive(args.sim_port, args.sim_log, FocusTracker())
    except StepFailed as failure:
        sys.stderr.write(f"FAIL: {failure}\n")
    else:
        print("driven by keyboard over AT-SPI: Network, connect, communication test, every "
              "settings screen, a profile saved and applied, disconnect, USB, the Bluetooth alert")
        return 0

    desktop = Atspi.get_desktop(0)
    apps = [desktop.get_child_at_index(i) for i in range(desktop.get_child_count())]
    app = next((a for a in apps if a is not None and a.get_name() == APP_NAME), None)
    if app is None:
        sys.stderr.write(f'"{APP_NAME}" is not on the accessibility bus\n')
    else:
        sys.stderr.write("accessible tree of the application:\n")
        dump_tree(app, sys.stderr)
    return 1


if __name__ == "__main__":
    sys.exit(main())
