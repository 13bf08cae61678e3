#!/usr/bin/env python3
"""Checks a built setup executable as a file.

Usage: check_deliverable.py <setup.exe> <package.pak> [--machine i386|amd64]

The deliverable is the i386 build; the amd64 build of the same sources is
checked the same way. Prints one line a check and, last, "N passed, N failed".
"""

import argparse
import struct
import sys

from pe_file import PeFile, image_checksum

# kernel32 functions that arrived after Windows XP / Server 2003. The setup
# must still load there; Wine exports all of these whatever version it plays,
# so only the import table can show such a dependency. The run-time library
# pulls in locks and once-initialisation most easily, hence the list.
NEWER_THAN_XP = {
    "AcquireSRWLockExclusive", "AcquireSRWLockShared", "ReleaseSRWLockExclusive",
    "ReleaseSRWLockShared", "InitializeSRWLock", "TryAcquireSRWLockExclusive",
    "TryAcquireSRWLockShared", "InitializeConditionVariable", "SleepConditionVariableCS",
    "SleepConditionVariableSRW", "WakeAllConditionVariable", "WakeConditionVariable",
    "InitOnceBeginInitialize", "InitOnceComplete", "InitOnceExecuteOnce",
    "InitOnceInitialize", "GetTickCount64", "CreateSymbolicLinkA", "CreateSymbolicLinkW",
    "GetFinalPathNameByHandleA", "GetFinalPathNameByHandleW", "SetDefaultDllDirectories",
    "AddDllDirectory", "GetFileInformationByHandleEx", "SetFileInformationByHandle",
    "CancelIoEx", "CreateEventExA", "CreateEventExW", "CreateMutexExA", "CreateMutexExW",
    "CreateSemaphoreExW", "InitializeCriticalSectionEx", "GetThreadId", "GetProcessId",
    "QueryFullProcessImageNameA", "QueryFullProcessImageNameW", "GetLocaleInfoEx",
    "LCMapStringEx", "CompareStringEx", "GetUserDefaultLocaleName", "FlsAlloc",
    "FlsFree", "FlsGetValue", "FlsSetValue", "GetCurrentProcessorNumber",
    "CreateThreadpoolWork", "SubmitThreadpoolWork", "GetSystemTimePreciseAsFileTime",
}

# The i386 setup less its package (and its signature): the program, its
# manifest and version resource. Downloaded with every package update, so it
# stays lean.
STUB_LIMIT = 380_000

RT_VERSION = 16
RT_MANIFEST = 24
RUSSIAN = 1049


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("exe")
    parser.add_argument("package")
    parser.add_argument("--machine", default="i386", choices=["i386", "amd64"])
    args = parser.parse_args()

    data = open(args.exe, "rb").read()
    package = open(args.package, "rb").read()
    pe = PeFile(data)
    resources = pe.resources()
    results = []

    def check(name, condition, detail=""):
        results.append(bool(condition))
        print("%s %s%s" % ("ok  " if condition else "FAIL", name,
                           "" if condition else ": " + detail))

    machine, magic = (0x14C, 0x10B) if args.machine == "i386" else (0x8664, 0x20B)
    check("PE machine is %s" % args.machine, pe.machine == machine, "0x%x" % pe.machine)
    check("optional header is %s" % ("PE32" if magic == 0x10B else "PE32+"), pe.magic == magic,
          "0x%x" % pe.magic)
    check("GUI subsystem", pe.subsystem == 2, str(pe.subsystem))

    # The hash of a signature covers the headers and then the sections' data
    # one after the other; Windows skips what lies between them, some signing
    # tools do not, and over a gap the two disagree and Windows rejects the
    # signature. The build moves the resource data to a page boundary after
    # the link and must close the gap it opens.
    header_size = struct.unpack_from("<I", data, pe.optional + 60)[0]
    gaps = []
    end = header_size
    for pointer, size in sorted((ptr, size) for _, _, _, size, ptr in pe.sections if size):
        if pointer != end:
            gaps.append("0x%x-0x%x" % (end, pointer))
        end = max(end, pointer + size)
    check("the sections' data follow the headers and each other without a gap", not gaps,
          "gaps at " + ", ".join(gaps))

    pak = resources.get(("PAK", "LXRQ", RUSSIAN))
    check("resource PAK/LXRQ in language 1049", pak is not None,
          "resources: %s" % sorted(map(str, resources)))
    if pak:
        offset, size = pak
        check("package resource size equals the package file", size == len(package),
              "%d != %d" % (size, len(package)))
        check("package resource bytes equal the package file",
              data[offset:offset + size] == package)
        # A signature is appended as the certificate table (data directory
        # 4, its address a file offset): the signer's, not the program's, and
        # as long as the certificate chain and time-stamp make it.
        signature = pe.directories[4][1]
        stub = len(data) - size - signature
        print("stub (file less package and signature): %d bytes (signature: %d)" % (
            stub, signature))
        if args.machine == "i386":
            check("stub at most %d bytes" % STUB_LIMIT, stub <= STUB_LIMIT,
                  "%d bytes" % stub)
    others = [key for key in resources if key[0] == "PAK"]
    check("exactly one PAK resource", len(others) == 1, str(others))

    manifests = [key for key in resources if key[0] == RT_MANIFEST and key[1] == 1]
    check("one manifest with id 1", len(manifests) == 1, str(manifests))
    if manifests:
        offset, size = resources[manifests[0]]
        manifest = data[offset:offset + size].decode("utf-8")
        check("manifest requests requireAdministrator",
              'level="requireAdministrator"' in manifest)
        check("manifest depends on Common-Controls 6.0.0.0",
              'name="Microsoft.Windows.Common-Controls" version="6.0.0.0"' in
              " ".join(manifest.split()))
        check("manifest lists no supported operating systems",
              "supportedOS" not in manifest and "compatibility" not in manifest)

    versions = [key for key in resources if key[0] == RT_VERSION]
    check("one VERSIONINFO resource", len(versions) == 1, str(versions))
    if versions:
        offset, size = resources[versions[0]]
        block = data[offset:offset + size]
        check("version resource names the product \"Lexoria update\"",
              "Lexoria update".encode("utf-16-le") in block)
        check("version resource describes the package",
              "lxrq.pak".encode("utf-16-le") in block)
        # The package's version (bytes 6 and 7) is the file version's third
        # part: a setup rebuilt for another package must not keep the old one.
        readable = len(package) >= 8
        check("package holds its version field (bytes 6 and 7)", readable,
              "%d bytes" % len(package))
        if readable:
            version = package[6] | (package[7] << 8)
            file_version = "1.0.%d.0" % version
            check("file version %s names the package version %d" % (file_version, version),
                  (file_version + "\0").encode("utf-16-le") in block)

    kernel32 = pe.imported_functions().get("kernel32.dll", [])
    check("kernel32 imports listed", len(kernel32) > 10, str(kernel32))
    newer = sorted(set(kernel32) & NEWER_THAN_XP)
    check("no kernel32 import newer than Windows XP", not newer, ", ".join(newer))

    check("checksum stamp is not zero", pe.checksum != 0)
    computed = image_checksum(data, pe.checksum_offset)
    check("checksum stamp equals the image checksum", computed == pe.checksum,
          "stamp 0x%08X, computed 0x%08X" % (pe.checksum, computed))

    passed = sum(results)
    failed = len(results) - passed
    print("%d passed, %d failed" % (passed, failed))
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
