#!/bin/sh
# Cases on the shipped 32-bit RestartPrompt.exe, run inside the test VM where
# Wine runs it as a 32-bit process (WoW64). promptTool.exe works it from
# outside as another program would. Prints PASS/FAIL per check; exit 0 when
# every check passed.
cd "$VM_PAYLOAD" || exit 1
out=$VM_OUT
prompt=$(winepath -w "$VM_PAYLOAD/RestartPrompt.exe" 2>/dev/null)
passed=0
failed=0
REQUEST='InitiateSystemShutdownExW (null) L"The system is restarting to apply upates." 0 1 1 0x80020003'

check() { # check NAME COMMAND...
    name=$1
    shift
    if "$@"; then
        passed=$((passed + 1))
        echo "PASS $case: $name"
    else
        failed=$((failed + 1))
        echo "FAIL $case: $name"
    fi
}

# One call of the tool; its last JSON line goes to $out/answer. Output to
# files: Wine's services keep inherited pipes open.
tool() {
    wine ./promptTool.exe "$@" >"$out/tool.out" 2>/dev/null </dev/null
    grep '^{' "$out/tool.out" | tail -n 1 >"$out/answer"
}
not() { ! "$@"; }
answerHas() { grep -qF -- "$1" "$out/answer"; }

# start CASE ARGS: starts the prompt with the advapi channel (restart
# requests) and, with RELAY=1, the relay trace of the registry opens.
start() {
    case=$1
    debug=-all,fixme+advapi
    [ "${RELAY:-0}" = 1 ] && debug=$debug,+relay
    hex=$(printf '%s' "$2" | od -An -tx1 | tr -d ' \n')
    WINEDEBUG=$debug wine ./promptTool.exe start --show 1 --args-hex "$hex" --wait 600000 "$prompt" \
        >"$out/$case.start" 2>"$out/$case.trace" </dev/null &
    i=0
    while ! grep -q '"pid"' "$out/$case.start" 2>/dev/null && [ $i -lt 300 ]; do sleep 0.2; i=$((i + 1)); done
    pid=$(grep -o '"pid":[0-9]*' "$out/$case.start" | head -n 1 | cut -d: -f2)
}

# waitState FIELD_TEXT [SECONDS]: polls the prompt's state until it holds FIELD_TEXT.
waitState() {
    limit=$((${2:-30} * 5))
    i=0
    while [ $i -lt "$limit" ]; do
        tool state "$pid"
        answerHas "$1" && return 0
        sleep 0.2
        i=$((i + 1))
    done
    echo "  last state: $(cat "$out/answer")"
    return 1
}

# exitCode: the prompt's exit code as the start call reports it, within 30 s.
exitedWith() {
    i=0
    while [ $i -lt 150 ]; do
        grep -q "\"exitCode\":$1[,}]" "$out/$case.start" && return 0
        sleep 0.2
        i=$((i + 1))
    done
    echo "  start call: $(cat "$out/$case.start")"
    return 1
}

requests() { grep -c 'InitiateSystemShutdownExW' "$out/$case.trace"; }
exactRequests() { grep -cF "$REQUEST" "$out/$case.trace"; }
oneExactRequest() { [ "$(requests)" -eq 1 ] && [ "$(exactRequests)" -eq 1 ]; }
# With the relay trace on: whether the program created its dialog at all.
dialogCreated() { grep -q 'Call user32.CreateDialogParamW' "$out/$case.trace"; }
stillShown() { sleep "$1"; tool state "$pid"; answerHas '"visible":true'; }

