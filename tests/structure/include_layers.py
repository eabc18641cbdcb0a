#!/usr/bin/env python3
"""Includes run one way: every file a source file under src/ includes names a
layer at or below the file's own (docs/architecture.md).

    platform < base < readers < filter < engine < app < cli | ui + controls

The front ends do not include each other (ui may use controls). Each
include, quoted or angled, is resolved to the file it opens: a quoted one
first beside the including file, then below src/ (the public include folder
of the core); an angled one below src/. The layer is that of the resolved
file, so "../engine/X.h", "base/../engine/X.h" and <engine/X.h> are judged
alike. An include that resolves to no file under src/ is a system or library
header, except that only the front ends include a GUI toolkit's headers.

Prints every include that runs the wrong way and exits 1 when there is one.
`--self-test` first runs the check on a small tree of wrong-way includes
and fails unless each of them is reported.
"""
import os
import pathlib
import re
import sys
import tempfile

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
SOURCE_SUFFIXES = {".h", ".hh", ".hpp", ".hxx", ".inc", ".ipp", ".c", ".cc", ".cpp", ".cxx"}
INCLUDE = re.compile(r'#\s*include\s*([<"])([^>"]+)[>"]')
# The headers of the GUI toolkit are the front ends' business.
GUI = re.compile(r"Q[A-Za-z]*(\.h)?$|Qt[A-Za-z]*/")


def resolve(src: pathlib.Path, including: pathlib.Path, name: str, quoted: bool):
    """The file under src/ an include opens, or None when it opens none."""
    bases = [including.parent, src] if quoted else [src]
    for base in bases:
        candidate = pathlib.Path(os.path.normpath(base / name))
        if candidate.is_file():
            try:
                return candidate.relative_to(src)
            except ValueError:
                return None  # a file outside src/ (a library's header)
    return None


def check(src: pathlib.Path):
    src = pathlib.Path(os.path.normpath(src.resolve()))
    wrong = []
    for path in sorted(src.rglob("*")):
        if path.suffix not in SOURCE_SUFFIXES or not path.is_file():
            continue
        layer = path.relative_to(src).parts[0]
        if layer not in RANK:
            continue
        for number, line in enumerate(path.read_text(errors="replace").splitlines(), 1):
            match = INCLUDE.match(line.strip())
            if not match:
                continue
            quoted = match.group(1) == '"'
            name = match.group(2).strip()
            where = f"{path}:{number}"
            target = resolve(src, path, name, quoted)
            if target is None:
                first = pathlib.PurePosixPath(name).parts[0] if name else ""
                if quoted and first in RANK and "/" in name:
                    wrong.append(f"{where}: '{name}' names no file of {first}/")
                elif GUI.match(name) and RANK[layer] < RANK["cli"]:
                    wrong.append(f"{where}: {layer}/ includes a GUI toolkit header")
                continue
            if len(target.parts) < 2 or target.parts[0] not in RANK:
                wrong.append(f"{where}: '{name}' is {target}, in no layer")
                continue
            other = target.parts[0]
            if RANK[other] > RANK[layer] or (layer, other) in APART:
                wrong.append(f"{where}: {layer}/ includes {other}/ ({target})")
    return wrong


def self_test() -> int:
    """The check, run on a tree with one wrong-way include of each spelling,
    must report each of them and nothing in the files that are right."""
    wrong_ways = {
        "base/Quoted.h": '#include "engine/Target.h"',
        "base/Angled.cpp": "#include <engine/Target.h>",
        "base/Parent.hpp": '#include "../engine/Target.h"',
        "base/Detour.inc": '#include "base/../engine/Target.h"',
        "readers/Beside.cpp": '#include "../filter/Target.h"',
        "cli/Front.cpp": '#include "ui/Target.h"',
        "filter/Gui.h": "#include <QWidget>",
        "engine/Missing.h": '#include "ui/Gone.h"',
    }
    right = {
        "engine/Target.h": '#include "platform/Target.h"',
        "filter/Target.h": '#include "Target.h"',  # beside it: filter/Target.h itself is fine
        "ui/Target.h": "#include <engine/Target.h>\n#include <QWidget>\n#include <vector>",
        "platform/Target.h": "#include <cstdio>",
        "readers/Same.cpp": '#include "readers/../base/Quoted.h"',
    }
    with tempfile.TemporaryDirectory() as folder:
        root = pathlib.Path(folder) / "src"
        for name, text in {**wrong_ways, **right}.items():
            (root / name).parent.mkdir(parents=True, exist_ok=True)
            (root / name).write_text(text + "\n")
        reported = check(root)
        failed = False
        for name in wrong_ways:
            if not any(f"/{name}:" in line for line in reported):
                print(f"self-test: the wrong-way include of {name} is not reported")
                failed = True
        for name in right:
            for line in reported:
                if f"/{name}:" in line:
                    print(f"self-test: a right include is reported: {line}")
                    failed = True
        return 1 if failed else 0


def main(args) -> int:
    if "--self-test" in args:
        args = [arg for arg in args if arg != "--self-test"]
        if self_test() != 0:
            return 1
    wrong = check(pathlib.Path(args[0] if args else "src"))
    for line in wrong:
        print(line)
    return 1 if wrong else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
