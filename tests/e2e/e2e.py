#!/usr/bin/python3
"""Starts the real RestartPrompt exe under wine and works it from outside.

Usage:
  /usr/bin/python3 tests/e2e/e2e.py --list
  /usr/bin/python3 tests/e2e/e2e.py --prompt RestartPrompt.exe --tool promptTool.exe
                                    [--prompt-no-dialog RestartPromptNoDialog.exe]
                                    --wine-state DIR [--time-factor F] [SCENARIO...]

Each scenario is a row of SCENARIOS: a command line, a show command, the
registry it needs and a list of steps. The steps drive the prompt the way the
desktop and other programs do: real mouse clicks through xdotool, close
requests, commands and timer messages sent by promptTool.exe, a quit message
posted to its thread, keys typed into it once another program has activated
it. promptTool.exe also reads the prompt's state (texts, visibility, buttons,
foreground, keyboard focus), reports its exit code and every window it ever
had. Restart requests are read from the prompt's own Wine debug output, timer
periods and registry opens from Wine's relay trace.

Rows that need the build without the dialog template fail without
--prompt-no-dialog.

DIR is the Wine environment of the wine.start test (its env file). Without
names every scenario runs. Prints one line per step and exits 1 if a scenario
failed. F multiplies how long the runner waits for anything to happen (where
every program runs slower, as in the emulated test VM); the durations that the
steps assert stay as they are.
"""

import argparse
import json
import os
import re
import select
import subprocess
import sys
import time
from pathlib import Path

IDC_RESTART_LATER = 128
IDC_RESTART_NOW = 1002
IDC_LANGUAGE = 1000
IDM_EXIT = 105
IDT_POSTPONE = 111
IDOK = 1
IDCANCEL = 2
CBN_SELENDOK = 9
CBN_SELCHANGE = 1
VK_TAB = 0x09
VK_RETURN = 0x0D
VK_ESCAPE = 0x1B
VK_SPACE = 0x20

ENGLISH = {
    "message": "The installation has finished. In order to complete the process, you must restart "
    "your computer.\nPlease save changes to any open documents before continuing.",
    "caption": "Quenlor Software",
    "postponeLabel": "Restart Later",
    "restartLabel": "Restart Now",
}
FRENCH = {
    "message": "L'installation est termin\u00e9e. Pour compl\u00e9ter le processus, vous devez "
    "red\u00e9marrer votre PC.\nMerci de sauvegarder tous les documents ouverts avant de continuer.",
    "caption": "Quenlor Software",
    "postponeLabel": "Diff\u00e9rer",
    "restartLabel": "Red\u00e9marrer Maintenant",
}
GERMAN = {
    "message": "Die Installation ist beendet. Zur Fertigstellung m\u00fcssen Sie Ihren Computer neu "
    "starten.\nBitte speichern Sie Ihre offenen Dokumente.",
    "caption": "Quenlor Software",
    "postponeLabel": "Neuladen Sp\u00e4ter",
    "restartLabel": "Neuladen Jetzt",
}
LANGUAGE_ENTRIES = ["English", "Fran\u00e7ais", "Deutsch"]

# What Wine's advapi32 prints for the one restart request the prompt makes.
RESTART_REQUEST = ('InitiateSystemShutdownExW (null) L"The system is restarting to apply upates." '
                   "0 1 1 0x80020003")
SET_TIMER_CALL = re.compile(r"Call user32\.SetTimer\(([0-9a-fA-F]+),([0-9a-fA-F]+),([0-9a-fA-F]+),")
REG_OPEN_CALL = re.compile(r'Call advapi32\.RegOpenKeyExA\(([0-9a-fA-F]+),[0-9a-fA-F]+ "([^"]*)",([0-9a-fA-F]+),([0-9a-fA-F]+),')
RELAY_INCLUDE = "user32.SetTimer;advapi32.RegOpenKeyExA"

KIOSK_KEY = r"HKLM\SOFTWARE\Quenlor"
# A registry value of a row: the key holds a kiosk value but refuses reading it.
KIOSK_DENIED = ("denied", "Tavrin_Kiosk")
# The access of the probe's opens: the first view (the program's own width
# decides how it asks for the 32-bit view), then the 64-bit view.
FIRST_OPEN = "first"
OPEN_64 = 0x20119
FIRST_OPEN_BY_MACHINE = {0x14C: 0x20019, 0x8664: 0x20219}
RELAY_KEY = r"HKCU\Software\Wine\Debug"
DESKTOP_CLASS = "#32769"

POLL_SECONDS = 0.05
timeFactor = 1.0
EXPECT_TIMEOUT_MS = 4000
# The start call holds the prompt's handle this long at most; cleanup ends it sooner.
START_WAIT_MS = 600000


# ---- steps ---------------------------------------------------------------

def start():
    return ("start",)


def startHolder():
    """A window of another program that has the foreground before the prompt shows."""
    return ("holder",)


def expect(**fields):
    """Polls the prompt's state until every field matches (see checkField)."""
    return ("expect", fields)


def holds(ms, **fields):
    """The fields match at every look for ms milliseconds."""
    return ("holds", ms, fields)


