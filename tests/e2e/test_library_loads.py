"""How the setup loads the DLLs it does not import, under Wine.

What only one path needs is loaded on that path, after the start: comctl32 for
the progress window, ole32 and oleaut32 for the start through the desktop
shell, wtsapi32 for the facts of the setup's session, rstrtmgr for the
programs that hold a package the setup cannot replace, shell32 for the type of
an executable, version.dll for the versions of executables. The setup runs with administrator rights from a
folder anyone may have left a DLL in, and on Windows XP, Vista and 7 without
KB2533623, which lack SetDefaultDllDirectories, a load by name looks in that
folder first. So every such load must name the file in the system directory
(with LOAD_WITH_ALTERED_SEARCH_PATH, so that its dependencies are looked for
beside it), ask for the system directory alone (LOAD_LIBRARY_SEARCH_SYSTEM32),
or be comctl32 by name after the activation context has said that it
redirects that name to the side-by-side store (Common Controls 6.0.0.0 of the
manifest), which the loader consults before any folder. A name the setup
imports is already loaded and is taken as it is.

Wine has SetDefaultDllDirectories, so a DLL planted beside the setup would
not show a careless load here; the test reads the calls instead: Wine's relay
trace of the library-loading functions, for the calls made from the setup's
own code, and its loader trace of where each module came from.
"""

import pathlib
import re
import sys

import harness
from test_scenarios import OLDER_QUESTION_RU

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "deliverable"))
from pe_file import PeFile  # noqa: E402

DEBUG_KEY = r"HKCU\Software\Wine\Debug"
# GetSystemDirectory under Wine, for 64-bit and 32-bit programs alike (a 32-bit
# program on 64-bit Windows is given system32 too).
SYSTEM_DIRECTORY = r"c:\windows\system32"
LOADERS = ("LoadLibraryA", "LoadLibraryW", "LoadLibraryExA", "LoadLibraryExW")
TRACED = LOADERS + ("FindActCtxSectionStringA", "FindActCtxSectionStringW")
LOAD_WITH_ALTERED_SEARCH_PATH = 0x8
LOAD_LIBRARY_SEARCH_SYSTEM32 = 0x800
# The other LOAD_LIBRARY_SEARCH_* flags each add a folder to the search.
OTHER_SEARCH_FLAGS = 0x100 | 0x200 | 0x400 | 0x1000
ACTIVATION_CONTEXT_SECTION_DLL_REDIRECTION = 2

# 0024:Call KERNEL32.LoadLibraryExA(0021f0b0 "C:\\windows\\system32\\version.dll",00000000,00000008) ret=140012345
CALL = re.compile(r"^(?P<thread>[0-9a-f]+):Call KERNEL32\.(?P<function>\w+)\((?P<args>.*)\) "
                  r"ret=(?P<ret>[0-9a-f]+)$", re.M)
RET = re.compile(r"^(?P<thread>[0-9a-f]+):Ret  KERNEL32\.(?P<function>\w+)\(\) "
                 r"retval=(?P<retval>[0-9a-f]+) ret=(?P<ret>[0-9a-f]+)$", re.M)
LOADED = re.compile(r'Loaded L"(?P<path>[^"]+)" at (?P<base>[0-9A-Fa-f]+)')
STRING = re.compile(r'[0-9a-f]+ L?"((?:[^"\\]|\\.)*)"')


def unescape(text):
    return re.sub(r"\\(.)", r"\1", text)


class LoadCall:
    def __init__(self, match, order):
        self.function = match.group("function")
        self.thread = match.group("thread")
        self.ret = int(match.group("ret"), 16)
        self.order = order
        strings = STRING.findall(match.group("args"))
        self.name = unescape(strings[0]) if strings else None
        numbers = [part.strip() for part in STRING.sub("", match.group("args")).split(",")]
        self.numbers = [int(n, 16) for n in numbers if re.fullmatch(r"[0-9a-f]+", n)]
        self.retval = None

    def __str__(self):
        return "%s(%r, %s) -> %s" % (self.function, self.name,
                                     ",".join("%x" % n for n in self.numbers), self.retval)


