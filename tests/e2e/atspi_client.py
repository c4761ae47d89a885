#!/usr/bin/python3
"""A screen reader's view of the program, through the desktop's accessibility bus.

Reads one command a line on its standard input, after a number that its answer repeats
("7 walk" is answered by {"id": 7, "reply": ...}), and answers each with one JSON line:
  walk      the active window of the program: every accessible in it, depth first
  focus     the control that has the keyboard focus in the active window (null when none)
  row       the cells of the row that has the focus in that control, when it is a table
  events    the notifications and alerts that appeared since the last call
  quit
It listens for what a screen reader listens for, so that the program sends its events as it would
to one. `--listen` only listens, reading the source of every event as a screen reader does: it
prints "ready" once it listens and, when ended (SIGTERM), how many events came (the benchmark's
reader).
"""
import json
import signal
import sys

import pyatspi
from gi.repository import Atspi, GLib

APP_NAME = "Corvalin"
# Lists of ten thousand files: the first rows say what the list holds.
MAX_CHILDREN = 60
CONTROL_ROLES = {"push button", "toggle button", "check box", "radio button", "combo box", "list", "list box",
                 "table", "tree table", "tree", "menu item", "page tab", "link", "spin button", "slider",
                 "text", "entry"}
ITEM_ROLES = {"list item", "table cell", "tree item", "table column header", "table row header"}
LISTENED = ["object:state-changed:showing", "object:state-changed:focused", "object:property-change",
            "object:children-changed", "object:text-changed", "window:activate", "window:create",
            "focus:"]

events = []
count = 0


def states_of(obj):
    return sorted(pyatspi.stateToString(s) for s in obj.getState().getStates())


def combo_value(obj):
    """The item a combo box shows: the selected row of its list."""
    for child in obj:
        try:
            selection = child.querySelection()
        except NotImplementedError:
            continue
        if selection.nSelectedChildren > 0:
            return selection.getSelectedChild(0).name
    return None


def node(obj, depth):
    role = obj.getRoleName()
    entry = {"depth": depth, "role": role, "name": obj.name or "", "description": obj.description or "",
             "states": states_of(obj)}
    if role == "combo box":
        entry["value"] = combo_value(obj)
    return entry


def active_window():
    """The active window of a running program: one that was ended may still be listed a moment."""
    desktop = pyatspi.Registry.getDesktop(0)
    for app in desktop:
        try:
            if app is None or app.name != APP_NAME:
                continue
            app.clear_cache()
            for window in app:
                if window is not None and "active" in states_of(window):
                    return window
        except Exception:
            continue
    return None


def walk(obj, depth, out):
    out.append(node(obj, depth))
    for index in range(min(obj.childCount, MAX_CHILDREN)):
        child = obj.getChildAtIndex(index)
        if child is not None:
            walk(child, depth + 1, out)


def focused_row(control):
    """The texts of the chosen row, read as a screen reader reads a table row."""
    try:
        table = control.queryTable()
    except NotImplementedError:
        return None
    rows = list(table.getSelectedRows())
    for index in range(min(control.childCount, 2000)):
        cell = control.getChildAtIndex(index)
        if not rows and cell is not None and cell.getRoleName() == "table cell" and "focused" in states_of(cell):
            rows = [table.getRowAtIndex(index)]
    if not rows or rows[0] < 0:
        return []
    return [table.getAccessibleAt(rows[0], column).name for column in range(table.nColumns)]


def focused_objects(obj, out):
    """Every shown accessible with the focus state, depth first: a control whose focus is passed
    on (a tab widget to its tab bar, a button box to its button) says it has the focus too, and the
    current tab says so even when its tab bar has not."""
    for index in range(min(obj.childCount, MAX_CHILDREN)):
        child = obj.getChildAtIndex(index)
        if child is None or "showing" not in states_of(child):
            continue
        if "focused" in states_of(child) and child.getRoleName() not in ITEM_ROLES and \
                not (child.getRoleName() == "page tab" and "focused" not in states_of(obj)):
            out.append(child)
        focused_objects(child, out)
    return out


def focused_object(window):
    """The control a person acts on: the innermost focused one that takes input."""
    found = focused_objects(window, [])
    controls = [obj for obj in found if obj.getRoleName() in CONTROL_ROLES]
    return controls[-1] if controls else (found[0] if found else None)


def answer(command):
    window = active_window() if command in ("walk", "focus", "row") else None
    if command == "walk":
        out = []
        if window is not None:
            walk(window, 0, out)
        return out
    if command == "focus":
        control = focused_object(window) if window is not None else None
        return node(control, 0) if control is not None else None
    if command == "row":
        control = focused_object(window) if window is not None else None
        return focused_row(control) if control is not None else None
    if command == "events":
        taken = list(events)
        events.clear()
        return taken
    return None


def on_event(event):
    global count
    count += 1
    try:
        source = event.source
        role = source.getRoleName()
        name = source.name
    except Exception:  # the source may be gone already, as for any screen reader
        return
    if event.type.startswith("object:state-changed:showing") and event.detail1 == 1 and \
            role in ("notification", "alert"):
        events.append({"type": "showing", "role": role, "name": name or "",
                       "description": source.description or ""})
    elif event.type.startswith("window:activate") and role == "alert":
        events.append({"type": "activate", "role": role, "name": name or "",
                       "description": source.description or ""})


def on_command(stream, condition):
    line = stream.readline()
    number, _, command = line.strip().partition(" ")
    if not line or command == "quit":
        pyatspi.Registry.stop()
        return False
    try:
        reply = answer(command)
    except Exception as error:  # told to the test, which says what failed
        reply = {"error": str(error)}
    sys.stdout.write(json.dumps({"id": int(number), "reply": reply}, ensure_ascii=False) + "\n")
    sys.stdout.flush()
    return True


def main():
    # A program that was ended does not keep every question waiting the bus's 25 seconds.
    Atspi.set_timeout(5000, 15000)
    pyatspi.Registry.registerEventListener(on_event, *LISTENED)
    if sys.argv[1:] == ["--listen"]:
        GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signal.SIGTERM, pyatspi.Registry.stop)
        print("ready", flush=True)
        pyatspi.Registry.start()
        print(count, flush=True)
        return
    GLib.io_add_watch(sys.stdin, GLib.IO_IN | GLib.IO_HUP, on_command)
    # Ready once the bus is there and the listeners are registered.
    sys.stdout.write(json.dumps("ready") + "\n")
    sys.stdout.flush()
    pyatspi.Registry.start()


if __name__ == "__main__":
    main()