def click(control):
    return ("click", control)


def chooseLanguage(index):
    """Opens the drop-down with a click and clicks entry `index` of its list."""
    return ("language", index)


def close():
    return ("send", ["close"])


def command(identifier, notification=0):
    return ("send", ["command", str(identifier), str(notification)])


def timer(identifier):
    return ("send", ["timer", str(identifier)])


def quit(code):
    return ("send", ["quit", str(code)])


def waitReturn(minMs):
    """The prompt comes back by itself, no sooner than minMs after the last postponement."""
    return ("return", minMs)


def keepsRunning(ms):
    return ("running", ms)


def expectExit(code, withinMs=5000):
    return ("exit", code, withinMs)


def expectRestartRequests(count):
    return ("restarts", count)


def expectNoWindowEver():
    """After the exit: the process never had a window of any kind."""
    return ("nowindow",)


def activate():
    """Another program makes the prompt the foreground window."""
    return ("activate",)


def focusOn(control):
    """The dialog manager gives the control the keyboard focus (WM_NEXTDLGCTL)."""
    return ("send", ["focus", str(control)])


def press(key):
    """The key pressed and released on the keyboard, with the prompt in the foreground."""
    return ("keys", key)


def moveSelection(index):
    """The drop-down's selection moves without a notification to the dialog."""
    return ("send", ["cursel", str(index)])


def expectRegistryOpens(accesses):
    """The access masks of every open of the prompt's registry key so far, from the relay trace."""
    return ("opens", accesses)


def screenshot(fileName):
    """The prompt as the user sees it, written as a PNG into the --pictures folder."""
    return ("screenshot", fileName)


def expectTimerPeriods(periods):
    """The periods of every timer 111 armed so far, from the relay trace."""
    return ("periods", periods)


# ---- scenarios -----------------------------------------------------------

# program: "prompt", the shipped program, or "noDialog", its build without the
# dialog template.
def scenario(name, args="", show=1, registry=(), relay=False, display=True, steps=(), program="prompt"):
    return {"name": name, "args": args, "show": show, "registry": list(registry),
            "relay": relay, "display": display, "steps": list(steps), "program": program}


# The first look at a prompt that has just come up with the defaults of its
# run: not in the foreground, and the focus within its thread where the
# dialog manager first put it, on the postpone button.
def firstShow(postponeEnabled=True):
    return expect(visible=True, postponeEnabled=postponeEnabled, texts=ENGLISH,
                  languages=LANGUAGE_ENTRIES, selection=0, topmost=True, foreground=False,
                  focus=IDC_RESTART_LATER, normalSize=True)


def restartsByClick():
    return [click(IDC_RESTART_NOW), expectExit(0), expectRestartRequests(1)]


def endsByExitCommand():
    return [command(IDM_EXIT), expectExit(0), expectRestartRequests(0)]


# A non-zero show command: shown at its normal size without activation, at
# the first show and at the return, while another program's window works on.
def showCommandRow(name, show):
    return scenario(name, "/d 1s", show=show, steps=[
        startHolder(), start(),
        expect(visible=True, normalSize=True, topmost=True, foreground=False, holderForeground=True),
        close(), expect(visible=False),
        waitReturn(800),
        expect(visible=True, normalSize=True, sameRect=True, foreground=False, holderForeground=True),
        *endsByExitCommand(),
    ])


# A command line that is not what the deployment tools write: the prompt still
# shows, and the first postponement arms the delay that the line gave.
def malformedRow(name, args, periodMs, postponeEnabled=True):
    if postponeEnabled:
        postponement = [close(), expect(visible=False), expectTimerPeriods([periodMs])]
    else:
        postponement = [close(), holds(300, visible=True), expectTimerPeriods([])]
    return scenario(name, args, relay=True, steps=[
        start(), firstShow(postponeEnabled), *postponement, *endsByExitCommand(),
    ])


# An end before anything is shown: no window ever, no restart.
def endsUnseen():
    return [start(), expectExit(0, withinMs=5000), expectNoWindowEver(), expectRestartRequests(0)]


def kioskRow(name, registry, args="/d 1s", opens=None):
    checkOpens = [] if opens is None else [expectRegistryOpens(opens)]
    return scenario(name, args, registry=registry, relay=opens is not None, steps=[
        *endsUnseen(), *checkOpens,
    ])


def notKioskRow(name, registry, opens=None):
    checkOpens = [] if opens is None else [expectRegistryOpens(opens)]
    return scenario(name, "/d 1s", registry=registry, relay=opens is not None, steps=[
        start(), firstShow(), *checkOpens, *endsByExitCommand(),
    ])


# With the prompt in the foreground and the focus on a button, Enter, Escape
# and Tab do nothing: no dialog keyboard handling. Nothing was postponed or
# restarted by them.
def keysChangeNothing(focus):
    steps = []
    for key in (VK_RETURN, VK_ESCAPE, VK_TAB):
        steps += [press(key), holds(400, visible=True, foreground=True, focus=focus)]
    return steps + [keepsRunning(100), expectTimerPeriods([]), expectRestartRequests(0)]