class LibraryLoadTest(harness.E2ETestCase):
    def setUp(self):
        super().setUp()
        self.override_registry_value(DEBUG_KEY, "RelayInclude",
                                     ";".join("kernel32." + name for name in TRACED))

    def traced_run(self, **kwargs):
        run = self.run_setup(env={"WINEDEBUG": "+loaddll,+relay"}, **kwargs)
        product = self.wine.product().name.lower()
        image = next((m for m in LOADED.finditer(run.stderr)
                      if m.group("path").lower().endswith("\\" + product)), None)
        self.assertIsNotNone(image, "no loader trace of %s: %s" % (product, run.describe()))
        pe = PeFile(self.wine.product().read_bytes())
        base = int(image.group("base"), 16)
        end = base + pe.image_size
        self.imported = {name.lower() for name in pe.imported_dlls()}
        calls, pending = [], {}
        events = sorted([(m.start(), "call", m) for m in CALL.finditer(run.stderr)] +
                        [(m.start(), "ret", m) for m in RET.finditer(run.stderr)],
                        key=lambda event: event[0])
        for _, kind, match in events:
            key = (match.group("thread"), match.group("function"))
            if kind == "call":
                call = LoadCall(match, len(calls))
                if base <= call.ret < end:
                    calls.append(call)
                pending.setdefault(key, []).append(call)
            elif pending.get(key):
                pending[key].pop().retval = int(match.group("retval"), 16)
        loaded = [m.group("path") for m in LOADED.finditer(run.stderr)]
        print("library loads from the setup's code:", "; ".join(map(str, calls)) or "none")
        return run, calls, loaded

    def assertLoadsStaySafe(self, calls):
        """Every load from the setup's own code names the system directory's file, asks
        for the system directory alone, takes an imported (already loaded) module, or
        is comctl32 by name after the activation context has redirected it."""
        redirected = set()
        for call in calls:
            if call.function.startswith("FindActCtxSectionString"):
                if (call.numbers[:3] == [0, 0, ACTIVATION_CONTEXT_SECTION_DLL_REDIRECTION]
                        and call.retval):
                    redirected.add((call.name or "").lower())
                continue
            name = (call.name or "").lower()
            flags = call.numbers[-1] if call.function.startswith("LoadLibraryEx") else 0
            folder, _, base_name = name.rpartition("\\")
            by_path = folder == SYSTEM_DIRECTORY and flags & LOAD_WITH_ALTERED_SEARCH_PATH
            system_only = (flags & LOAD_LIBRARY_SEARCH_SYSTEM32 and
                           not flags & OTHER_SEARCH_FLAGS and "\\" not in name)
            by_context = not folder and name in redirected
            already_loaded = not folder and name in self.imported
            self.assertTrue(by_path or system_only or by_context or already_loaded,
                            "the setup loaded %s in a way that may search its own folder "
                            "(system directory %s); all loads: %s" % (
                                call, SYSTEM_DIRECTORY, "; ".join(map(str, calls))))

    def test_quiet_update_loads_nothing_by_a_search(self):
        """Tests the quiet update: whatever it loads after its start, it loads safely."""
        inst = self.install(pak_version=1039)
        inst.register()
        run, calls, loaded = self.traced_run(args=["modest"])
        self.assertLoadsStaySafe(calls)

    def test_held_package_loads_the_restart_manager_safely(self):
        """Tests a package another program holds: the Restart Manager is asked who holds
        it, loaded by the setup's own code, and safely."""
        inst = self.install(pak_version=1039)
        inst.register()
        holder = self.wine.start_background(
            [self.wine.helper("hold_open"), inst.win_dir + "\\lxrq.pak", "600"], name="hold_open")
        self.addCleanup(holder.kill)
        holder.wait_for_output("held=1")
        run, calls, _ = self.traced_run(args=["modest"], answers=["ok"], exit_code=6)
        self.assertTrue(self.loaded_by_setup(calls, "\\rstrtmgr.dll"),
                        "rstrtmgr not loaded by the setup: %s" % "; ".join(map(str, calls)))
        self.assertLoadsStaySafe(calls)

    def test_progress_window_loads_comctl32_version_6_safely(self):
        """Tests the progress window after the older-version question: comctl32 is
        loaded by the setup's own code, safely, and it is version 6 from the
        side-by-side store."""
        inst = self.install(pak_version=1041)
        inst.register()
        run, calls, loaded = self.traced_run(answers=["yes", "yes", "no"])
        self.assertTrue(run.boxes and run.boxes[1].text_str == OLDER_QUESTION_RU.replace(
            "{pak}", "C:\\Program Files\\Lexoria\\lxrq.pak"), run.describe())
        comctl32 = [call for call in calls if call.function in LOADERS and
                    (call.name or "").lower().endswith("comctl32.dll")]
        self.assertTrue(comctl32, "the setup did not load comctl32 itself: %s" % (
            "; ".join(map(str, calls))))
        self.assertLoadsStaySafe(calls)
        sources = [path.lower() for path in loaded if path.lower().endswith("\\comctl32.dll")]
        self.assertTrue(sources and all("\\winsxs\\" in path for path in sources),
                        "comctl32 loaded from %s, not the side-by-side store" % sources)

    def loaded_by_setup(self, calls, name):
        return [call for call in calls if call.function in LOADERS and
                (call.name or "").lower().endswith(name)]

    def test_launch_loads_the_com_and_shell_libraries_safely(self):
        """Tests "modest runapp": the start through the desktop shell loads ole32 and
        oleaut32, the setup's own start (the desktop without a shell window) wtsapi32, no
        KnownDLL, for the session's user, each by the setup's own code and safely."""
        inst = self.install(pak_version=1039)
        inst.register()
        run, calls, _ = self.traced_run(args=["modest", "runapp"])
        for name in ("\\ole32.dll", "\\oleaut32.dll"):
            self.assertTrue(self.loaded_by_setup(calls, name), "%s not loaded by the setup: %s" % (
                name, "; ".join(map(str, calls))))
        self.assertLoadsStaySafe(calls)
        inst.clean()
        self.wine.kill_strays()

        inst = self.install(pak_version=1039)
        inst.register()
        with self.wine.without_shell_window():
            run, calls, _ = self.traced_run(args=["modest", "runapp"])
        self.assertTrue(self.loaded_by_setup(calls, "\\wtsapi32.dll"),
                        "wtsapi32 not loaded by the setup: %s" % "; ".join(map(str, calls)))
        self.assertLoadsStaySafe(calls)
