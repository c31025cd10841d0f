#!/usr/bin/env python3
"""The structure check against small kits made for it: each rule it enforces
is broken once, and a kit that keeps every rule passes."""
import os
import subprocess
import sys
import tempfile

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "check-kit-structure.py")


def function(name, lines):
    body = "".join(f"  int v{i} = {i};\n" for i in range(lines - 3))
    return f"int {name}(int a,\n         int b) {{\n{body}}}\n"


def run(files):
    with tempfile.TemporaryDirectory() as kit:
        for rel, text in files.items():
            path = os.path.join(kit, rel)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "w", encoding="utf-8") as f:
                f.write(text)
        done = subprocess.run([sys.executable, SCRIPT, kit], capture_output=True, text=True)
        return done.returncode, done.stdout


SOUND = {
    "base/text.h": "#pragma once\nstruct Band {\n  int line = 0;\n};\nstruct Band;\n",
    "model/deck.h": '#include "kit/base/text.h"\n',
    "io/reader.cpp": '#include "records/layout.h"\n#include "kit/model/deck.h"\n',
    "symmetry/group.cpp": '#include "kit/model/deck.h"\n' + function("short_enough", 80),
    "commands/problem_view.h": '#include "kit/io/reader.h"\n',
    "commands/check.cpp": '#include "kit/commands/check.h"\n#include "kit/commands/problem_view.h"\n',
    "commands/json_output.cpp": '#include "kit/commands/check.h"\n',
    "app/cli.cpp": '#include "kit/commands/check.h"\n#include "kit/io/reader.h"\n',
}

CASES = [
    ("a middle folder includes another", "symmetry/bad.cpp", '#include "kit/vibrations/modes.h"\n',
     "symmetry and vibrations do not include one another"),
    ("a lower folder includes a higher one", "model/bad.cpp", '#include "kit/io/reader.h"\n', "model is below io"),
    ("the engine outside io", "coordinates/bad.cpp", '#include "bmatrix/b_matrix.h"\n',
     "only io may include the engine"),
    ("a command includes another", "commands/modes.cpp", '#include "kit/commands/check.h"\n',
     "a command includes no other command"),
    ("a command's second file includes another", "commands/modes_text.cpp",
     '#include "kit/commands/modes_report.h"\n#include "kit/commands/check_report.h"\n',
     "a command includes no other command"),
    ("app reaches past the commands", "app/bad.cpp", '#include "kit/symmetry/group.h"\n',
     "app reaches symmetry only through a command"),
    ("an unknown folder", "misc/x.cpp", "\n", "not in one of the kit's folders"),
    ("a long function", "base/long.cpp", function("too_long", 81), "too_long is 81 lines"),
    ("a type defined in two headers", "io/bands.h", "#pragma once\nstruct Band {\n  double wavenumber;\n};\n",
     "type Band is defined again (first in base/text.h:2)"),
]


def main():
    failures = 0
    status, out = run(SOUND)
    if status != 0 or out:
        print(f"a sound kit was refused: {out}")
        failures += 1
    for what, rel, text, expected in CASES:
        files = dict(SOUND)
        files[rel] = text
        status, out = run(files)
        if status != 1 or expected not in out or len(out.strip().split("\n")) != 1:
            print(f"{what}: status {status}, output {out!r}, expected one line with {expected!r}")
            failures += 1
    print(f"{len(CASES) + 1 - failures} of {len(CASES) + 1} cases as expected")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