LONG_LINE = "/d 7s " + "x" * 250 + " /r 0 " + "y" * 38  # 300 characters; the /r 0 lies past the 256th

SCENARIOS = [
    # Three postponements (two by the button, one by a close request), the
    # fourth showing without a usable postpone button, an ignored close
    # request, then the restart.
    scenario("workedRun", "/d 1s", steps=[
        start(), firstShow(),
        click(IDC_RESTART_LATER), expect(visible=False),
        waitReturn(800), expect(visible=True, postponeEnabled=True, sameRect=True, foreground=False),
        click(IDC_RESTART_LATER), expect(visible=False),
        waitReturn(800), expect(visible=True, postponeEnabled=True, sameRect=True, foreground=False),
        close(), expect(visible=False),
        waitReturn(800), expect(visible=True, postponeEnabled=False, sameRect=True, foreground=False,
                                topmost=True, texts=ENGLISH),
        close(), holds(300, visible=True, postponeEnabled=False), keepsRunning(300),
        *restartsByClick(),
    ]),
    # Limit 0: the button is disabled before any input and close requests are
    # ignored; a postpone command from another program still postpones.
    scenario("limitZero", "/d 1s /r 0", steps=[
        start(), firstShow(postponeEnabled=False),
        close(), holds(300, visible=True),
        command(IDC_RESTART_LATER), expect(visible=False),
        waitReturn(800), expect(visible=True, postponeEnabled=False),
        close(), holds(300, visible=True),
        *restartsByClick(),
    ]),
    scenario("limitOne", "/d 1s /r 1", steps=[
        start(), firstShow(),
        click(IDC_RESTART_LATER), expect(visible=False),
        waitReturn(800), expect(visible=True, postponeEnabled=False),
        close(), holds(300, visible=True),
        *restartsByClick(),
    ]),
    # A negative limit: close requests are ignored from the start, the button
    # gives one postponement.
    scenario("limitNegative", "/d 1s /r -1", steps=[
        start(), firstShow(),
        close(), holds(300, visible=True, postponeEnabled=True),
        click(IDC_RESTART_LATER), expect(visible=False),
        waitReturn(800), expect(visible=True, postponeEnabled=False),
        close(), holds(300, visible=True),
        command(IDC_RESTART_NOW), expectExit(0), expectRestartRequests(1),
    ]),
    # Delay 0 means 90 minutes; the expiry is sent rather than waited for.
    scenario("delayZero", "/d 0", relay=True, steps=[
        start(), firstShow(),
        close(), expect(visible=False), expectTimerPeriods([5400000]),
        timer(IDT_POSTPONE), expect(visible=True, postponeEnabled=True, sameRect=True),
        *endsByExitCommand(),
    ]),
    # Show command 0: hidden, and nothing brings it up until a close request
    # from outside; from there the normal cycle runs.
    scenario("hiddenStart", "/d 1s", show=0, steps=[
        start(), expect(found=True, visible=False), holds(1500, visible=False),
        close(), expect(visible=False),
        waitReturn(800), firstShow(),
        click(IDC_RESTART_LATER), expect(visible=False),
        waitReturn(800), expect(visible=True, postponeEnabled=True),
        *restartsByClick(),
    ]),
    showCommandRow("showMinimized", 2),
    showCommandRow("showMaximized", 3),
    showCommandRow("showMinNoActive", 7),
    showCommandRow("showDefault", 10),
    showCommandRow("showWithoutFlag", None),
    # The kiosk gate against the registry views of the real run.
    kioskRow("kioskIn32BitView", [("32", "Tavrin_Kiosk")]),
    kioskRow("kioskIn64BitView", [("64", "Tavrin_Kiosk")], opens=[FIRST_OPEN, OPEN_64]),
    kioskRow("kioskMixedCaseMalformedLine", [("32", "tAVRIN_kIOSK_Lobby")], args='/d "\t/r ' + "\u0100"),
    notKioskRow("notKioskShortValue", [("32", "Tavrin_Kios")]),
    notKioskRow("notKioskKeyWithoutValue", [("32", None), ("64", "Tavrin_Kiosk")], opens=[FIRST_OPEN]),
    # The first open refused for lack of access: no second open, although the
    # 64-bit view holds a kiosk value too.
    notKioskRow("notKioskReadingRefused", [("32", KIOSK_DENIED), ("64", "Tavrin_Kiosk")], opens=[FIRST_OPEN]),
    # Without its dialog template the program ends as if it were a kiosk.
    scenario("noDialogTemplate", "/d 1s", program="noDialog", steps=endsUnseen()),
    # Where no window can be created (for Wine, no display; for Windows, a
    # session without a desktop) the run ends at once instead of waiting for
    # messages that never come.
    scenario("noDisplay", "/d 1s", display=False, steps=[
        start(), expectExit(0, withinMs=5000), expectRestartRequests(0),
    ]),
    # Keys reach only the focused control; Space is the focused button's own click.
    scenario("keysOnPostponeButton", "/d 1s", relay=True, steps=[
        start(), firstShow(), activate(), expect(foreground=True, focus=IDC_RESTART_LATER),
        *keysChangeNothing(IDC_RESTART_LATER),
        press(VK_SPACE), expect(visible=False), expectTimerPeriods([1000]),
        *endsByExitCommand(),
    ]),
    scenario("keysOnRestartButton", "/d 1s", relay=True, steps=[
        start(), firstShow(), activate(), focusOn(IDC_RESTART_NOW), expect(foreground=True, focus=IDC_RESTART_NOW),
        *keysChangeNothing(IDC_RESTART_NOW),
        press(VK_SPACE), expectExit(0), expectRestartRequests(1),
    ]),
    # Real clicks in the drop-down; the language survives a postponement, and
    # the restart request is the same in every language.
    scenario("languages", "/d 1s", steps=[
        start(), firstShow(),
        chooseLanguage(1), expect(texts=FRENCH, selection=1, languages=LANGUAGE_ENTRIES),
        click(IDC_RESTART_LATER), expect(visible=False),
        waitReturn(800), expect(visible=True, texts=FRENCH, selection=1),
        chooseLanguage(2), expect(texts=GERMAN, selection=2, languages=LANGUAGE_ENTRIES),
        chooseLanguage(0), expect(texts=ENGLISH, selection=0, languages=LANGUAGE_ENTRIES),
        chooseLanguage(2), expect(texts=GERMAN, selection=2, postponeEnabled=True),
        *restartsByClick(),
    ]),
    # Commands the prompt does not know change nothing; 105 ends the run
    # without a restart.
    scenario("exitCommand", "/d 1s", steps=[
        start(), firstShow(),
        moveSelection(2), command(IDOK), command(IDCANCEL), command(IDC_LANGUAGE, CBN_SELCHANGE),
        holds(300, visible=True, texts=ENGLISH, postponeEnabled=True), keepsRunning(200),
        *endsByExitCommand(),
    ]),
    scenario("quitFromOutside", "/d 1s", steps=[
        start(), firstShow(), quit(7), expectExit(7), expectRestartRequests(0),
    ]),
    malformedRow("emptyCommandLine", "", 1800000),
    malformedRow("leadingWhiteSpace", "\t /d 5s", 5000),
    malformedRow("emptyDelayAtEnd", "/d ", 5400000),
    malformedRow("emptyDelayBetweenBlanks", "/d  5", 5400000),
    malformedRow("emptyLimitAtEnd", "/r ", None, postponeEnabled=False),
    malformedRow("tabIsNoSeparator", "/d\t5s", 1800000),
    malformedRow("blankAndTabBeforeValue", "/d \t5s", 5000),
    malformedRow("quotedOption", '"/d 5s"', 1800000),
    malformedRow("quotedValue", '/d "5"', 5400000),
    malformedRow("hugeNumber", "/d 99999999999", 4294907296),
    malformedRow("productWrapsNegative", "/d 35792", 2147520000),
    malformedRow("productWrapsToZero", "/d 134217728", 5400000),
    malformedRow("aboveLatin1EndsLine", "/r 2 \u0100 /d 5s", 1800000),
    malformedRow("noBreakSpaceIsNoSeparator", "/d\u00a05s", 1800000),
    malformedRow("line300Characters", LONG_LINE, 7000),
]

