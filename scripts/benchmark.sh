#!/bin/sh
# Measures what the restart prompt costs, under wine64 on a private Xvfb
# display, and writes the figures to docs/PERFORMANCE.md:
#   - start-up time and peak memory against the floor (one dialog from the
#     same template and nothing else), in alternating pairs so that the
#     machine's drift falls on both alike;
#   - the CPU time that a postponed prompt takes while it waits;
#   - the sizes of the shipped i686 exe;
#   - the shipped i686 exe's start-up and peak memory against the i686 floor,
#     the same way, inside the test VM (Wine's 32-bit side under qemu's
#     software emulation, tests/vm/runInVm.sh), as ratios.
#
#   scripts/benchmark.sh [PAIRS [VM_PAIRS]]
#     PAIRS: start-up pairs under wine64, default 40
#     VM_PAIRS: start-up pairs in the VM, default 40 (3 to 20 s each under
#     emulation, by the machine's load), and a third as many for its
#     control; 0 leaves the VM out
# BENCH_IDLE_SECONDS sets the postponed window (default 60).
# Needs what scripts/setup.sh installs (wine64, Xvfb, hyperfine, GNU time,
# python3-pefile, and qemu and debootstrap for the VM). Everything it makes
# goes to build/bench/; the VM image is built on first use and cached.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
pairs=${1:-40}
vmPairs=${2:-40}
idleSeconds=${BENCH_IDLE_SECONDS:-60}
controlPairs=20
vmControlPairs=$((vmPairs / 3))
work=$root/build/bench
state=$work/wine
report=$root/docs/PERFORMANCE.md
started=$(date +%s)
command="scripts/benchmark.sh${1:+ $1}${2:+ $2}"
[ "$idleSeconds" = 60 ] || command="BENCH_IDLE_SECONDS=$idleSeconds $command"

say() { echo "benchmark: $*" >&2; }
fail() { say "$*"; exit 1; }

mkdir -p "$work" "$state" "$root/docs"
loadBefore=$(cut -d' ' -f1-3 /proc/loadavg)

# --- Builds: the program as shipped (i686) and as it runs here (x86_64),
# and the bench programs with the same toolchain files, so the floor is
# compiled and linked exactly as the program is.
say "building"
for preset in win64 win32; do
    { cmake --preset $preset && cmake --build --preset $preset --target RestartPrompt -j2; } \
        >"$work/build-$preset.log" 2>&1 || fail "build of $preset failed: see $work/build-$preset.log"
done
for arch in win64:x86_64 win32:i686; do
    dir=$work/${arch%%:*}
    { cmake -S "$root/tests/bench" -B "$dir" --toolchain "$root/cmake/mingw-${arch#*:}.cmake" &&
        cmake --build "$dir" -j2; } >"$work/build-bench-${arch%%:*}.log" 2>&1 ||
        fail "bench build failed: see $work/build-bench-${arch%%:*}.log"
done
prompt=$root/build/win64/bin/RestartPrompt.exe
shipped=$root/build/win32/bin/RestartPrompt.exe
bench=$work/win64/bin
floor=$bench/floorDialog.exe

