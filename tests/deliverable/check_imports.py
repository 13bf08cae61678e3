#!/usr/bin/env python3
"""Checks that the built setups import only DLLs Windows takes from the system.

Usage: check_imports.py [setup.exe ...]
       (default: build/win32/lexoria-update.exe and build/win64/lexoria-update.exe
       under the repository)

A setup is often started from a Downloads folder, where anyone may have left
a DLL. The loader resolves an import by name, and for a DLL that is no
KnownDLL it looks in the program's own folder first. So every DLL named in
the import table (and in the delay-import table, which resolves the same way
later on) must be one that Windows loads from the system directory whatever
the search path: a KnownDLL, ntdll, or comctl32, which the manifest's
Common-Controls 6.0.0.0 dependency binds to the side-by-side store.

The DLLs that only one path needs, or that older Windows lacks (version.dll,
wtsapi32.dll and rstrtmgr.dll, no KnownDLLs at all; the common controls for
the progress window; ole32 and oleaut32 for the launch, shell32 for an
executable's type) are not imported at all: the setup loads them when that
path runs.
How the setup loads the DLLs it does not import (by full path in the system
directory, or comctl32 through the manifest's activation context) shows only
when it runs: tests/e2e/test_library_loads.py reads those calls under Wine.

The delay-import table is read from its data directory entry; GNU ld leaves
that entry empty for dlltool's delay libraries, which the build does not use.

Prints what it found and one line a check, and last "N passed, N failed";
exit code 0 only when nothing failed.
"""

import pathlib
import struct
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))

from pe_file import PeFile  # noqa: E402

REPO = pathlib.Path(__file__).resolve().parents[2]
DEFAULT_SETUPS = [REPO / "build" / "win32" / "lexoria-update.exe",
                  REPO / "build" / "win64" / "lexoria-update.exe"]

# HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\KnownDLLs of current
# Windows, plus ntdll and kernelbase (mapped before any search) and comctl32
# (side-by-side through the manifest).
SYSTEM_LOADED_DLLS = {
    "advapi32.dll", "clbcatq.dll", "combase.dll", "comctl32.dll", "comdlg32.dll",
    "coml2.dll", "difxapi.dll", "gdi32.dll", "gdiplus.dll", "imagehlp.dll", "imm32.dll",
    "kernel32.dll", "kernelbase.dll", "msctf.dll", "msvcrt.dll", "normaliz.dll", "nsi.dll",
    "ntdll.dll", "ole32.dll", "oleaut32.dll", "psapi.dll", "rpcrt4.dll", "sechost.dll",
    "setupapi.dll", "shcore.dll", "shell32.dll", "shlwapi.dll", "user32.dll", "wldap32.dll",
    "ws2_32.dll",
}
# Loaded at run time, from the system directory, on the one path that needs
# each (README, "Security"): an import of one would load it at every start,
# and would still pass the check above, since most are KnownDLLs.
LOADED_ON_THEIR_PATH = {"version.dll", "comctl32.dll", "shell32.dll", "ole32.dll",
                        "oleaut32.dll", "wtsapi32.dll", "rstrtmgr.dll"}
DELAY_IMPORT_DIRECTORY = 13


def delay_imported_dlls(pe):
    """DLL names of the delay-import table (ImgDelayDescr entries of 32 bytes:
    attributes, then the RVA of the name)."""
    rva, _ = pe.directories[DELAY_IMPORT_DIRECTORY]
    if rva == 0:
        return []
    at = pe.offset_of(rva)
    names = []
    while True:
        attributes, name_rva = struct.unpack_from("<II", pe.data, at)
        if name_rva == 0:
            break
        # Old-style descriptors (attribute bit 0 clear) hold virtual
        # addresses instead of RVAs.
        if not attributes & 1:
            image_base = struct.unpack_from("<I" if pe.magic == 0x10B else "<Q", pe.data,
                                            pe.optional + (28 if pe.magic == 0x10B else 24))[0]
            name_rva -= image_base
        names.append(pe.c_string(pe.offset_of(name_rva)).decode("latin-1"))
        at += 32
    return names


def main(argv):
    setups = [pathlib.Path(p) for p in argv[1:]] or DEFAULT_SETUPS
    results = []

    def check(name, condition, detail=""):
        results.append(bool(condition))
        print("%s %s%s" % ("ok  " if condition else "FAIL", name,
                           "" if condition else ": " + detail))

    for setup in setups:
        if not setup.exists():
            check("%s is built" % setup, False, "no such file")
            continue
        pe = PeFile(setup.read_bytes())
        imports = pe.imported_dlls()
        delayed = delay_imported_dlls(pe)
        print("%s imports: %s" % (setup, ", ".join(imports) or "(none)"))
        print("%s delay-imports: %s" % (setup, ", ".join(delayed) or "(none)"))
        named = [name.lower() for name in imports + delayed]
        check("%s imports some DLL" % setup, "kernel32.dll" in named, str(named))
        outside = sorted(set(named) - SYSTEM_LOADED_DLLS)
        check("%s imports only DLLs loaded from the system directory" % setup, not outside,
              "searched beside the setup: %s" % ", ".join(outside))
        imported_anyway = sorted(set(named) & LOADED_ON_THEIR_PATH)
        check("%s imports none of %s" % (setup, ", ".join(sorted(LOADED_ON_THEIR_PATH))),
              not imported_anyway, "imported: %s" % ", ".join(imported_anyway))

    passed = sum(results)
    failed = len(results) - passed
    print("%d passed, %d failed" % (passed, failed))
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