# What administrators see in the README: not tests, run by scripts/pictures.sh.
PICTURES = [
    scenario("languages", args="/d 1s", steps=[
        start(), firstShow(), screenshot("prompt-en.png"),
        chooseLanguage(1), expect(texts=FRENCH), screenshot("prompt-fr.png"),
        chooseLanguage(2), expect(texts=GERMAN), screenshot("prompt-de.png"),
        click(IDC_RESTART_NOW), expectExit(0),
    ]),
    scenario("limitReached", args="/r 0", steps=[
        start(), firstShow(postponeEnabled=False), screenshot("prompt-no-postpone.png"),
        click(IDC_RESTART_NOW), expectExit(0),
    ]),
]


# ---- running -------------------------------------------------------------

def waitSeconds(ms):
    """How long to wait for something that takes at most ms here."""
    return ms * timeFactor / 1000


class Failure(Exception):
    pass


def readEnvironment(stateDir):
    envFile = stateDir / "env"
    if not envFile.is_file():
        raise SystemExit(f"no Wine environment in {stateDir}: run the wine.start test first")
    dump = subprocess.run(["sh", "-c", '. "$0" && env -0', str(envFile)], check=True,
                          capture_output=True).stdout
    return dict(item.split("=", 1) for item in dump.decode().split("\0") if "=" in item)


def windowsPath(path):
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


def lastJsonLine(text):
    lines = [line for line in text.splitlines() if line.startswith("{")]
    return json.loads(lines[-1]) if lines else None