# --- The shipped exe in the test VM, before any Wine starts here: Wine on
# this machine cannot make windows while the VM runs.
vmWork=$work/vm
vmPairsFile=$vmWork/run/out/pairs.txt
vmControlFile=$vmWork/run/out/control.txt
rm -rf "$vmWork"
if [ "$vmPairs" -gt 0 ]; then
    say "VM image (built on first use)"
    "$root/tests/vm/buildImage.sh" >"$work/vm-image.log" 2>&1 ||
        fail "no VM image: see $work/vm-image.log"
    mkdir -p "$vmWork/payload"
    cp "$shipped" "$work/win32/bin/floorDialog.exe" "$work/win32/bin/startupClock.exe" \
        "$root/tests/bench/vm/cases.sh" "$vmWork/payload/"
    say "i686 in the test VM: $vmPairs pairs, control $vmControlPairs pairs"
    # The machine's load while the VM runs, which itself adds about 2.
    (while kill -0 $$ 2>/dev/null; do cut -d' ' -f1 /proc/loadavg; sleep 10; done) >"$vmWork/load.txt" &
    loadSampler=$!
    vmLoadBefore=$(cut -d' ' -f1-3 /proc/loadavg)
    vmStarted=$(date +%s)
    vmStatus=0
    # About a minute to boot, then some 20 s a pair under emulation; the
    # limit leaves room for a busy machine.
    "$root/tests/vm/runInVm.sh" -o "$vmWork/run" -t $((900 + 60 * (vmPairs + vmControlPairs))) \
        "$vmWork/payload" "$vmPairs" "$vmControlPairs" >"$vmWork/run.txt" 2>&1 </dev/null || vmStatus=$?
    vmSeconds=$(($(date +%s) - vmStarted))
    kill "$loadSampler" 2>/dev/null || true
    vmLoadAfter=$(cut -d' ' -f1-3 /proc/loadavg)
    [ "$vmStatus" -eq 0 ] && [ -s "$vmPairsFile" ] ||
        fail "the VM run failed ($vmStatus): see $vmWork/run.txt and $vmWork/run/console.log"
    vmLoad=$(sort -n "$vmWork/load.txt" | awk '{v[NR] = $1} END {printf "%s to %s, median %s", v[1], v[NR], v[int((NR + 1) / 2)]}')
    vmRanSeconds=$(sed -n 's/^runInVm: VM ran \([0-9]*\) s$/\1/p' "$vmWork/run.txt")
    # Firmware escapes may precede a console line.
    vmSessionSeconds=$(tr -d '\r' <"$vmWork/run/console.log" |
        sed -n 's/^.*vm-init: Wine session started in \([0-9]*\) s$/\1/p')
    vmCasesSeconds=$(tr -d '\r' <"$vmWork/run/console.log" |
        sed -n 's/^.*vm-init: cases took \([0-9]*\) s$/\1/p')
    vmPairsSeconds=$(sed -n 's/^pairs: .* in \([0-9]*\) s$/\1/p' "$vmWork/run.txt")
    vmControlSeconds=$(sed -n 's/^control: .* in \([0-9]*\) s$/\1/p' "$vmWork/run.txt")
    vmFirstSeconds=$(sed -n 's/^first run: .* in \([0-9]*\) s:.*/\1/p' "$vmWork/run.txt")
    vmBootSeconds=$((${vmRanSeconds:-0} - ${vmSessionSeconds:-0} - ${vmCasesSeconds:-0}))
fi

# --- A Wine environment of this run's own, as the tests make theirs: fresh
# prefix, private display, one persistent wineserver, unmanaged windows.
promptPid=""
cleanup() {
    [ -n "$promptPid" ] && kill "$promptPid" 2>/dev/null
    "$root/tests/wine/wineFixture.sh" stop "$state" >/dev/null 2>&1
    return 0
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

say "preparing Wine in $state"
"$root/tests/wine/wineFixture.sh" start "$state" >"$work/wine.log" 2>&1 ||
    fail "the Wine environment did not start: see $work/wine.log"
. "$state/env"
export WINEDEBUG=-all
# The persistent server of this prefix: the wineserver that carries its WINEPREFIX.
serverPid=$(for dir in /proc/[0-9]*; do
    case $(cat "$dir/comm" 2>/dev/null) in
    wineserver*) grep -qzxF "WINEPREFIX=$WINEPREFIX" "$dir/environ" 2>/dev/null && echo "${dir#/proc/}" ;;
    esac
done | head -n 1)
[ -n "$serverPid" ] || fail "no wineserver runs for $WINEPREFIX: see $state/wineserver.log"
# The first window of a fresh prefix pays for font caches and the like.
wine "$bench/startupClock.exe" --once "$floor" >"$work/firstRun.txt" 2>&1 </dev/null ||
    fail "first run failed: see $work/firstRun.txt"

