#!/usr/bin/env python3
"""The kit's structure, checked: includes run with the data flow, and no
function is longer than 80 lines.

    check-kit-structure.py [KIT_FOLDER]     (default: src/kit beside this script)

Folders, from the top: app -> commands -> {io | coordinates | symmetry |
vibrations} -> model -> base. A file may include its own folder and the
folders below it; the four middle folders never include one another; only io
includes the engine (records, deck, bmatrix, gmatrix, driver); a command
includes no other command but the shared ones named in SHARED_COMMANDS; no
two headers define a type of the same name (the kit is one namespace, and two
such types would be one name with two meanings, which the linker does not see).
Exit status 0 when everything holds, 1 with one line per fault otherwise.
"""
import os
import re
import sys

LEVEL = {"base": 0, "model": 1, "io": 2, "coordinates": 2, "symmetry": 2, "vibrations": 2,
         "commands": 3, "app": 4}
MIDDLE = {"io", "coordinates", "symmetry", "vibrations"}
ENGINE = {"records", "deck", "bmatrix", "gmatrix", "driver"}
# Plumbing every command shares: the problem view and the JSON rendering.
SHARED_COMMANDS = {"problem_view.h", "vibration_view.h", "json_output.h"}
# The JSON rendering is a view over every command's report.
RENDERERS = {"json_output.h", "json_output.cpp"}
# app reaches the science only through the commands, io and base.
APP_MAY_INCLUDE = {"commands", "io", "base", "app"}
MAX_FUNCTION_LINES = 80
# A type defined at namespace scope in a header: "struct Name {", "class Name
# final : Base {", "enum class Name : int {".
TYPE_DEFINITION = re.compile(r"^(?:struct|class|enum class|enum struct|enum)\s+(\w+)\b[^;()]*\{")

def command_of(file_name):
    """The command a file of commands/ belongs to: the first word of its
    name (modes_report.cpp and modes_text.cpp are both the modes command)."""
    return os.path.splitext(file_name)[0].split("_")[0]


INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def include_faults(path, folder, name, lines):
    faults = []
    for number, line in enumerate(lines, 1):
        m = INCLUDE.match(line)
        if not m:
            continue
        target = m.group(1)
        parts = target.split("/")
        where = f"{path}:{number}: includes {target}"
        if parts[0] in ENGINE:
            if folder != "io":
                faults.append(f"{where}: only io may include the engine")
            continue
        if parts[0] != "kit" or len(parts) < 3:
            continue
        other = parts[1]
        if other not in LEVEL:
            faults.append(f"{where}: {other} is not one of the kit's folders")
        elif folder == "app" and other not in APP_MAY_INCLUDE:
            faults.append(f"{where}: app reaches {other} only through a command")
        elif other == folder:
            if (folder == "commands" and name not in RENDERERS and parts[2] not in SHARED_COMMANDS
                    and command_of(parts[2]) != command_of(name)):
                faults.append(f"{where}: a command includes no other command")
        elif folder in MIDDLE and other in MIDDLE:
            faults.append(f"{where}: {folder} and {other} do not include one another")
        elif LEVEL[other] > LEVEL[folder]:
            faults.append(f"{where}: {folder} is below {other}")
    return faults


# A function's signature starts at column 0 (a declaration's first line) and
# its body opens with "{" at the end of that line or of one of the indented
# lines that continue it; the body closes with "}" at column 0. Namespaces,
# classes and initialised variables are not functions.
SKIP = re.compile(r"^(namespace|class|struct|enum|union|extern|template\s*<[^>]*>\s*(class|struct))\b")


def function_faults(path, lines):
    faults = []
    start = None
    signature = []
    for number, line in enumerate(lines, 1):
        if start is not None:
            if line.startswith("}"):
                length = number - start + 1
                if length > MAX_FUNCTION_LINES:
                    faults.append(f"{path}:{start}: {fname} is {length} lines (at most {MAX_FUNCTION_LINES})")
                start = None
            continue
        top = bool(line) and not line[0].isspace() and not line.startswith(("#", "//", "}"))
        if top:
            signature = [line]
        elif signature and line.strip() and not line.lstrip().startswith("//"):
            signature.append(line)
        else:
            signature = [] if not line.strip() else signature
        if signature and line.rstrip().endswith("{"):
            text = " ".join(s.strip() for s in signature)
            if not SKIP.match(text) and "(" in text and "=" not in text.split("(")[0]:
                found = re.findall(r"([\w:~]+)\s*\(", text)
                fname = found[0] if found else "?"
                start = number - len(signature) + 1
            signature = []
        elif signature and line.rstrip().endswith((";", "}")):
            signature = []
    return faults


def type_faults(definitions):
    """One line per type name defined in more than one header."""
    faults = []
    for name, places in sorted(definitions.items()):
        if len(places) > 1:
            faults.append(f"{places[1]}: type {name} is defined again (first in {places[0]})")
    return faults


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    kit = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "src", "kit")
    faults = []
    definitions = {}
    for root, dirs, files in sorted(os.walk(kit)):
        dirs.sort()
        for name in sorted(files):
            if not name.endswith((".h", ".cpp")):
                continue
            path = os.path.join(root, name)
            folder = os.path.relpath(root, kit).split(os.sep)[0]
            rel = os.path.relpath(path, kit)
            if folder not in LEVEL:
                faults.append(f"{rel}: not in one of the kit's folders")
                continue
            with open(path, encoding="utf-8") as f:
                lines = f.read().split("\n")
            faults += include_faults(rel, folder, name, lines)
            if name.endswith(".h"):
                for number, line in enumerate(lines, 1):
                    found = TYPE_DEFINITION.match(line)
                    if found:
                        definitions.setdefault(found.group(1), []).append(f"{rel}:{number}")
            if name.endswith(".cpp"):
                faults += function_faults(rel, lines)
    faults += type_faults(definitions)
    for fault in faults:
        print(fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
