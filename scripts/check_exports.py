#!/usr/bin/env python3
"""Checks the export tables of the i686 KVIABDB.dll and KVIABIO.dll of a
build directory against export_table.py:

- KVIABDB.dll exports exactly the 63 names, undecorated, each with its
  ordinal, and nothing else (no unnamed ordinal either);
- KVIABIO.dll exports its operations by ordinal only, with no name, and
  only the test hooks by name (in builds with them);
- every function's argument count, read from the __stdcall decoration
  (@N, N = 4 x arguments) of the compiled objects before --kill-at removed
  it, is the table's.

The hooks exist only in builds configured with KVI_FAULT_HOOK (read from
the build's CMakeCache.txt); a build without them must not export them.

With --elf, checks the Linux libraries of a build instead:

- libkviabdb.so exports exactly the 63 names, each at the symbol version
  KVIABDB_1.0, and defines no other dynamic symbol;
- libkviabio.so exports exactly its operations (and the hooks when the
  build has them) at KVIABIO_1.0.

Usage: check_exports.py BUILD_DIR [TOOL_PREFIX]   (default i686-w64-mingw32-)
       check_exports.py --elf BUILD_DIR
"""
import glob
import os
import re
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import export_table  # noqa: E402


def run(*argv):
    return subprocess.run(argv, check=True, capture_output=True, text=True).stdout


def dll_exports(objdump, dll):
    """(set of ordinals in the export address table, {name: ordinal})."""
    text = run(objdump, "-p", dll)
    base_match = re.search(r"Export Address Table -- Ordinal Base (\d+)", text)
    if not base_match:
        return set(), {}
    base = int(base_match.group(1))
    ordinals = {int(m.group(1)) for m in re.finditer(r"^\s*\[\s*\d+\]\s+\+base\[\s*(\d+)\]", text, re.M)}
    names = {}
    table = text.split("[Ordinal/Name Pointer] Table", 1)
    if len(table) == 2:
        for line in table[1].splitlines()[1:]:
            m = re.match(r"^\s*\[\s*(\d+)\]\s+(\S+)\s*$", line)
            if not m:
                break
            names[m.group(2)] = int(m.group(1)) + base
    return ordinals, names


def decorated_arg_bytes(nm, objects):
    """{undecorated name: [N, ...]} of the __stdcall functions the objects define."""
    found = {}
    for line in run(nm, "--defined-only", *objects).splitlines():
        m = re.match(r"^[0-9a-fA-F]+\s+T\s+_([A-Za-z][A-Za-z0-9_]*)@(\d+)$", line)
        if m:
            found.setdefault(m.group(1), []).append(int(m.group(2)))
    return found


def check_arguments(problems, label, table, decorated):
    for name, args in table:
        sizes = decorated.get(name)
        if not sizes:
            problems.append(f"{label}: no __stdcall definition of {name} in the objects")
        elif sizes != [4 * args]:
            problems.append(f"{label}: {name} takes {sizes} bytes of arguments, the table says {4 * args}")


def has_fault_hook(build):
    """Whether the build was configured with KVIABIO's fault hook."""
    try:
        with open(os.path.join(build, "CMakeCache.txt")) as cache:
            for line in cache:
                m = re.match(r"^KVI_FAULT_HOOK:BOOL=(\S+)", line)
                if m:
                    return m.group(1).upper() in ("ON", "1", "TRUE", "YES", "Y")
    except OSError:
        pass
    return False


def elf_exports(library):
    """{name: version} of the dynamic symbols the library defines."""
    text = run("readelf", "--dyn-syms", "--wide", library)
    defined = {}
    for line in text.splitlines():
        fields = line.split()
        # Num: Value Size Type Bind Vis Ndx Name
        if len(fields) < 8 or not fields[0].rstrip(":").isdigit():
            continue
        if fields[6] == "UND" or fields[4] == "LOCAL":
            continue
        name, _, version = fields[7].partition("@")
        defined[name] = version.lstrip("@")
    return defined


def check_elf_library(problems, library, version, want):
    defined = elf_exports(library)
    # The version definition itself is an absolute symbol of that name.
    defined.pop(version, None)
    for name in sorted(want):
        if name not in defined:
            problems.append(f"{os.path.basename(library)}: {name} is not exported")
        elif defined[name] != version:
            problems.append(f"{os.path.basename(library)}: {name} has version '{defined[name]}', not {version}")
    for name in sorted(set(defined) - set(want)):
        problems.append(f"{os.path.basename(library)}: exports {name}, which is not in the table")
    print(f"{os.path.basename(library)}: {len(defined)} symbols exported; table: {len(want)}")


