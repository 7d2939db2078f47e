#!/usr/bin/env python3
"""Checks that every source file includes only headers of its own layer and
of the layers below it (the link checks catch calls upward; this catches
inline code and types of a layer above)."""

import pathlib
import re
import sys

BELOW = {
    "base": set(),
    "stats": {"base"},
    "logs": {"base", "stats"},
    "hosts": {"base", "stats"},
    "report": {"base", "stats"},
    "analysis": {"base", "stats", "logs", "hosts", "report"},
    "workers": {"base", "stats", "logs", "hosts", "report", "analysis"},
    "driver": {"base", "stats", "logs", "hosts", "report", "analysis", "workers"},
}


def main(src):
    wrong = []
    for path in sorted(pathlib.Path(src).glob("*/*")):
        layer = path.parent.name
        for number, line in enumerate(path.read_text().splitlines(), 1):
            match = re.match(r'#include "(\w+)/', line)
            if match and match.group(1) != layer and match.group(1) not in BELOW[layer]:
                wrong.append("%s:%d: %s" % (path, number, line))
    for line in wrong:
        print("includes a layer above: " + line)
    return 1 if wrong else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