class Run:
    """One scenario's processes and files."""

    def __init__(self, options, environment, row):
        self.options = options
        self.environment = environment
        self.row = row
        self.dir = options.wine_state / "e2e" / row["name"]
        self.dir.mkdir(parents=True, exist_ok=True)
        for old in self.dir.iterdir():
            old.unlink()
        self.startCall = None
        self.holderCall = None
        self.pid = None
        self.holderPid = None
        self.firstRect = None
        self.lastPostponement = None
        self.startedAt = None
        self.openFiles = []
        self.notes = set()
        self.server = None
        self.serverOutput = b""

    def wineEnvironment(self, debug):
        environment = dict(self.environment)
        environment["WINEDEBUG"] = debug
        return environment

    # Output to files, never pipes: Wine's services may keep a pipe open.
    def wine(self, args, name, debug="-all", timeoutMs=60000):
        out = self.dir / f"{name}.out"
        with open(out, "wb") as stdout, open(self.dir / f"{name}.err", "ab") as stderr:
            result = subprocess.run(["wine", *args], stdin=subprocess.DEVNULL, stdout=stdout,
                                    stderr=stderr, env=self.wineEnvironment(debug),
                                    timeout=waitSeconds(timeoutMs))
        return result.returncode, out.read_text(errors="replace")

    # One promptTool process answers every look and message of the scenario:
    # a wine start per call would take longer under emulation than the
    # shortest postponement, and a hidden prompt could come back unseen.
    def startServer(self):
        stderr = open(self.dir / "serve.err", "ab")
        self.openFiles.append(stderr)
        self.server = subprocess.Popen(["wine", str(self.options.tool), "serve"], stdin=subprocess.PIPE,
                                       stdout=subprocess.PIPE, stderr=stderr,
                                       env=self.wineEnvironment("-all"))
        self.serverOutput = b""

    def stopServer(self):
        if self.server is None:
            return
        try:
            self.server.stdin.close()
            self.server.wait(timeout=waitSeconds(5000))
        except (OSError, subprocess.TimeoutExpired):
            self.server.kill()
            self.server.wait()
        self.server.stdout.close()
        self.server = None

    def serverLine(self, deadline):
        # Never a read to the end: Wine's services may hold the pipe open.
        while b"\n" not in self.serverOutput:
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                return None
            ready, _, _ = select.select([self.server.stdout], [], [], remaining)
            if ready:
                chunk = os.read(self.server.stdout.fileno(), 65536)
                if not chunk:
                    return None
                self.serverOutput += chunk
        line, self.serverOutput = self.serverOutput.split(b"\n", 1)
        return line.decode(errors="replace").rstrip("\r")

    def ask(self, args):
        """The output lines of one call, or None when promptTool gave no whole answer."""
        if self.server is None or self.server.poll() is not None:
            self.stopServer()
            self.startServer()
        try:
            self.server.stdin.write((" ".join(args) + "\n").encode())
            self.server.stdin.flush()
        except OSError:
            self.stopServer()
            return None
        deadline = time.monotonic() + waitSeconds(60000)
        lines = []
        while True:
            line = self.serverLine(deadline)
            if line is None:
                self.stopServer()
                return None
            if line.startswith("end "):
                return lines
            lines.append(line)

    def tool(self, *args):
        # promptTool now and then gives no answer at all; that is the harness,
        # not the prompt, so it is asked again by a new process.
        for attempt in range(3):
            lines = self.ask(args)
            answer = lastJsonLine("\n".join(lines or []))
            if answer is not None:
                if attempt > 0:
                    self.notes.add(f"harness: promptTool {args[0]} answered on attempt {attempt + 1}")
                return answer
        raise Failure(f"promptTool {' '.join(args)}: no answer: {lines!r}")

    def background(self, args, name, debug, display=True):
        stdout = open(self.dir / f"{name}.json", "wb")
        stderr = open(self.dir / f"{name}.trace", "wb")
        self.openFiles += [stdout, stderr]
        environment = self.wineEnvironment(debug)
        if not display:
            del environment["DISPLAY"]
        return subprocess.Popen(["wine", *args], stdin=subprocess.DEVNULL, stdout=stdout, stderr=stderr,
                                env=environment)

    def backgroundLines(self, name):
        path = self.dir / f"{name}.json"
        return [json.loads(line) for line in path.read_text().splitlines() if line.startswith("{")]

    def waitForLine(self, name, index, timeoutMs, what):
        deadline = time.monotonic() + waitSeconds(timeoutMs)
        while True:
            lines = self.backgroundLines(name)
            if len(lines) > index:
                return lines[index]
            if time.monotonic() > deadline:
                raise Failure(f"{what}: nothing within {waitSeconds(timeoutMs) * 1000:.0f} ms")
            time.sleep(POLL_SECONDS)

    def reg(self, *args):
        return self.wine(["reg", *args], "reg")[0]

    def setUpRegistry(self):
        self.clearRegistry()
        for view, value in self.row["registry"]:
            denied = value == KIOSK_DENIED
            args = ["add", KIOSK_KEY, f"/reg:{view}", "/f"]
            if value is not None:
                args += ["/v", "PatchingGroup", "/d", value[1] if denied else value]
            if self.reg(*args) != 0:
                raise Failure(f"reg add {args}")
            if denied and not self.tool("denyread", view).get("denied"):
                raise Failure(f"the key of the {view}-bit view still lets its values be read")
        if self.row["relay"]:
            if self.reg("add", RELAY_KEY, "/v", "RelayInclude", "/d", RELAY_INCLUDE, "/f") != 0:
                raise Failure("reg add RelayInclude")

    # Only rows that write the key clear it; a key left behind would end any
    # other row at once with a visible failure, never a silent pass. The tool
    # deletes it, since reg.exe cannot delete a key that refuses reading.
    def clearRegistry(self):
        if self.row["registry"]:
            for view in ("32", "64"):
                if not self.tool("deletekey", view).get("gone"):
                    raise Failure(f"the key of the {view}-bit view could not be deleted")
        if self.row["relay"]:
            self.reg("delete", RELAY_KEY, "/v", "RelayInclude", "/f")

    # ---- the steps ----

    def program(self):
        if self.row["program"] == "noDialog":
            if self.options.prompt_no_dialog is None:
                raise Failure("this row needs --prompt-no-dialog")
            return self.options.prompt_no_dialog
        return self.options.prompt

    def doStart(self):
        # Wine passes argv on with its own quoting; hex keeps the command line exact.
        argsHex = self.row["args"].encode("utf-8").hex()
        showArgs = ["--no-show-flag"] if self.row["show"] is None else ["--show", str(self.row["show"])]
        debug = "-all,fixme+advapi" + (",+relay" if self.row["relay"] else "")
        self.startedAt = time.monotonic()
        self.startCall = self.background(
            [str(self.options.tool), "start", *showArgs, "--args-hex", argsHex, "--wait", str(START_WAIT_MS),
             windowsPath(self.program())], "start", debug, self.row["display"])
        started = self.waitForLine("start", 0, 20000, "start")
        if "pid" not in started:
            raise Failure(f"start: {started}")
        self.pid = started["pid"]
        return f"pid {self.pid}"

    def doHolder(self):
        self.holderCall = self.background([str(self.options.tool), "holder"], "holder", "-all")
        answer = self.waitForLine("holder", 0, 20000, "holder")
        self.holderPid = answer["pid"]
        if not answer.get("foreground"):
            raise Failure(f"the holder did not get the foreground: {answer}")
        return f"holder pid {self.holderPid}"

    def state(self):
        state = self.tool("state", str(self.pid))
        if state.get("found") and state.get("visible") and self.firstRect is None:
            self.firstRect = state["rect"]
        return state

    def checkField(self, state, name, wanted):
        """Returns None when the field matches, else what was seen."""
        if name == "texts":
            seen = {key: state.get(key) for key in wanted}
            return None if seen == wanted else seen
        if name == "normalSize":
            left, top, right, bottom = state["rect"]
            screenWidth, screenHeight = state["screen"]
            centred = abs((left + right) / 2 - screenWidth / 2) <= 2 and \
                abs((top + bottom) / 2 - screenHeight / 2) <= 2
            normal = (not state["iconic"] and not state["zoomed"] and centred
                      and 0 < right - left < screenWidth and 0 < bottom - top < screenHeight)
            summary = {key: state[key] for key in ("iconic", "zoomed", "rect", "screen")}
            return None if normal == wanted else summary
        if name == "sameRect":
            same = state["rect"] == self.firstRect
            return None if same == wanted else {"rect": state["rect"], "first": self.firstRect}
        if name == "holderForeground":
            if (state["foregroundPid"] == self.holderPid) == wanted:
                return None
            # Wine with unmanaged X windows moves the X focus to a shown window
            # that is its thread's active window, and makes the desktop the
            # foreground; the prompt itself still does not become it.
            if wanted and state["foregroundClass"] == DESKTOP_CLASS and state["foregroundPid"] != self.pid:
                self.notes.add("wine: the desktop took the foreground from the holder, not the prompt")
                return None
            return {"foregroundPid": state["foregroundPid"], "foregroundClass": state["foregroundClass"],
                    "holderPid": self.holderPid}
        if name not in state:
            return {name: "missing"}
        return None if state[name] == wanted else state[name]

    def mismatches(self, state, fields):
        if not state.get("found") and fields.get("found", True):
            return {"found": False}
        found = {}
        for name, wanted in fields.items():
            seen = self.checkField(state, name, wanted)
            if seen is not None:
                found[name] = seen
        return found

    def doExpect(self, fields, timeoutMs=EXPECT_TIMEOUT_MS):
        deadline = time.monotonic() + waitSeconds(timeoutMs)
        while True:
            wrong = self.mismatches(self.state(), fields)
            if not wrong:
                return ""
            if time.monotonic() > deadline:
                raise Failure(f"after {waitSeconds(timeoutMs) * 1000:.0f} ms: "
                              f"{json.dumps(wrong, ensure_ascii=False)}")
            time.sleep(POLL_SECONDS)

    def doHolds(self, ms, fields):
        deadline = time.monotonic() + ms / 1000
        looks = 0
        while True:
            wrong = self.mismatches(self.state(), fields)
            looks += 1
            if wrong:
                raise Failure(f"changed after {looks} looks: {json.dumps(wrong, ensure_ascii=False)}")
            if time.monotonic() > deadline:
                return f"{looks} looks"
            time.sleep(POLL_SECONDS)

    def xdotool(self, *args):
        try:
            return subprocess.run(["xdotool", *args], check=True, stdin=subprocess.DEVNULL,
                                  capture_output=True, env=self.environment,
                                  timeout=waitSeconds(10000)).stdout.decode()
        except (subprocess.CalledProcessError, subprocess.TimeoutExpired) as error:
            raise Failure(f"xdotool: {error}")

    def clickAt(self, x, y):
        # mousemove --sync waits for a motion event, and there is none when
        # the pointer is already there.
        location = dict(line.split("=", 1) for line in self.xdotool("getmouselocation", "--shell").split())
        if (int(location["X"]), int(location["Y"])) == (x, y):
            self.xdotool("click", "1")
        else:
            self.xdotool("mousemove", "--sync", str(x), str(y), "click", "1")

    def doClick(self, control):
        state = self.state()
        if not state.get("visible"):
            raise Failure("the prompt is not visible")
        left, top, right, bottom = state["controls"][str(control)]
        if control == IDC_RESTART_LATER:
            self.lastPostponement = time.monotonic()
        self.clickAt((left + right) // 2, (top + bottom) // 2)
        return f"at {(left + right) // 2},{(top + bottom) // 2}"

    def doLanguage(self, index):
        self.doClick(IDC_LANGUAGE)
        deadline = time.monotonic() + waitSeconds(EXPECT_TIMEOUT_MS)
        while True:
            dropList = self.state()["dropList"]
            if dropList["visible"]:
                break
            if time.monotonic() > deadline:
                raise Failure("the drop-down list did not open")
            time.sleep(POLL_SECONDS)
        left, top, _, _ = dropList["rect"]
        height = dropList["itemHeight"]
        # One pixel of list border, then the entries in order.
        self.clickAt(left + 10, top + 1 + height * index + height // 2)
        while self.state()["dropList"]["visible"]:
            if time.monotonic() > deadline:
                raise Failure("the drop-down list did not close")
            time.sleep(POLL_SECONDS)
        return f"entry {index}"

    def doSend(self, args):
        if args[0] == "close" or args[:2] == ["command", str(IDC_RESTART_LATER)]:
            self.lastPostponement = time.monotonic()
        answer = self.tool("send", str(self.pid), *args)
        if not answer.get("sent"):
            raise Failure(f"not sent: {answer}")
        return ""

    def doReturn(self, minMs):
        if self.lastPostponement is None:
            raise Failure("no postponement to return from")
        deadline = self.lastPostponement + waitSeconds(10000)
        while not self.state().get("visible"):
            if time.monotonic() > deadline:
                raise Failure(f"the prompt did not come back within {waitSeconds(10000):.0f} s")
            time.sleep(POLL_SECONDS)
        elapsedMs = (time.monotonic() - self.lastPostponement) * 1000
        if elapsedMs < minMs:
            raise Failure(f"came back after {elapsedMs:.0f} ms, before {minMs} ms")
        return f"after {elapsedMs:.0f} ms"

    def doRunning(self, ms):
        answer = self.tool("wait", str(self.pid), str(ms))
        if not answer.get("timeout"):
            raise Failure(f"the prompt ended: {answer}")
        return ""

    def doExit(self, code, withinMs):
        ended = self.waitForLine("start", 1, withinMs, "exit")
        if ended.get("exitCode") != code:
            raise Failure(f"ended with {ended}")
        return f"{code}, {(time.monotonic() - self.startedAt) * 1000:.0f} ms after the start"

    def doNoWindow(self):
        ended = self.waitForLine("start", 1, 1000, "exit")
        if ended.get("windows") != []:
            raise Failure(f"the process had windows: {ended.get('windows')}")
        return ""

    def doActivate(self):
        answer = self.tool("activate", str(self.pid))
        if not answer.get("activated"):
            raise Failure(f"not activated: {answer}")
        return ""

    def doKeys(self, key):
        answer = self.tool("keys", str(self.pid), str(key))
        if not answer.get("sent"):
            raise Failure(f"not typed: {answer}")
        return hex(key)

    def trace(self):
        return (self.dir / "start.trace").read_text(errors="replace")

    # An empty list from a trace without relay lines would prove nothing; the
    # probe's open at every start is always there.
    def relayTrace(self):
        trace = self.trace()
        if "Call advapi32.RegOpenKeyExA(" not in trace:
            raise Failure("no relay trace")
        return trace

    def firstOpenAccess(self):
        data = Path(self.program()).read_bytes()
        machine = int.from_bytes(data[int.from_bytes(data[0x3C:0x40], "little") + 4:][:2], "little")
        return FIRST_OPEN_BY_MACHINE[machine]

    def doOpens(self, accesses):
        wanted = [self.firstOpenAccess() if access == FIRST_OPEN else access for access in accesses]
        seen = [int(match.group(4), 16) for match in REG_OPEN_CALL.finditer(self.relayTrace())
                if match.group(2).endswith("Quenlor")]
        if seen != wanted:
            raise Failure(f"opened with {[hex(access) for access in seen]}, not {[hex(a) for a in wanted]}")
        return " ".join(hex(access) for access in seen)

    def doRestarts(self, count):
        lines = [line for line in self.trace().splitlines() if "InitiateSystemShutdownExW" in line]
        exact = [line for line in lines if line.endswith(RESTART_REQUEST)]
        if len(lines) != count or len(exact) != count:
            raise Failure(f"{len(lines)} requests, {len(exact)} with the exact arguments: {lines}")
        return f"{count}"

    def doPeriods(self, periods):
        seen = [int(match.group(3), 16) for match in SET_TIMER_CALL.finditer(self.relayTrace())
                if int(match.group(2), 16) == IDT_POSTPONE]
        if seen != periods:
            raise Failure(f"timer 111 armed with {seen}")
        return " ".join(hex(period) for period in seen)

    def doScreenshot(self, fileName):
        state = self.state()
        left, top, right, bottom = state["rect"]
        # The pointer away from the buttons, so that none is drawn hovered.
        self.xdotool("mousemove", "0", "0")
        time.sleep(0.3)  # let the buttons repaint
        target = self.options.pictures / fileName
        subprocess.run(["/usr/bin/import", "-window", "root", "-crop",
                        f"{right - left}x{bottom - top}+{left}+{top}", "+repage", "-strip", str(target)],
                       check=True, env=self.environment, stdin=subprocess.DEVNULL, capture_output=True)
        return str(target)

    def runStep(self, step):
        kind, *args = step
        actions = {
            "start": self.doStart, "holder": self.doHolder, "expect": self.doExpect,
            "holds": self.doHolds, "click": self.doClick, "language": self.doLanguage,
            "send": self.doSend, "return": self.doReturn, "running": self.doRunning,
            "exit": self.doExit, "restarts": self.doRestarts, "periods": self.doPeriods,
            "screenshot": self.doScreenshot, "nowindow": self.doNoWindow, "activate": self.doActivate,
            "keys": self.doKeys, "opens": self.doOpens,
        }
        if kind not in actions:
            raise Failure(f"unknown step {step}")
        return actions[kind](*args)

    def cleanUp(self):
        for pid, call in ((self.pid, self.startCall), (self.holderPid, self.holderCall)):
            if call is None:
                continue
            if call.poll() is None and pid is not None:
                try:
                    self.tool("kill", str(pid))
                except (Failure, subprocess.TimeoutExpired):
                    pass
            try:
                call.wait(timeout=waitSeconds(20000))
            except subprocess.TimeoutExpired:
                call.kill()
                call.wait()
        try:
            self.clearRegistry()
        finally:
            self.stopServer()
            for file in self.openFiles:
                file.close()


def describe(step):
    kind = step[0]
    if kind in ("expect", "holds"):
        fields = step[-1]
        shown = ", ".join(f"{key}={'...' if key == 'texts' else value}" for key, value in fields.items())
        return f"{kind}{'(' + str(step[1]) + ' ms)' if kind == 'holds' else ''} {shown}"
    return " ".join(str(part) for part in step)


def runScenario(options, environment, row):
    run = Run(options, environment, row)
    began = time.monotonic()
    print(f"== {row['name']}: command line {row['args']!r}, show {row['show']}", flush=True)
    ok = True
    try:
        run.setUpRegistry()
        for number, step in enumerate(row["steps"], 1):
            stepBegan = time.monotonic()
            try:
                detail = run.runStep(step)
            except (Failure, subprocess.SubprocessError, OSError, ValueError, KeyError) as failure:
                print(f"FAIL {number:2} {describe(step)}: {failure}", flush=True)
                ok = False
                break
            print(f"ok   {number:2} {describe(step)} {detail} ({time.monotonic() - stepBegan:.2f} s)",
                  flush=True)
    finally:
        run.cleanUp()
    for note in sorted(run.notes):
        print(f"note {note}")
    print(f"{'PASS' if ok else 'FAIL'} {row['name']} in {time.monotonic() - began:.1f} s", flush=True)
    return ok


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--list", action="store_true", help="print the scenario names and stop")
    parser.add_argument("--prompt", type=Path)
    parser.add_argument("--tool", type=Path)
    parser.add_argument("--prompt-no-dialog", type=Path,
                        help="the program built without its dialog template, for the rows that need it")
    parser.add_argument("--wine-state", type=Path)
    parser.add_argument("--pictures", type=Path, help="render the README's pictures into this folder")
    parser.add_argument("--time-factor", type=float, default=1.0,
                        help="wait this many times longer for anything to happen")
    parser.add_argument("names", nargs="*")
    options = parser.parse_args()

    if options.list:
        print("\n".join(row["name"] for row in SCENARIOS))
        return 0
    if not (options.prompt and options.tool and options.wine_state):
        parser.error("--prompt, --tool and --wine-state are needed to run scenarios")
    global timeFactor
    timeFactor = options.time_factor
    table = PICTURES if options.pictures else SCENARIOS
    if options.pictures:
        options.pictures.mkdir(parents=True, exist_ok=True)
    byName = {row["name"]: row for row in table}
    unknown = [name for name in options.names if name not in byName]
    if unknown:
        parser.error(f"unknown scenarios: {unknown}")
    environment = readEnvironment(options.wine_state)
    rows = [byName[name] for name in options.names] if options.names else table
    failed = [row["name"] for row in rows if not runScenario(options, environment, row)]
    if failed:
        print(f"failed: {' '.join(failed)}")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
