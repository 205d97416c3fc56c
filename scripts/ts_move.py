#!/usr/bin/env python3
"""Moves messages between id-based Linguist files, keeping their text and comments.

usage: ts_move.py FROM.ts TO.ts PREFIX [PREFIX ...]

Every message whose id starts with one of the prefixes leaves FROM and is appended to TO
(replacing a message of the same id there). Run it once per language.
"""
import re
import sys


def blocks(text):
    return list(re.finditer(r'    <message id="([^"]+)">.*?</message>\n', text, re.S))


def main(argv):
    if len(argv) < 4:
        sys.exit(__doc__)
    src, dst, prefixes = argv[1], argv[2], tuple(argv[3:])
    source = open(src, encoding="utf-8").read()
    target = open(dst, encoding="utf-8").read()
    moved = [m for m in blocks(source) if m.group(1).startswith(prefixes)]
    for m in reversed(moved):
        source = source[:m.start()] + source[m.end():]
    for m in moved:
        old = re.search(r'    <message id="%s">.*?</message>\n' % re.escape(m.group(1)), target, re.S)
        if old:
            target = target[:old.start()] + target[old.end():]
    at = target.rindex("</context>")
    target = target[:at] + "".join(m.group(0) for m in moved) + target[at:]
    open(src, "w", encoding="utf-8").write(source)
    open(dst, "w", encoding="utf-8").write(target)
    print("%d moved" % len(moved))


if __name__ == "__main__":
    main(sys.argv)
