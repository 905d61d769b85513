#!/usr/bin/python3
"""Presses a button of a running application over AT-SPI, as a screen reader user would.

    press_button.py <process id> <accessible name> [seconds]

Finds the application by its process id, then a showing push button with that name, and runs its
"Press" action. Retries until the button shows or the seconds (default 20) have passed; exits
non-zero when it never does.
"""

import sys
import time

import pyatspi


def application(pid):
    for app in pyatspi.Registry.getDesktop(0):
        if app is not None and app.get_process_id() == pid:
            return app
    return None


def showing_button(parent, name):
    for child in parent:
        if child is None or not child.getState().contains(pyatspi.STATE_SHOWING):
            continue
        if child.getRole() == pyatspi.ROLE_PUSH_BUTTON and child.name == name:
            return child
        found = showing_button(child, name)
        if found:
            return found
    return None


def press(button):
    action = button.queryAction()
    for index in range(action.nActions):
        if action.getName(index).lower() == "press":
            return action.doAction(index)
    return False


def main():
    pid, name = int(sys.argv[1]), sys.argv[2]
    deadline = time.monotonic() + (float(sys.argv[3]) if len(sys.argv) > 3 else 20)
    last_error = None
    while time.monotonic() < deadline:
        try:
            app = application(pid)
            button = app and showing_button(app, name)
        except Exception as error:  # the tree changes while the client starts; look again
            last_error, button = error, None
        if button:
            if not press(button):
                sys.exit(f"press_button: {name!r} has no Press action that ran")
            print(f"press_button: pressed {name!r} of process {pid}")
            return
        time.sleep(0.2)
    sys.exit(f"press_button: no showing push button {name!r} in process {pid}"
             + (f" (last error: {last_error})" if last_error else ""))


if __name__ == "__main__":
    main()