setGroup() { # setGroup VIEW [VALUE]: the key in one registry view, with or without the value
    if [ $# -eq 2 ]; then
        wine reg add 'HKLM\SOFTWARE\Quenlor' /reg:"$1" /v PatchingGroup /d "$2" /f >/dev/null 2>&1
    else
        wine reg add 'HKLM\SOFTWARE\Quenlor' /reg:"$1" /f >/dev/null 2>&1
    fi
}
clearGroup() {
    wine reg delete 'HKLM\SOFTWARE\Quenlor' /reg:32 /f >/dev/null 2>&1
    wine reg delete 'HKLM\SOFTWARE\Quenlor' /reg:64 /f >/dev/null 2>&1
}
# The access masks of the program's opens of the key, in order.
opens() {
    grep 'RegOpenKeyExA(80000002,.*Quenlor' "$out/$case.trace" | sed 's/.*Quenlor",[0-9a-f]*,\([0-9a-f]*\),.*/\1/' | tr '\n' ' '
}

check "the exe is PE32 (i386)" sh -c 'file RestartPrompt.exe | grep -q "PE32 executable.*Intel 80386"'

# English texts at the first show, then the worked run with /d 1s.
start workedRun "/d 1s"
check "shown with the English texts" waitState '"postponeLabel":"Restart Later","restartLabel":"Restart Now"'
check "English message and caption" sh -c "grep -qF '\"message\":\"The installation has finished.' '$out/answer' && grep -qF '\"caption\":\"Quenlor Software\"' '$out/answer'"
check "not the foreground window" answerHas '"foreground":false'
# Sends are synchronous: the prompt is hidden when the call returns, so the
# next visible state is a return, however slow the emulated calls are.
tool send "$pid" command 128
check "postpone 1" answerHas '"sent":true'
check "return 1, button enabled" waitState '"visible":true,"postponeEnabled":true'
tool send "$pid" command 128
check "postpone 2" answerHas '"sent":true'
check "return 2, button enabled" waitState '"visible":true,"postponeEnabled":true'
tool send "$pid" close
check "a close request at count 3 postpones" answerHas '"sent":true'
check "return 3, button disabled" waitState '"visible":true,"postponeEnabled":false'
tool send "$pid" close
check "a close request past the limit is ignored" stillShown 2
tool send "$pid" command 1002
check "Restart Now ends with 0" exitedWith 0
check "exactly one restart request, exact arguments" oneExactRequest

# Language switching, then command 105.
start languages ""
waitState '"visible":true' >/dev/null
tool send "$pid" select 1
check "French" waitState '"postponeLabel":"Diff\u00e9rer","restartLabel":"Red\u00e9marrer Maintenant"'
tool send "$pid" select 2
check "German" waitState '"postponeLabel":"Neuladen Sp\u00e4ter","restartLabel":"Neuladen Jetzt"'
tool send "$pid" select 0
check "English again" waitState '"postponeLabel":"Restart Later"'
tool send "$pid" command 105
check "command 105 ends with 0" exitedWith 0
check "command 105 requests no restart" [ "$(requests)" -eq 0 ]

# The kiosk gate as a 32-bit process sees the registry views.
wine reg add 'HKCU\Software\Wine\Debug' /v RelayInclude /d 'advapi32.RegOpenKeyExA;user32.CreateDialogParamW' /f >/dev/null 2>&1

clearGroup
setGroup 64 Tavrin_Kiosk
RELAY=1 start kiosk64 ""
check "kiosk value only in the 64-bit view: exit 0" exitedWith 0
check "no dialog created" not dialogCreated
check "opens with 0x20019, then 0x20119" [ "$(opens)" = "00020019 00020119 " ]
echo "  opens: $(opens)"

clearGroup
setGroup 32
setGroup 64 Tavrin_Kiosk
RELAY=1 start keyWithoutValue ""
check "32-bit key without the value hides the 64-bit kiosk value" waitState '"visible":true'
check "one open, 0x20019" [ "$(opens)" = "00020019 " ]
check "the trace shows the dialog's creation" dialogCreated
tool send "$pid" command 105
exitedWith 0 >/dev/null

clearGroup
setGroup 32 tAVRIN_kIOSK_lobby
RELAY=1 start kiosk32 "/d 1s"
check "kiosk value in the 32-bit view: exit 0" exitedWith 0
check "one open, 0x20019" [ "$(opens)" = "00020019 " ]
check "no dialog created" not dialogCreated
clearGroup
wine reg delete 'HKCU\Software\Wine\Debug' /v RelayInclude /f >/dev/null 2>&1

echo "shipped exe: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
