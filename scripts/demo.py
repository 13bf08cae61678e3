#!/usr/bin/env python3
"""The main job, shown end to end: a sandbox Lexoria installation under Wine
with an older package, the setup run in quiet mode, and what changed.

Usage: demo.py <build dir> [--interactive]

The build dir is build/win32 (the i686 deliverable, run through 32-bit Wine
in a 64-bit prefix, as on 64-bit Windows) or, where this machine's kernel runs
no 32-bit programs, build/win64.

With --interactive the setup runs in normal mode and the box robot answers Yes
to every question.
"""

import argparse
import os
import pathlib
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "tests" / "e2e"))
import harness  # noqa: E402


def state(session, inst):
    version = harness.pak_version(inst.pak.read_bytes()) if inst.pak.exists() else None
    size = inst.pak.stat().st_size if inst.pak.exists() else None
    estimated = session.reg_query(harness.UNINSTALL_KEY, "EstimatedSize")
    leftovers = sorted(p.name for p in inst.dir.glob("~*"))
    return version, size, estimated, leftovers


def show(title, st):
    version, size, estimated, leftovers = st
    print("%s:" % title)
    print("  lxrq.pak version   %s (%s bytes)" % (version, size))
    if estimated:
        text = estimated[1]
        kib = int(text, 16) if text.lower().startswith("0x") else text
        print("  EstimatedSize      %s KiB (reg query shows %s %s)" % (kib, estimated[0], text))
    else:
        print("  EstimatedSize      (absent)")
    print("  temporary files    %s" % (", ".join(leftovers) or "none"))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build_dir")
    parser.add_argument("--interactive", action="store_true")
    args = parser.parse_args()

    os.environ["LEXORIA_E2E_BUILD_DIR"] = str(pathlib.Path(args.build_dir).resolve())
    session = harness.session()
    try:
        inst = harness.Installation(session, r"C:\Program Files\Lexoria")
        inst.clean()
        inst.lay_out(pak_version=1039, pak_size=1 << 20)
        inst.register(quoted=False)
        print("Sandbox: Wine prefix %s, Lexoria in %s" % (session.prefix, inst.win_dir))
        show("Before", state(session, inst))

        setup = session.product()
        argv = [] if args.interactive else ["modest"]
        answers = ["yes", "no"] if args.interactive else []
        print("\nRunning %s %s: %s ..." % (setup.name, " ".join(argv), session.kind))
        run = session.run_program(setup, args=argv, answers=answers, timeout=180,
                                  env={"WINEDEBUG": harness.EVENT_LOG_DEBUG})
        print("exit code %s, %.1f s" % (run.exit_code, run.seconds))
        if run.boxes:
            print("boxes shown:")
            for box in run.boxes:
                print("  [%s] %s  -> %s" % (box.caption_w, box.text_w.replace("\r\n", " | "),
                                            box.answer))
        else:
            print("boxes shown: none")
        # Where Windows keeps it in the Application log; Wine prints it, cut
        # after about 290 characters.
        for record in run.records:
            print("event-log record (%s, id %d, as far as Wine prints it):" % (record.type,
                                                                             record.event_id))
            print("  " + record.text.replace("\r\n", "\n  "))
        print()
        show("After", state(session, inst))
        return 0 if run.exit_code == 0 else 1
    finally:
        session.stop()


if __name__ == "__main__":
    sys.exit(main())
