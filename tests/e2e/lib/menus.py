"""Drives Skarnel's menus over AT-SPI, where no X11 tool reaches the window
(a Wayland session).

Usage:
  menus.py entries MENU           prints the entries of the menu MENU
  menus.py press MENU ENTRY       chooses the entry ENTRY of the menu MENU
  menus.py wait-window TITLE      waits up to 10 s for a window whose title
                                  starts with TITLE
Each waits up to 10 s for the application and its menu; exits 1 with a
reason when they do not come.
"""
import sys
import time

import pyatspi

def application():
    for app in pyatspi.Registry.getDesktop(0):
        if app is not None and app.name == "Skarnel":
            return app
    return None


def find(node, accept):
    """The first node under node (itself included) that accept() takes."""
    try:
        if accept(node):
            return node
        children = list(node)
    except Exception:  # an object that went away while walking
        return None
    for child in children:
        if child is not None:
            found = find(child, accept)
            if found is not None:
                return found
    return None


def menu(name):
    """The entries of the menu bar's menu `name`, None while it is not there."""
    app = application()
    if app is None:
        return None
    item = find(app, lambda n: n.getRole() in (pyatspi.ROLE_MENU_ITEM, pyatspi.ROLE_MENU)
                and n.name == name and n.childCount > 0)
    if item is None:
        return None
    # The menu bar's entry holds the pop-up menu, which holds the entries.
    popup = item[0]
    entries = list(popup) if popup.getRole() == pyatspi.ROLE_POPUP_MENU else list(item)
    return [e for e in entries if e is not None] or None


def wait(what, get):
    deadline = time.time() + 10
    while time.time() < deadline:
        found = get()
        if found is not None:
            return found
        time.sleep(0.2)
    sys.exit(f"menus.py: {what} did not appear within 10 s")


def main(argv):
    command = argv[1] if len(argv) > 1 else ""
    if command == "entries" and len(argv) == 3:
        for entry in wait(f"the menu '{argv[2]}'", lambda: menu(argv[2])):
            print(entry.name)
    elif command == "press" and len(argv) == 4:
        found = wait(f"the menu '{argv[2]}'", lambda: menu(argv[2]))
        entries = [e for e in found if e.name == argv[3]]
        if not entries:
            sys.exit(f"menus.py: the menu '{argv[2]}' has no entry '{argv[3]}'")
        entries[0].queryAction().doAction(0)
    elif command == "wait-window" and len(argv) == 3:
        def window():
            # A top-level window is a child of the application, whatever
            # role it has (the help window is a plain widget).
            app = application()
            return None if app is None else next(
                (w for w in app if w is not None and w.name.startswith(argv[2])), None)
        wait(f"a window '{argv[2]}'", window)
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv)
