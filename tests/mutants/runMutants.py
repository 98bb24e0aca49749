#!/usr/bin/python3
"""Puts single faults into a copy of the sources and runs the fast tests on each.

Usage (through scripts/mutants.sh):
  scripts/mutants.sh                 every fault of tests/mutants/mutants.txt
  scripts/mutants.sh 'registry.*' main.exitCode
                                     only these (names or shell patterns)
  scripts/mutants.sh --list          the faults and whether each still applies

The checkout is never changed: its files (tracked, and untracked ones that are
not ignored) are copied to build/mutants/tree, which has its own host and
win64 builds. The unchanged copy must pass the tests first (the baseline).
Then, per fault: apply it, rebuild incrementally, run the host core tests,
then (holding $WINE_LOCK, when set) the win64 core, win and e2e tests, stopping at
the first failure; restore the file. Results: one line per fault and
"N of M caught", also in build/mutants/report.txt; logs in build/mutants/logs.
"""

import argparse
import fcntl
import fnmatch
import os
import re
import shutil
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
WORK = ROOT / "build" / "mutants"
TREE = WORK / "tree"
LOGS = WORK / "logs"
REPORT = WORK / "report.txt"
TEMPLATE = WORK / "wine-template"
# On a machine shared with other Wine or VM runs: a file to flock around ours.
HEAVY_LOCK = Path(os.environ["WINE_LOCK"]) if os.environ.get("WINE_LOCK") else None

HOST_TARGETS = ["startupCoreTests", "promptCoreTests"]
WIN64_TARGETS = ["startupCoreTests", "promptCoreTests", "winTests", "RestartPrompt", "RestartPromptNoDialog", "promptTool"]
HOST_TESTS = r"^core\."
# CTest runs a serial selection in the order the tests are declared: core,
# then win, then e2e, i.e. the cheap ones first.
WIN64_TESTS = r"^(core|win|e2e)\."
# For tests without a TIMEOUT of their own: a fault that makes a loop endless
# fails here instead of after CTest's 25 minutes.
DEFAULT_TIMEOUT = "120"

KEYS = ("name", "file", "from", "to", "why")


class ListError(Exception):
    pass


# ---- the list -------------------------------------------------------------

def unescape(text):
    return text.replace("\\n", "\n")


def readMutants(path):
    """Records of KEYS, in file order."""
    mutants = []
    record = {}
    lineOfRecord = 0

    def finish():
        if not record:
            return
        missing = [key for key in KEYS if key not in record]
        if missing:
            raise ListError(f"{path}:{lineOfRecord}: record without {', '.join(missing)}")
        if not re.fullmatch(r"[A-Za-z0-9.\-]+", record["name"]):
            raise ListError(f"{path}:{lineOfRecord}: bad name {record['name']!r}")
        if any(m["name"] == record["name"] for m in mutants):
            raise ListError(f"{path}:{lineOfRecord}: name {record['name']} used twice")
        if not record["from"]:
            raise ListError(f"{path}:{lineOfRecord}: empty 'from'")
        mutants.append(dict(record))
        record.clear()

    for number, line in enumerate(path.read_text(encoding="utf-8").splitlines(), 1):
        if line.startswith("#"):
            continue
        if not line.strip():
            finish()
            continue
        match = re.match(r"(\w+)(?: +(.*))?$", line)
        if not match or match.group(1) not in KEYS:
            raise ListError(f"{path}:{number}: expected one of {', '.join(KEYS)}: {line!r}")
        key, value = match.group(1), match.group(2) or ""
        if key in record:
            raise ListError(f"{path}:{number}: second '{key}' in one record (blank line missing?)")
        if not record:
            lineOfRecord = number
        record[key] = unescape(value) if key in ("from", "to") else value
    finish()
    return mutants


def occurrences(mutant, base):
    target = base / mutant["file"]
    if not target.is_file():
        return -1
    return target.read_text(encoding="utf-8").count(mutant["from"])


def staleReason(count):
    return "file missing" if count < 0 else f"'from' occurs {count} times, not once"


# ---- the copy of the sources ----------------------------------------------