# --- Start-up time and peak memory, prompt against floor, in pairs.
say "start-up: $pairs pairs"
/usr/bin/time -v -o "$work/pairs.time" \
    wine "$bench/startupClock.exe" --warmup 3 "$pairs" "$floor" "$prompt" \
    >"$work/pairs.txt" 2>"$work/pairs.err" </dev/null ||
    fail "start-up clock failed: see $work/pairs.txt and $work/pairs.err"
pairsWall=$(sed -n 's/^.*Elapsed (wall clock) time.*: //p' "$work/pairs.time")
loadAfterPairs=$(cut -d' ' -f1-3 /proc/loadavg)

# The method's own zero: the floor against itself, the same way. Its spread
# shows how far a ratio can stray on this machine at this time.
say "control: floor against itself, $controlPairs pairs"
wine "$bench/startupClock.exe" --warmup 1 "$controlPairs" "$floor" "$floor" \
    >"$work/control.txt" 2>"$work/control.err" </dev/null ||
    fail "control run failed: see $work/control.txt and $work/control.err"

# --- A postponed prompt: nothing of its own should run while it waits.
clockTicks=$(getconf CLK_TCK)
# utime + stime of a process, in clock ticks (the fields after the name).
cpuTicks() { sed 's/^.*) //' "/proc/$1/stat" | awk '{print $12 + $13}'; }
# Time on the CPU of all threads of a process, in nanoseconds.
cpuNs() { cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{s += $1} END {printf "%.0f\n", s}'; }
# Context switches of all its threads: each wake-up of the process is one.
switches() {
    cat /proc/"$1"/task/*/status 2>/dev/null | awk '/ctxt_switches/ {s += $2} END {print s + 0}'
}
# The other processes of this prefix: explorer, services and the like.
otherWinePids() {
    for dir in /proc/[0-9]*; do
        pid=${dir#/proc/}
        [ "$pid" = "$promptPid" ] || [ "$pid" = "$serverPid" ] && continue
        grep -qzxF "WINEPREFIX=$WINEPREFIX" "$dir/environ" 2>/dev/null &&
            grep -qF .exe "$dir/cmdline" 2>/dev/null && echo "$pid"
    done
    return 0
}
# "pid name ticks" for each of them; ticks, not schedstat, since these
# processes start and end threads and schedstat forgets an ended thread.
otherWineCpu() {
    for pid in $(otherWinePids); do
        ticks=$(cpuTicks "$pid" 2>/dev/null) || continue
        name=$(tr '\0' '\n' <"/proc/$pid/cmdline" 2>/dev/null | head -n1 | sed 's/.*[\\/]//')
        echo "$pid ${name:-?} $ticks"
    done
    return 0
}

say "postponed prompt: ${idleSeconds} s"
# /d 5: five minutes, so no expiry falls in the window.
wine "$prompt" /d 5 >"$work/prompt.log" 2>&1 </dev/null &
promptPid=$!
wine "$bench/promptCommand.exe" 128 >"$work/postpone.txt" 2>&1 </dev/null ||
    fail "postponing the prompt failed: see $work/postpone.txt"
windowsPeakKb=$(sed -n 's/^peak_working_set_kB \([0-9]*\).*/\1/p' "$work/postpone.txt")
kernelPeakKb=$(awk '/^VmHWM:/ {print $2}' "/proc/$promptPid/status")
# Lets the launches of promptCommand settle (its console host ends).
sleep 2
otherWineCpu >"$work/others.before"
set -- $(cpuTicks $promptPid) $(cpuNs $promptPid) $(switches $promptPid) \
    $(cpuTicks $serverPid) $(cpuNs $serverPid)
sleep "$idleSeconds"
set -- "$@" $(cpuTicks $promptPid) $(cpuNs $promptPid) $(switches $promptPid) \
    $(cpuTicks $serverPid) $(cpuNs $serverPid)
otherWineCpu >"$work/others.after"
idlePromptTicks=$(($6 - $1))
idlePromptUs=$((($7 - $2) / 1000))
idlePromptSwitches=$(($8 - $3))
idleServerTicks=$(($9 - $4))
idleServerUs=$(((${10} - $5) / 1000))
# Processes that lived through the whole window, each with its CPU in it.
idleOthers=$(awk -v hz="$clockTicks" 'NR == FNR {before[$1] = $3; next}
    ($1 in before) {printf "%s%s %d ms", sep, $2, ($3 - before[$1]) * 1000 / hz; sep = ", "}' \
    "$work/others.before" "$work/others.after")

# --- The same start-up as whole commands, from outside: each run is a
# fresh wine process of the clock that starts one program once. Not
# interleaved, so only a cross-check of the pairs. The hidden prompt keeps
# Wine's desktop process up, which would otherwise start in every run.
say "hyperfine cross-check"
hyperfine -N --warmup 3 --runs 15 --export-json "$work/hyperfine.json" \
    -n floor "wine $bench/startupClock.exe --once $floor" \
    -n prompt "wine $bench/startupClock.exe --once $prompt" \
    >"$work/hyperfine.txt" 2>&1 </dev/null || fail "hyperfine failed: see $work/hyperfine.txt"

# The prompt's own exit command: it must end normally, with 0.
wine "$bench/promptCommand.exe" 105 >"$work/exit.txt" 2>&1 </dev/null ||
    fail "ending the prompt failed: see $work/exit.txt"
promptExit=0
wait "$promptPid" || promptExit=$?
promptPid=""

# --- Sizes of the shipped exe and of the floor built the same way.
/usr/bin/python3 - "$shipped" "$work/win32/bin/floorDialog.exe" >"$work/sizes.md" <<'PY'
import os, sys
import pefile

def groups(path):
    pe = pefile.PE(path, fast_load=True)
    data = open(path, "rb").read()
    # Names longer than 8 bytes (.debug_info, .eh_frame) are "/offset" into
    # the COFF string table, which follows the symbol table.
    strings = pe.FILE_HEADER.PointerToSymbolTable + pe.FILE_HEADER.NumberOfSymbols * 18
    rows = []
    for s in pe.sections:
        name = s.Name.rstrip(b"\0").decode()
        if name.startswith("/") and pe.FILE_HEADER.PointerToSymbolTable:
            start = strings + int(name[1:])
            name = data[start:data.index(b"\0", start)].decode()
        rows.append((name, s.SizeOfRawData, s.Misc_VirtualSize))
    size = os.path.getsize(path)
    code = sum(r[1] for r in rows if r[0] != ".rsrc" and not r[0].startswith(".debug"))
    codeVirtual = sum(r[2] for r in rows if r[0] != ".rsrc" and not r[0].startswith(".debug"))
    rsrc = sum(r[1] for r in rows if r[0] == ".rsrc")
    debug = sum(r[1] for r in rows if r[0].startswith(".debug"))
    return size, code, codeVirtual, rsrc, debug, size - code - rsrc - debug, rows

prompt, floor = groups(sys.argv[1]), groups(sys.argv[2])
print("| | shipped RestartPrompt.exe (i686) | floor, i686, same build |")
print("|---|---:|---:|")
labels = ["whole file", "code and data: sections other than .rsrc and .debug_* (on disk)",
          "the same, in memory (virtual sizes)", "resources (.rsrc)",
          "debug information (.debug_* sections)", "headers, symbol table and padding"]
for i, label in enumerate(labels):
    print(f"| {label} | {prompt[i]:,} bytes | {floor[i]:,} bytes |")
print()
pe = pefile.PE(sys.argv[1])
byType = {}
for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries if hasattr(pe, "DIRECTORY_ENTRY_RESOURCE") else []:
    label = pefile.RESOURCE_TYPE.get(kind.id, str(kind.name))
    for entry in kind.directory.entries:
        for language in entry.directory.entries:
            byType[label] = byType.get(label, 0) + language.data.struct.Size
print("Resources of the shipped exe by type (bytes of data): " +
      ", ".join(f"{k.replace('RT_', '')} {v:,}" for k, v in sorted(byType.items(), key=lambda kv: -kv[1])) + ".")
print()
print("Sections of the shipped exe (bytes on disk / in memory): " +
      ", ".join(f"{n} {raw:,}/{virt:,}" for n, raw, virt in prompt[6]) + ".")
PY

# --- The report.
field() { # field MEASURE WORD [FILE]: a number from the clock's median line
    sed -n "s/^median $1: .*$2 \([-0-9.]*\).*/\1/p" "${3:-$work/pairs.txt}" | head -n1
}
interval() { # interval MEASURE [FILE]: the 95% interval of its median ratio
    sed -n "s/^median $1: .*95% interval \([-0-9.]*\) to \([-0-9.]*\);.*/\1 to \2/p" "${2:-$work/pairs.txt}" | head -n1
}
hyper() { # hyper NAME KEY: mean or stddev in ms
    /usr/bin/python3 -c 'import json, sys
r = {x["command"]: x for x in json.load(open(sys.argv[1]))["results"]}
print("%.1f" % (r[sys.argv[2]][sys.argv[3]] * 1000))' "$work/hyperfine.json" "$1" "$2"
}
ms() { awk -v us="$1" 'BEGIN {printf "%.1f", us / 1000}'; }
ratio() { # ratio MEASURE FILE: "ratio (interval)", or "-" without the file
    [ -s "$2" ] || { echo "-"; return 0; }
    echo "$(field "$1" 'median ratio' "$2") ($(interval "$1" "$2"))"
}
pairsMeasured=$(sed -n 's/^pairs measured: \([0-9]*\).*/\1/p' "$work/pairs.txt")
pairsFailed=$(sed -n 's/^pairs measured: .*failed: \([0-9]*\).*/\1/p' "$work/pairs.txt")
pairsLeftOut=$(sed -n 's/^pairs measured: .*safety poll): \([0-9]*\).*/\1/p' "$work/pairs.txt")
vmPairsMeasured=$(sed -n 's/^pairs measured: \([0-9]*\).*/\1/p' "$vmPairsFile" 2>/dev/null || true)
vmPairsFailed=$(sed -n 's/^pairs measured: .*failed: \([0-9]*\).*/\1/p' "$vmPairsFile" 2>/dev/null || true)
vmPairsLeftOut=$(sed -n 's/^pairs measured: .*safety poll): \([0-9]*\).*/\1/p' "$vmPairsFile" 2>/dev/null || true)
cpuModel=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n1)
ended=$(date +%s)

{
    echo "# Performance"
    echo
    echo "Generated by \`$command\`; rerun it to refresh this file. Do not edit by hand."
    echo
    echo "- Date: $(date -u '+%Y-%m-%d %H:%M UTC')"
    echo "- Machine: $cpuModel, $(nproc) cores; kernel $(uname -r); $(wine --version 2>/dev/null)"
    echo "- Load average when the run began: $loadBefore; after the wine64 start-up pairs: $loadAfterPairs;"
    echo "  during the test VM's run: ${vmLoad:-not run} (more under the i686 figures)"
    echo "  (other work on the machine is not stopped; under load the time ratios stray, see the control)"
    echo "- Run time of the script: $((ended - started)) s"
    echo
    echo "The program is measured twice. Here, as it runs on this machine: the x86_64 build under"
    echo "wine64 (this kernel cannot run the shipped i686 exe). And the shipped i686 exe itself, inside"
    echo "the test VM (tests/vm): Wine's 32-bit side under qemu's software emulation. The floor is"
    echo "tests/bench/floorDialog: the prompt's dialog template (same style, size, font and four"
    echo "controls) and nothing else, compiled and linked for each architecture with the program's own"
    echo "toolchain file and build type."
    echo
    echo "## Summary"
    echo
    echo "Prompt / floor: the median of the per-pair ratios, with its 95% interval."
    echo
    echo "| Figure | x86_64 build under wine64, here ($pairsMeasured pairs) | shipped i686 exe in the test VM (${vmPairsMeasured:-no} pairs) |"
    echo "|---|---:|---:|"
    for row in "shown_ms:Start to a visible window" "idle_ms:Start to first wait for input" \
        "cpu_ms:CPU time of the process up to then" "peak_working_set_kB:Peak working set" \
        "peak_pagefile_kB:Peak pagefile usage, i.e. private memory"; do
        echo "| ${row#*:} | $(ratio "${row%%:*}" "$work/pairs.txt") | $(ratio "${row%%:*}" "$vmPairsFile") |"
    done
    echo
    echo "Under qemu's software emulation (no KVM on this machine) every instruction of the VM is"
    echo "translated, so its absolute times are many times those of real hardware and follow the load"
    echo "of this machine: they mean little. Prompt and floor pay the same emulation, start by turns"
    echo "and meet the same drift, so their ratio is the figure. Memory is not slowed by emulation; the"
    echo "i686 peaks are those of a 32-bit process."
    echo
    echo "### x86_64 build under wine64, here"
    echo
    echo "| Figure | Floor | Prompt | Prompt / floor | 95% interval of the ratio |"
    echo "|---|---:|---:|---:|---:|"
    echo "| Start to a visible window, median of $pairsMeasured pairs (ms) | $(field shown_ms floor) | $(field shown_ms program) | $(field shown_ms 'median ratio') | $(interval shown_ms) |"
    echo "| Start to first wait for input (ms) | $(field idle_ms floor) | $(field idle_ms program) | $(field idle_ms 'median ratio') | $(interval idle_ms) |"
    echo "| CPU time of the process up to then (ms) | $(field cpu_ms floor) | $(field cpu_ms program) | $(field cpu_ms 'median ratio') | $(interval cpu_ms) |"
    echo "| Peak working set (kB) | $(field peak_working_set_kB floor) | $(field peak_working_set_kB program) | $(field peak_working_set_kB 'median ratio') | $(interval peak_working_set_kB) |"
    echo "| Peak pagefile usage, i.e. private memory (kB) | $(field peak_pagefile_kB floor) | $(field peak_pagefile_kB program) | $(field peak_pagefile_kB 'median ratio') | $(interval peak_pagefile_kB) |"
    echo
    echo "Control, the floor against itself in $controlPairs pairs right after: time ratio $(field shown_ms 'median ratio' "$work/control.txt")"
    echo "($(interval shown_ms "$work/control.txt")), CPU ratio $(field cpu_ms 'median ratio' "$work/control.txt") ($(interval cpu_ms "$work/control.txt")),"
    echo "peak working set ratio $(field peak_working_set_kB 'median ratio' "$work/control.txt")."
    echo
    echo "Ratios are medians of the per-pair ratios; the median per-pair difference (prompt − floor)"
    echo "is $(field shown_ms 'median difference') ms to the window, $(field cpu_ms 'median difference') ms of CPU and $(field peak_working_set_kB 'median difference') kB of peak working set."
    echo
    echo "Postponed prompt, $idleSeconds s (started with \`/d 5\`, then WM_COMMAND 128):"
    echo
    echo "| Process | CPU (utime+stime) | CPU on the scheduler's clock | Wake-ups |"
    echo "|---|---:|---:|---:|"
    echo "| the prompt | $idlePromptTicks ticks of 1/$clockTicks s | $(ms $idlePromptUs) ms | $idlePromptSwitches |"
    echo "| wineserver, for context | $idleServerTicks ticks | $(ms $idleServerUs) ms | |"
    echo
    echo "The prefix's other Wine processes over the same window (utime+stime): ${idleOthers:-none}."
    echo
    echo "The prompt then ended through its own exit command with exit code $promptExit."
    echo
    echo "### Shipped i686 exe in the test VM"
    echo
    if [ "$vmPairs" -gt 0 ]; then
        vm=$vmPairsFile
        echo "Absolute times are those of the emulated machine; only the ratios carry over."
        echo
        echo "| Figure | Floor | Prompt | Prompt / floor | 95% interval of the ratio |"
        echo "|---|---:|---:|---:|---:|"
        echo "| Start to a visible window, median of $vmPairsMeasured pairs (emulated ms) | $(field shown_ms floor "$vm") | $(field shown_ms program "$vm") | $(field shown_ms 'median ratio' "$vm") | $(interval shown_ms "$vm") |"
        echo "| Start to first wait for input (emulated ms) | $(field idle_ms floor "$vm") | $(field idle_ms program "$vm") | $(field idle_ms 'median ratio' "$vm") | $(interval idle_ms "$vm") |"
        echo "| CPU time of the process up to then (emulated ms) | $(field cpu_ms floor "$vm") | $(field cpu_ms program "$vm") | $(field cpu_ms 'median ratio' "$vm") | $(interval cpu_ms "$vm") |"
        echo "| Peak working set (kB) | $(field peak_working_set_kB floor "$vm") | $(field peak_working_set_kB program "$vm") | $(field peak_working_set_kB 'median ratio' "$vm") | $(interval peak_working_set_kB "$vm") |"
        echo "| Peak pagefile usage, i.e. private memory (kB) | $(field peak_pagefile_kB floor "$vm") | $(field peak_pagefile_kB program "$vm") | $(field peak_pagefile_kB 'median ratio' "$vm") | $(interval peak_pagefile_kB "$vm") |"
        echo
        if [ -s "$vmControlFile" ]; then
            echo "Control, the floor against itself in $vmControlPairs pairs right after: time ratio $(field shown_ms 'median ratio' "$vmControlFile")"
            echo "($(interval shown_ms "$vmControlFile")), CPU ratio $(field cpu_ms 'median ratio' "$vmControlFile") ($(interval cpu_ms "$vmControlFile")),"
            echo "peak working set ratio $(field peak_working_set_kB 'median ratio' "$vmControlFile")."
            echo
        fi
        echo "Median per-pair difference (prompt − floor): $(field peak_working_set_kB 'median difference' "$vm") kB of peak working set,"
        echo "$(field peak_pagefile_kB 'median difference' "$vm") kB of private memory. Pairs failed: ${vmPairsFailed:-?}; left out because a window was"
        echo "found only by the 20 ms safety poll: ${vmPairsLeftOut:-?}."
        echo
        echo "Cost of this part: $vmSeconds s, in which the VM ran ${vmRanSeconds:-?} s: boot and power-off $vmBootSeconds s, the start of"
        echo "Wine's session ${vmSessionSeconds:-?} s, the benchmark ${vmCasesSeconds:-?} s (the session's first window ${vmFirstSeconds:-?} s, the $vmPairs pairs after 3 warm-up"
        echo "pairs ${vmPairsSeconds:-?} s, i.e. $(awk -v s="${vmPairsSeconds:-0}" -v n=$((vmPairs + 3)) 'BEGIN {printf "%.1f", s / n}') s a pair, the control ${vmControlSeconds:-?} s)."
        echo "In the VM: $(sed -n 's/^wine: //p' "$vmWork/run/out/vm.txt"),"
        echo "$(sed -n 's/^cpus: //p' "$vmWork/run/out/vm.txt") emulated CPUs. Load average of this machine (1 min) when the VM started: ${vmLoadBefore%% *};"
        echo "sampled every 10 s while it ran: $vmLoad (the VM's own two CPU threads count in it); after: ${vmLoadAfter%% *}."
    else
        echo "Not measured in this run (VM_PAIRS 0)."
    fi
    echo
    echo "### Sizes"
    echo
    cat "$work/sizes.md"
    echo
    echo "The two icon groups share one set of eight RT_ICON images (scripts/iconResources.py); with"
    echo "windres's ICON statement each group had its own copy: the shipped exe was 71,680 bytes then,"
    echo "ICON data 46,848 bytes, and 47,616 bytes after the change (24,064 bytes less)."
    echo
    echo "## Method"
    echo
    echo "- tests/bench/startupClock.exe starts floor and prompt in alternating order (floor first in odd"
    echo "  pairs, prompt first in even ones) after 3 warm-up pairs, each with CreateProcessW, and measures"
    echo "  from just before that call to the first moment a top-level window of the new process is visible."
    echo "  Wine 8 raises EVENT_OBJECT_CREATE across processes but not EVENT_OBJECT_SHOW, so the clock learns"
    echo "  the new top-level windows from the creation event and asks only those every 1 ms whether they are"
    echo "  visible. Then it waits for the first wait for input (WaitForInputIdle), reads the memory counters"
    echo "  (GetProcessMemoryInfo on the child's handle) and the CPU time (the kernel's"
    echo "  /proc/PID/task/*/schedstat through Wine's Z: drive), and posts WM_QUIT to the child's thread,"
    echo "  which then ends normally."
    echo "- Under Wine, PeakWorkingSetSize of another process is the kernel's VmHWM and PeakPagefileUsage its"
    echo "  resident anonymous memory; checked in this run on the postponed prompt: GetProcessMemoryInfo"
    echo "  ${windowsPeakKb:-?} kB, /proc VmHWM $kernelPeakKb kB. Wine's GetProcessTimes on another process answers"
    echo "  with the caller's own times, hence the kernel's figures."
    echo "- The postponed prompt's figures are /proc/PID/stat, /proc/PID/task/*/schedstat and the context"
    echo "  switches in /proc/PID/task/*/status, read 2 s after the postpone and again $idleSeconds s later."
    echo "- Wall time of the pairs run: $pairsWall (GNU time); pairs failed: ${pairsFailed:-?}; left out because"
    echo "  a window was found only by the 20 ms safety poll (its time may be late): ${pairsLeftOut:-?}."
    echo "- In the test VM (qemu without KVM, 2 emulated CPUs, 4 GB; tests/vm/runInVm.sh runs"
    echo "  tests/bench/vm/cases.sh there) the i686 builds of the same clock and floor measure the shipped"
    echo "  exe the same way, after one first window of the session and 3 warm-up pairs; the CPU time"
    echo "  there is the guest kernel's. The floor against itself follows as the control."
    echo
    echo "## Cross-check from outside (hyperfine)"
    echo
    echo "Each run is a whole \`wine startupClock.exe --once X\`: Wine's start of the clock itself plus one"
    echo "start of X to its visible window and its exit; the runs are not interleaved. Mean ± σ of 15 runs:"
    echo "floor $(hyper floor mean) ± $(hyper floor stddev) ms, prompt $(hyper prompt mean) ± $(hyper prompt stddev) ms."
    echo
    echo "## Every pair"
    echo
    echo '```'
    cat "$work/pairs.txt"
    echo '```'
    echo
    echo "Control:"
    echo
    echo '```'
    grep '^median' "$work/control.txt"
    echo '```'
    if [ -s "$vmPairsFile" ]; then
        echo
        echo "In the test VM (times in emulated ms):"
        echo
        echo '```'
        cat "$vmPairsFile"
        echo '```'
        echo
        echo "Control in the test VM:"
        echo
        echo '```'
        grep '^median' "$vmControlFile" 2>/dev/null || echo "(none)"
        echo '```'
    fi
} >"$report"

say "wrote $report in $((ended - started)) s"
cat "$report" | sed -n '/^## Summary/,/^## Method/p' >&2
