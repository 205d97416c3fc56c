#!/usr/bin/env python3
"""Sets texts of id-based Linguist files from a table, English and German together.

usage: ts_set.py EN.ts DE.ts TABLE.py

TABLE.py defines TEXTS = [(id, English, German, note or None), ...]. An existing message
keeps its place and gets the new texts (and note, when one is given); a new one is appended.
"""
import re
import sys
from xml.sax.saxutils import escape


def block(key, source, text, note):
    out = '    <message id="%s">\n        <source>%s</source>\n' % (key, escape(source))
    if note:
        out += '        <extracomment>%s</extracomment>\n' % note
    return out + '        <translation>%s</translation>\n    </message>\n' % escape(text)


def apply(path, entries):
    text = open(path, encoding="utf-8").read()
    for key, source, value, note in entries:
        found = re.search(r'    <message id="%s">.*?</message>\n' % re.escape(key), text, re.S)
        if found:
            old_note = re.search(r'<extracomment>(.*?)</extracomment>', found.group(0), re.S)
            keep = escape(note) if note else (old_note.group(1) if old_note else None)
            new = block(key, source, value, keep)
            text = text[:found.start()] + new + text[found.end():]
        else:
            at = text.rindex("</context>")
            text = text[:at] + block(key, source, value, escape(note) if note else None) + text[at:]
    open(path, "w", encoding="utf-8").write(text)


def main(argv):
    if len(argv) != 4:
        sys.exit(__doc__)
    table = {}
    exec(open(argv[3], encoding="utf-8").read(), table)
    rows = table["TEXTS"]
    apply(argv[1], [(k, en, en, note) for k, en, de, note in rows])
    apply(argv[2], [(k, en, de, note) for k, en, de, note in rows])


if __name__ == "__main__":
    main(sys.argv)
