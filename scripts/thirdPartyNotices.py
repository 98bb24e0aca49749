#!/usr/bin/python3
"""Writes THIRD-PARTY-NOTICES.txt for the release from the linker's maps.

Usage: /usr/bin/python3 scripts/thirdPartyNotices.py EXE=LINK_MAP... >THIRD-PARTY-NOTICES.txt

The map of each link names every object and archive member that went into
the exe; each such file outside the build is traced to the Debian package
that installed it (dpkg), whose version and copyright file are written out.
"""

import os
import re
import subprocess
import sys

# Which part of the toolchain a file belongs to, by its name.
COMPONENTS = [
    ("libstdc++ (GCC's C++ library)", re.compile(r"^lib(std|sup)c\+\+\.a$")),
    ("winpthreads (mingw-w64's POSIX threads)", re.compile(r"^lib(win)?pthread\.a$")),
    ("libgcc (GCC's low-level runtime)", re.compile(r"^(libgcc(_eh)?\.a|crt(begin|end|fastmath)\.o)$")),
    ("mingw-w64 runtime (start-up code, C runtime glue, import stubs)", re.compile(r".")),
]

HEADER = """\
Third-party software in RestartPrompt.exe and RestartPrompt-x64.exe
====================================================================

The exes are linked statically: besides the program's own code they hold
parts of the compiler's runtime libraries, from the Debian packages below as
installed on the machine that built them. At run time they load nothing but
Windows' own DLLs (KERNEL32, USER32, ADVAPI32, msvcrt).

Below, for each exe, which runtime files went into it ("members" are the
pieces of a library archive the linker took; the rest of a library is not
in the exe), then the copyright and licence notices of those packages as
Debian ships them.
"""


def linkedFiles(mapPath):
    """{absolute path: set of members} of the system files a link used."""
    used = {}
    section = None
    with open(mapPath, encoding="utf-8", errors="replace") as f:
        for line in f:
            if line.startswith("Archive member included"):
                section = "members"
            elif line.startswith("Discarded input sections"):
                section = None
            elif line.startswith("LOAD "):
                path = line[5:].strip()
                if path.endswith(".o") and path.startswith("/"):
                    used.setdefault(os.path.realpath(path), set())
            elif section == "members":
                m = re.match(r"^(/\S+\.a)\(([^)]+)\)(\s|$)", line)
                if m:
                    used.setdefault(os.path.realpath(m.group(1)), set()).add(m.group(2))
    return used


def owningPackage(path):
    out = subprocess.run(["dpkg-query", "-S", path], capture_output=True, text=True)
    if out.returncode != 0:
        raise SystemExit("thirdPartyNotices: no Debian package owns %s" % path)
    return out.stdout.split(":", 1)[0].strip()


def packageVersion(package):
    return subprocess.run(["dpkg-query", "-W", "-f=${Version}", package],
                          capture_output=True, text=True, check=True).stdout.strip()


def component(path):
    name = os.path.basename(path)
    for label, pattern in COMPONENTS:
        if pattern.search(name):
            return label
    raise AssertionError(name)


def main():
    if len(sys.argv) < 2 or any("=" not in a for a in sys.argv[1:]):
        sys.stderr.write(__doc__)
        return 2
    out = [HEADER]
    packages = {}
    for arg in sys.argv[1:]:
        exe, mapPath = arg.split("=", 1)
        byComponent = {}
        for path, members in sorted(linkedFiles(mapPath).items()):
            package = owningPackage(path)
            packages.setdefault(package, packageVersion(package))
            byComponent.setdefault(component(path), []).append((path, package, members))
        out.append("\n%s\n%s\n" % (exe, "-" * len(exe)))
        for label, _ in COMPONENTS:
            files = byComponent.get(label)
            if not files:
                out.append("  %s: not linked in; the program uses no part of it.\n" % label)
                continue
            out.append("  %s:\n" % label)
            for path, package, members in files:
                what = ("%d member%s" % (len(members), "" if len(members) == 1 else "s")) if members else "object file"
                out.append("    %s (%s) from %s %s\n" % (os.path.basename(path), what, package, packages[package]))
    out.append("\nPackages and their notices\n==========================\n")
    seen = {}
    for package in sorted(packages):
        copyright = "/usr/share/doc/%s/copyright" % package
        with open(copyright, encoding="utf-8", errors="replace") as f:
            text = f.read()
        out.append("\n%s %s: %s\n" % (package, packages[package], copyright))
        if text in seen:
            out.append("  the same text as for %s above.\n" % seen[text])
            continue
        seen[text] = package
        out.append("\n" + text.rstrip("\n") + "\n")
    sys.stdout.write("".join(out))
    return 0


if __name__ == "__main__":
    sys.exit(main())