def syncTree():
    """Copies the checkout's files into TREE, rewriting only what differs so
    that the builds there stay incremental. Also undoes a fault left behind by
    an interrupted run."""
    listing = subprocess.run(["git", "ls-files", "-z", "--cached", "--others", "--exclude-standard"],
                             cwd=ROOT, check=True, capture_output=True).stdout
    files = sorted({name for name in listing.decode().split("\0") if name and (ROOT / name).is_file()})
    manifest = WORK / "tree-files.txt"
    previous = set(manifest.read_text().splitlines()) if manifest.exists() else set()
    changed = 0
    for name in files:
        source, target = ROOT / name, TREE / name
        data = source.read_bytes()
        if target.is_file() and target.read_bytes() == data:
            continue
        target.parent.mkdir(parents=True, exist_ok=True)
        target.write_bytes(data)
        shutil.copymode(source, target)
        changed += 1
    for name in previous - set(files):
        (TREE / name).unlink(missing_ok=True)
    manifest.write_text("\n".join(files) + "\n")
    return changed


def run(args, log, cwd=TREE, env=None):
    """Runs a command with its output appended to log; returns its status."""
    with open(log, "a") as out:
        out.write(f"\n$ {' '.join(args)}\n")
        out.flush()
        return subprocess.run(args, cwd=cwd, stdout=out, stderr=subprocess.STDOUT,
                              stdin=subprocess.DEVNULL, env=env).returncode


def configure(log):
    for preset in ("host", "win64"):
        if not (TREE / "build" / preset / "CMakeCache.txt").exists():
            if run(["nice", "-n", "10", "cmake", "--preset", preset], log) != 0:
                raise SystemExit(f"configuring {preset} in {TREE} failed: see {log}")


def build(preset, targets, log):
    return run(["nice", "-n", "10", "cmake", "--build", "--preset", preset, "-j2", "--target", *targets],
               log) == 0


# ---- tests ----------------------------------------------------------------

RESULT_LINE = re.compile(r"Test\s+#\d+: (\S+) \.*\s*(.*?)\s+[\d.]+ sec")


def firstFailure(log, offset):
    """The first test after offset in log that did not pass, or None."""
    with open(log, errors="replace") as text:
        text.seek(offset)
        for line in text:
            match = RESULT_LINE.search(line)
            if match and not match.group(2).startswith("Passed"):
                return match.group(1)
    return None


def ctest(preset, pattern, log, extra=()):
    """Runs the selected tests, stopping at the first failure. Returns the
    first failing test's name, or None when all passed."""
    offset = os.path.getsize(log) if os.path.exists(log) else 0
    status = run(["ctest", "--preset", preset, "-R", pattern, "--stop-on-failure", "--no-tests=error",
                  "--timeout", DEFAULT_TIMEOUT, *extra], log)
    if status == 0:
        return None
    return firstFailure(log, offset) or f"ctest {preset} (status {status})"


class Phases:
    """Seconds spent per phase of one fault: build, copy, wait (for the
    lock: other engineers' work, not ours), tests."""

    def __init__(self):
        self.seconds = {}

    def add(self, phase, began):
        self.seconds[phase] = self.seconds.get(phase, 0.0) + time.monotonic() - began

    def total(self, without=()):
        return sum(v for k, v in self.seconds.items() if k not in without)

    def describe(self):
        return ", ".join(f"{k} {v:.0f}" for k, v in self.seconds.items())


NO_PHASES = Phases()


class HeavyLock:
    """$WINE_LOCK, held around each Wine run; nothing when it is not set."""

    def __init__(self, phases=NO_PHASES):
        self.phases = phases

    def __enter__(self):
        began = time.monotonic()
        self.file = None
        if HEAVY_LOCK is not None:
            self.file = open(HEAVY_LOCK, "a")
            fcntl.flock(self.file, fcntl.LOCK_EX)
        self.phases.add("wait", began)
        return self

    def __exit__(self, *exc):
        if self.file is not None:
            fcntl.flock(self.file, fcntl.LOCK_UN)
            self.file.close()


def wineState():
    return TREE / "build" / "win64" / "wine"


def makeTemplate(log):
    """One fresh prefix, made by the tests' own fixture, copied for every
    fault: creating a prefix takes ~15 s, linking a copy well under one."""
    if (TEMPLATE / "prefix" / "system.reg").exists():
        return
    fixture = str(TREE / "tests" / "wine" / "wineFixture.sh")
    shutil.rmtree(TEMPLATE, ignore_errors=True)
    with HeavyLock():
        started = run([fixture, "start", str(TEMPLATE)], log)
        run([fixture, "stop", str(TEMPLATE)], log)
    if started != 0 or not (TEMPLATE / "prefix" / "system.reg").exists():
        raise SystemExit(f"could not create the Wine prefix: see {log}")


