#!/usr/bin/env python3
"""Includes run one way: every #include "folder/..." of a source file under
src/ names a layer at or below the file's own (docs/architecture.md).

    platform < base < readers < filter < engine < app < cli | ui + controls

The front ends do not include each other (ui may use controls). Prints every
include that runs the wrong way and exits 1 when there is one.
"""
import pathlib
import re
import sys

RANK = {
    "platform": 0,
    "base": 1,
    "readers": 2,
    "filter": 3,
    "engine": 4,
    "app": 5,
    "cli": 6,
    "controls": 6,
    "ui": 7,
}
# Layers of the same rank that may not see each other.
APART = {("cli", "ui"), ("cli", "controls"), ("ui", "cli"), ("controls", "cli"), ("controls", "ui")}
# The only system headers of a GUI toolkit are the front ends' business.
GUI = re.compile(r"#\s*include\s*<Q[A-Za-z]*>")
INCLUDE = re.compile(r'#\s*include\s*"([a-z]+)/')


def main(src: pathlib.Path) -> int:
    wrong = []
    for path in sorted(src.rglob("*")):
        if path.suffix not in (".h", ".cpp"):
            continue
        layer = path.relative_to(src).parts[0]
        if layer not in RANK:
            continue
        for number, line in enumerate(path.read_text(errors="replace").splitlines(), 1):
            match = INCLUDE.match(line.strip())
            if match:
                target = match.group(1)
                if target not in RANK:
                    wrong.append(f"{path}:{number}: unknown layer '{target}'")
                elif RANK[target] > RANK[layer] or (layer, target) in APART:
                    wrong.append(f"{path}:{number}: {layer}/ includes {target}/")
            elif GUI.match(line.strip()) and RANK[layer] < RANK["cli"]:
                wrong.append(f"{path}:{number}: {layer}/ includes a GUI toolkit header")
    for line in wrong:
        print(line)
    return 1 if wrong else 0


if __name__ == "__main__":
    sys.exit(main(pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else "src")))
