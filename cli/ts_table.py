#!/usr/bin/env python3
"""Writes the string table of a program without Qt from id-based Linguist files.

usage: ts_table.py OUT.cpp EN.ts DE.ts [EN.ts DE.ts ...]

Each pair gives one table's English and German translations; a later pair's id wins.
The output is a C++ array sorted by id, so the program finds a text by binary search.
"""
import sys
import xml.etree.ElementTree as ET


def messages(path):
    out = {}
    for m in ET.parse(path).iter("message"):
        key = m.get("id")
        text = m.findtext("translation") or m.findtext("source") or key
        if key:
            out[key] = text
    return out


def literal(text):
    escaped = text.encode("utf-8").decode("latin-1")
    out = []
    for ch in escaped:
        code = ord(ch)
        if ch in '"\\':
            out.append("\\" + ch)
        elif ch == "\n":
            out.append("\\n")
        elif code < 0x20 or code >= 0x7F:
            out.append('\\%03o' % code)
        else:
            out.append(ch)
    return '"' + "".join(out) + '"'


def main(argv):
    if len(argv) < 4 or len(argv) % 2 != 0:
        sys.stderr.write(__doc__)
        return 2
    english, german = {}, {}
    for en, de in zip(argv[2::2], argv[3::2]):
        english.update(messages(en))
        german.update(messages(de))
    lines = ["// Written by ts_table.py from the translation files; do not edit.",
             '#include "texts.h"', "", "namespace ov::cli {", "",
             "const text_entry text_table[] = {"]
    for key in sorted(english):
        lines.append("    {%s, %s, %s}," % (literal(key), literal(english[key]),
                                           literal(german.get(key, english[key]))))
    lines += ["};", "const size_t text_table_size = sizeof text_table / sizeof text_table[0];", "",
              "}  // namespace ov::cli", ""]
    with open(argv[1], "w", encoding="ascii") as f:
        f.write("\n".join(lines))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