class WineEnvironment:
    """What the wine.start fixture sets up (tests/wine/wineFixture.sh), with
    the prefix copied from the template: one Xvfb, one persistent wineserver,
    and the env file that runInWine.sh and e2e.py read. Entered under the lock."""

    def __init__(self, log):
        self.log = log
        self.state = wineState()
        self.xvfb = None

    def prepare(self):
        """The copy of the prefix; needs no lock. Hard links: the prefix is
        ~700 MB of DLLs that Wine only reads. The files that change (the
        registry, which wineserver replaces as a whole anyway) are copied."""
        if (self.state / "env").exists():  # left by an interrupted run
            with HeavyLock():
                self.stop()
        shutil.rmtree(self.state, ignore_errors=True)
        self.state.mkdir(parents=True)
        prefix = self.state / "prefix"
        shutil.copytree(TEMPLATE / "prefix", prefix, symlinks=True, copy_function=os.link)
        for top in (TEMPLATE / "prefix").iterdir():
            if top.is_file() and not top.is_symlink():
                (prefix / top.name).unlink()
                shutil.copy2(top, prefix / top.name)

    def __enter__(self):
        readFd, writeFd = os.pipe()
        with open(self.state / "xvfb.log", "w") as xvfbLog:
            self.xvfb = subprocess.Popen(
                ["Xvfb", "-displayfd", str(writeFd), "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
                pass_fds=(writeFd,), stdout=xvfbLog, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
        os.close(writeFd)
        with os.fdopen(readFd) as displayPipe:
            display = displayPipe.readline().strip()
        if not display:
            raise SystemExit(f"Xvfb did not start: see {self.state / 'xvfb.log'}")
        (self.state / "xvfb.pid").write_text(f"{self.xvfb.pid}\n")
        (self.state / "env").write_text(
            f"export WINEPREFIX='{self.state / 'prefix'}'\n"
            f"export DISPLAY=':{display}'\n"
            "export WINEDLLOVERRIDES='mscoree,mshtml='\n"
            "export WINEARCH=win64\n"
            ': "${WINEDEBUG:=-all}"\n'
            "export WINEDEBUG\n")
        run(["sh", "-c", '. ./env && exec wineserver -p'], self.log, cwd=self.state)
        return self

    def __exit__(self, *exc):
        self.stop()

    def stop(self):
        if (self.state / "env").exists():
            run(["sh", "-c", '. ./env && wineserver -k'], self.log, cwd=self.state)
            (self.state / "env").unlink()
        if self.xvfb is not None:
            self.xvfb.terminate()
            self.xvfb.wait()
            self.xvfb = None


def testWin64(log, phases):
    """The win64 core, win and e2e tests in a fresh Wine environment, under
    the lock. Returns the first failing test, or None."""
    began = time.monotonic()
    wine = WineEnvironment(log)
    wine.prepare()
    phases.add("copy", began)
    with HeavyLock(phases):
        began = time.monotonic()
        with wine:
            # The environment is already up: CTest must not add the fixture's
            # start and stop tests (start would make a new prefix).
            failed = ctest("win64", WIN64_TESTS, log, ["-FS", "wine", "-FC", "wine"])
        phases.add("tests", began)
    return f"{failed} (win64)" if failed else None


def testHost(log, phases):
    began = time.monotonic()
    failed = ctest("host", HOST_TESTS, log)
    phases.add("tests", began)
    return f"{failed} (host)" if failed else None


def timedBuild(preset, targets, log, phases):
    began = time.monotonic()
    built = build(preset, targets, log)
    phases.add("build", began)
    return built


# ---- one fault --------------------------------------------------------------

def tryMutant(mutant, log, phases):
    """Returns (outcome, detail)."""
    target = TREE / mutant["file"]
    count = occurrences(mutant, TREE)
    if count != 1:
        return "stale", staleReason(count)
    original = target.read_bytes()
    text = original.decode("utf-8")
    try:
        target.write_text(text.replace(mutant["from"], mutant["to"], 1), encoding="utf-8")
        if not timedBuild("host", HOST_TARGETS, log, phases):
            return "build-failed", "host build"
        failed = testHost(log, phases)
        if failed:
            return "caught", failed
        if not timedBuild("win64", WIN64_TARGETS, log, phases):
            return "build-failed", "win64 build"
        failed = testWin64(log, phases)
        return ("caught", failed) if failed else ("survived", "")
    finally:
        target.write_bytes(original)


# ---- main -------------------------------------------------------------------

def selectMutants(mutants, patterns):
    if not patterns:
        return mutants
    # In the order asked for: the faults of the first pattern first.
    chosen = []
    for pattern in patterns:
        chosen += [m for m in mutants if fnmatch.fnmatchcase(m["name"], pattern) and m not in chosen]
    unmatched = [p for p in patterns if not any(fnmatch.fnmatchcase(m["name"], p) for m in mutants)]
    if unmatched:
        raise SystemExit(f"no fault named {' '.join(unmatched)} (see --list)")
    return chosen


def listMutants(mutants):
    stale = 0
    for m in mutants:
        count = occurrences(m, ROOT)
        state = "ok" if count == 1 else "STALE: " + staleReason(count)
        stale += count != 1
        print(f"{m['name']:32} {m['file']:38} {state}")
    print(f"{len(mutants)} faults, {stale} stale")
    return 1 if stale else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("names", nargs="*", help="names or shell patterns of the faults to run")
    parser.add_argument("--list", action="store_true", help="list the faults and whether they apply")
    parser.add_argument("--mutants", type=Path, default=ROOT / "tests" / "mutants" / "mutants.txt",
                        help="the list of faults")
    parser.add_argument("--no-baseline", action="store_true",
                        help="skip the run of the unchanged copy (only when it passed just before)")
    options = parser.parse_args()

    try:
        mutants = selectMutants(readMutants(options.mutants), options.names)
    except ListError as error:
        raise SystemExit(str(error))
    if options.list:
        return listMutants(mutants)

    WORK.mkdir(parents=True, exist_ok=True)
    TREE.mkdir(exist_ok=True)
    LOGS.mkdir(exist_ok=True)
    setupLog = LOGS / "setup.log"
    setupLog.unlink(missing_ok=True)
    began = time.monotonic()
    print(f"copy of the sources: {TREE} ({syncTree()} files updated)", flush=True)
    configure(setupLog)
    makeTemplate(setupLog)
    if not (build("host", HOST_TARGETS, setupLog) and build("win64", WIN64_TARGETS, setupLog)):
        raise SystemExit(f"the unchanged copy does not build: see {setupLog}")
    if not options.no_baseline:
        baselineBegan = time.monotonic()
        phases = Phases()
        (LOGS / "baseline.log").unlink(missing_ok=True)
        failed = testHost(LOGS / "baseline.log", phases) or testWin64(LOGS / "baseline.log", phases)
        if failed:
            raise SystemExit(f"the unchanged copy fails {failed}: see {LOGS / 'baseline.log'}")
        print(f"baseline: every fast test passes ({time.monotonic() - baselineBegan:.0f} s:"
              f" {phases.describe()})", flush=True)

    lines = []
    results = []
    # Written as the run goes, so that an interrupted run leaves its results.
    report = open(REPORT, "w")
    for mutant in mutants:
        phases = Phases()
        log = LOGS / f"{mutant['name']}.log"
        log.unlink(missing_ok=True)
        outcome, detail = tryMutant(mutant, log, phases)
        results.append((mutant, outcome, phases))
        # The time of the fault itself, without waiting for other engineers' runs.
        line = (f"{outcome:12} {mutant['name']:32} {phases.total(without=('wait',)):4.0f} s"
                f"  {detail or mutant['why']}  [{phases.describe()}]")
        if outcome == "stale":
            line += f"\n{'':12} update the anchor in {mutant['file']}: {mutant['from']!r}"
        lines.append(line)
        print(line, flush=True)
        report.write(line + "\n")
        report.flush()

    count = {k: sum(1 for _, o, _ in results if o == k) for k in ("caught", "survived", "stale", "build-failed")}
    total = time.monotonic() - began
    waited = sum(p.seconds.get("wait", 0.0) for _, _, p in results)
    summary = [f"{count['caught']} of {count['caught'] + count['survived']} caught"
               f" ({count['survived']} survived, {count['build-failed']} did not build,"
               f" {count['stale']} stale)",
               f"{total / 60:.1f} min in all, of which {waited / 60:.1f} min waiting for the lock;"
               f" {sum(p.total(without=('wait',)) for _, _, p in results) / max(len(results), 1):.0f} s"
               " per fault without waiting"]
    survivors = [m["name"] for m, o, _ in results if o == "survived"]
    if survivors:
        summary.append("survived: " + " ".join(survivors))
    for line in summary:
        print(line)
    report.write("\n".join(summary) + "\n")
    report.close()
    print(f"report: {REPORT}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
