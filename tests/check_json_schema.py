#!/usr/bin/env python3
"""Checks what ovraidctl printed as JSON against a published JSON Schema.

usage: check_json_schema.py SCHEMA FILE [--lines]

FILE must hold exactly one JSON document on one line, or with --lines one document per
line. Each is parsed strictly (no NaN, no key given twice) and validated. When all are
valid, every value is printed as "PATH<TAB>VALUE" (VALUE as JSON; empty arrays and
objects as [] and {}), paths like controllers/0/bays/1/content, prefixed by the line
number with --lines, so a C++ test can look at values without a JSON parser of its own.

Exit status: 0 valid, 1 not valid or not JSON, 2 the check could not be made.
"""
import json
import sys


def strict_object(pairs):
    seen = {}
    for key, value in pairs:
        if key in seen:
            raise ValueError("key %r given twice" % key)
        seen[key] = value
    return seen


def no_constant(name):
    raise ValueError("%s is not JSON" % name)


def flatten(value, path, out):
    if isinstance(value, dict) and value:
        for key, item in value.items():
            flatten(item, path + [key], out)
    elif isinstance(value, list) and value:
        for index, item in enumerate(value):
            flatten(item, path + [str(index)], out)
    else:
        out.append("%s\t%s" % ("/".join(path), json.dumps(value, ensure_ascii=False)))


def main(argv):
    if len(argv) not in (3, 4) or (len(argv) == 4 and argv[3] != "--lines"):
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    try:
        import jsonschema
    except ImportError:
        print("python3-jsonschema is not installed (scripts/install-deps.sh installs it)", file=sys.stderr)
        return 2
    try:
        with open(argv[1], encoding="utf-8") as f:
            schema = json.load(f)
        jsonschema.Draft202012Validator.check_schema(schema)
    except (OSError, ValueError, jsonschema.SchemaError) as e:
        print("%s: %s" % (argv[1], e), file=sys.stderr)
        return 2
    validator = jsonschema.Draft202012Validator(schema)
    with open(argv[2], "rb") as f:
        raw = f.read()
    try:
        text = raw.decode("utf-8")
    except UnicodeDecodeError as e:
        print("not UTF-8: %s" % e, file=sys.stderr)
        return 1
    lines = text.split("\n")
    if lines[-1] != "" or len(lines) < 2:
        print("the output does not end with a line end", file=sys.stderr)
        return 1
    lines.pop()
    if len(argv) == 3 and len(lines) != 1:
        print("%d lines where one document on one line was expected" % len(lines), file=sys.stderr)
        return 1
    out = []
    bad = 0
    for number, line in enumerate(lines):
        if bad >= 20:
            print("(more not shown)", file=sys.stderr)
            break
        where = "line %d" % (number + 1)
        try:
            doc = json.loads(line, object_pairs_hook=strict_object, parse_constant=no_constant)
        except ValueError as e:
            print("%s is not one JSON document: %s\n%s" % (where, e, line), file=sys.stderr)
            bad += 1
            continue
        for error in sorted(validator.iter_errors(doc), key=lambda e: list(e.absolute_path)):
            path = "/".join(str(p) for p in error.absolute_path)
            print("%s: %s: %s" % (where, path or "(the document)", error.message), file=sys.stderr)
            bad += 1
        flatten(doc, [str(number)] if len(argv) == 4 else [], out)
    if bad:
        return 1
    print("\n".join(out))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