def main_elf(build):
    problems = []
    check_elf_library(problems, os.path.join(build, "libkviabdb.so"), "KVIABDB_1.0",
                      {name for _, name, _ in export_table.KVIABDB})
    kviabio = {name for _, name, _ in export_table.KVIABIO}
    if has_fault_hook(build):
        kviabio |= {name for name, _ in export_table.KVIABIO_HOOKS}
    check_elf_library(problems, os.path.join(build, "libkviabio.so"), "KVIABIO_1.0", kviabio)
    for p in problems:
        print("FAIL", p)
    if problems:
        print(f"export check: {len(problems)} problems")
        return 1
    print("export check: ok (exactly the table's names, each at its symbol version)")
    return 0


def main():
    if len(sys.argv) < 2:
        print(__doc__)
        return 2
    if sys.argv[1] == "--elf":
        if len(sys.argv) != 3:
            print(__doc__)
            return 2
        return main_elf(sys.argv[2])
    build = sys.argv[1]
    prefix = sys.argv[2] if len(sys.argv) > 2 else "i686-w64-mingw32-"
    objdump, nm = prefix + "objdump", prefix + "nm"
    problems = []

    # KVIABDB.dll
    want = {name: ordinal for ordinal, name, _ in export_table.KVIABDB}
    ordinals, names = dll_exports(objdump, os.path.join(build, "KVIABDB.dll"))
    for name, ordinal in want.items():
        if name not in names:
            problems.append(f"KVIABDB.dll: {name} is not exported")
        elif names[name] != ordinal:
            problems.append(f"KVIABDB.dll: {name} has ordinal {names[name]}, not {ordinal}")
    for name in sorted(set(names) - set(want)):
        problems.append(f"KVIABDB.dll: exports {name}, which is not in the table")
    for ordinal in sorted(ordinals - set(want.values())):
        problems.append(f"KVIABDB.dll: ordinal {ordinal} is exported but not in the table")
    objects = sorted(glob.glob(os.path.join(build, "CMakeFiles/kviabdb_objects.dir/**/*.obj"), recursive=True))
    if not objects:
        problems.append("KVIABDB: no objects found")
    else:
        check_arguments(problems, "KVIABDB", [(n, a) for _, n, a in export_table.KVIABDB],
                        decorated_arg_bytes(nm, objects))
    print(f"KVIABDB.dll: {len(names)} names, {len(ordinals)} ordinals exported; "
          f"table: {len(want)} functions")

    # KVIABIO.dll
    want_ordinals = {ordinal for ordinal, _, _ in export_table.KVIABIO}
    hooks = {name for name, _ in export_table.KVIABIO_HOOKS} if has_fault_hook(build) else set()
    ordinals, names = dll_exports(objdump, os.path.join(build, "KVIABIO.dll"))
    for ordinal in sorted(want_ordinals - ordinals):
        problems.append(f"KVIABIO.dll: ordinal {ordinal} is not exported")
    for name, ordinal in names.items():
        if name not in hooks:
            problems.append(f"KVIABIO.dll: exports the name {name} (ordinal {ordinal}); operations have no names")
        elif ordinal in want_ordinals:
            problems.append(f"KVIABIO.dll: the hook {name} took the operation ordinal {ordinal}")
    for name in sorted(hooks - set(names)):
        problems.append(f"KVIABIO.dll: the test hook {name} is not exported by name")
    extra = ordinals - want_ordinals - set(names.values())
    for ordinal in sorted(extra):
        problems.append(f"KVIABIO.dll: ordinal {ordinal} is exported but is neither an operation nor a hook")
    objects = sorted(glob.glob(os.path.join(build, "CMakeFiles/kviabio.dir/**/*.obj"), recursive=True))
    if not objects:
        problems.append("KVIABIO: no objects found")
    else:
        check_arguments(problems, "KVIABIO",
                        [(n, a) for _, n, a in export_table.KVIABIO] +
                        [(n, a) for n, a in export_table.KVIABIO_HOOKS if n in hooks],
                        decorated_arg_bytes(nm, objects))
    print(f"KVIABIO.dll: {len(ordinals)} ordinals exported, {len(names)} of them by name "
          f"({', '.join(sorted(names))})")

    for p in problems:
        print("FAIL", p)
    if problems:
        print(f"export check: {len(problems)} problems")
        return 1
    print("export check: ok (names, ordinals and argument counts as the table)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
