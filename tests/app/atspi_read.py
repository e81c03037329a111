#!/usr/bin/python3
# Reads a program's window through AT-SPI, as a screen reader does, and prints what it finds:
# "control|<role>|<name>" for each named object, "line|<text>" for each line of the object named
# "Chat log" (read line by line, as a reader's line navigation does), and "item|<name>" for each
# entry of the object named "Users".
# Usage: atspi_read.py PROGRAM_NAME
import sys

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402


def children(node):
    return [node.get_child_at_index(i) for i in range(node.get_child_count())]


def lines(node):
    text = node.get_text_iface()
    count = text.get_character_count()
    offset = 0
    while offset < count:
        line = text.get_text_at_offset(offset, Atspi.TextBoundaryType.LINE_START)
        print("line|" + line.content.rstrip("\n"))
        if line.end_offset <= offset:
            break
        offset = line.end_offset


def walk(node):
    name = node.get_name()
    if name:
        print("control|%s|%s" % (node.get_role_name(), name))
    if name == "Chat log":
        lines(node)
    if name == "Users":
        for item in children(node):
            print("item|" + item.get_name())
        return
    for child in children(node):
        walk(child)


desktop = Atspi.get_desktop(0)
for application in children(desktop):
    if application is not None and application.get_name() == sys.argv[1]:
        walk(application)
        sys.exit(0)
print("no application named " + sys.argv[1], file=sys.stderr)
sys.exit(1)
