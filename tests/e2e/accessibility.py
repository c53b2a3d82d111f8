"""Reading Brindle through the accessibility tree (pyatspi, so /usr/bin/python3 only): the
buttons and labels a person using assistive technology would find and press."""

import pyatspi


def application_of(pid):
    """The process's root in the accessibility tree, or None. The registry may still list an
    application that has just ended, so the process decides."""
    for application in pyatspi.Registry.getDesktop(0):
        try:
            if application is not None and application.get_process_id() == pid:
                return application
        except Exception:  # An application that went away while the desktop was listed.
            continue
    return None


def descendants(node):
    """Every accessible below node. Objects vanish while the tree is read (a panel closes), so
    whatever cannot be read is skipped."""
    try:
        children = [child for child in node if child is not None]
    except Exception:
        return
    for child in children:
        yield child
        yield from descendants(child)


def find(root, predicate):
    """The first accessible below root that matches, skipping nodes that vanish while read."""
    def matches(node):
        try:
            return node is not None and predicate(node)
        except Exception:
            return False
    return None if root is None else pyatspi.findDescendant(root, matches)


def press(node):
    """Does the node's click (or press, or activate) action, as assistive technology does."""
    action = node.queryAction()
    names = [action.getName(index) for index in range(action.nActions)]
    action.doAction(next((names.index(n) for n in ("click", "press", "activate") if n in names), 0))
