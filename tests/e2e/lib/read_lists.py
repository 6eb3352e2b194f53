"""Reads the generator window's lists as a screen reader does, over AT-SPI.

Usage: read_lists.py EXPECTED...  where each EXPECTED is "label=item": the
list labelled by "label" must be read as "item" (its current item), and
"item" must be one of the items a reader finds by walking the list. Retries
for up to 10 s, since the window may still be filling its lists; exits 1
with what it read when a list stays wrong.
"""
import sys
import time

import pyatspi


def application(name):
    for app in pyatspi.Registry.getDesktop(0):
        if app is not None and app.name == name:
            return app
    return None


def lists_under(node, found):
    try:
        role = node.getRole()
    except Exception:  # an object that went away while walking
        return
    if role == pyatspi.ROLE_COMBO_BOX:
        found.append(node)
    for child in node:
        if child is not None:
            lists_under(child, found)


def labels_of(node):
    names = []
    for relation in node.getRelationSet():
        if relation.getRelationType() == pyatspi.RELATION_LABELLED_BY:
            names += [relation.getTarget(i).name for i in range(relation.getNTargets())]
    return names


def items_of(node):
    items = []
    for child in node:  # the list of items behind the list
        if child is not None:
            items += [child[i].name.strip() for i in range(child.childCount)]
    return items


def read(expected):
    """Returns the faults, one line each, and what each expected list read."""
    app = application("Skarnel")
    if app is None:
        return ["no application 'Skarnel' on the accessibility bus"], {}
    lists = []
    lists_under(app, lists)
    faults, seen = [], {}
    for label, item in expected:
        labelled = [node for node in lists if label in labels_of(node)]
        if len(labelled) != 1:
            faults.append(f"{len(labelled)} lists are labelled '{label}'")
            continue
        node = labelled[0]
        name = node.name.strip()
        seen[label] = name
        items = items_of(node)
        if name != item:
            faults.append(f"'{label}' reads '{name}', not '{item}'")
        elif name not in items:
            faults.append(f"'{label}' reads '{name}', which is none of its items {items}")
    return faults, seen


def main():
    expected = [tuple(arg.split("=", 1)) for arg in sys.argv[1:]]
    deadline = time.time() + 10
    while True:
        faults, seen = read(expected)
        if not faults:
            for label, name in seen.items():
                print(f"  {label}: {name}")
            return 0
        if time.time() > deadline:
            print("\n".join(faults), file=sys.stderr)
            return 1
        time.sleep(0.25)


if __name__ == "__main__":
    sys.exit(main())
