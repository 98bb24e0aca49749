#!/bin/sh
# Cases on a signed release exe under Wine: Wine's own WinVerifyTrust judges
# it and an altered copy, and the signed exe shows the prompt and ends with 0.
#   signedCases.sh DIR OUT_DIR     (in the test VM: cases.sh, with $VM_PAYLOAD and $VM_OUT)
# DIR holds RestartPrompt.exe (signed), RestartPrompt-altered.exe (one byte
# changed), RestartPrompt-unsigned.exe, promptTool.exe, trustTool.exe and
# ca.der (the root of the test PKI). Wine must be set up (WINEPREFIX, DISPLAY,
# a running wineserver). Prints PASS/FAIL per check; exit 0 when all passed.
dir=${VM_PAYLOAD:-$1}
out=${VM_OUT:-$2}
cd "$dir" || exit 1
mkdir -p "$out"
export WINEDEBUG=-all
passed=0
failed=0

check() { # check NAME COMMAND...
    name=$1
    shift
    if "$@"; then
        passed=$((passed + 1))
        echo "PASS $name"
    else
        failed=$((failed + 1))
        echo "FAIL $name"
    fi
}

# Output to files: Wine's services keep inherited pipes open.
trust() { # trust ARGS...: trustTool's line goes to $out/trust.txt
    wine ./trustTool.exe "$@" >"$out/trust.out" 2>&1 </dev/null
    rc=$?
    grep -E '^(add-root|verify):' "$out/trust.out" >"$out/trust.txt"
    echo "  trustTool $*: $(cat "$out/trust.txt")"
    return $rc
}
said() { grep -qF "$1" "$out/trust.txt"; }

# Wine 8's SoftpubAuthenticode reads the signer certificate's signature hash
# into a 20-byte buffer; a certificate signed with SHA-256 has a 32-byte one,
# the read fails and the chain policy is skipped with no error: Wine accepts
# such a chain whatever its root (with SHA-1-signed certificates it refuses an
# untrusted root). It does check the image digest and the signature itself.
check "the test root is added to the machine's Root store" trust add-root ca.der
check "WinVerifyTrust accepts the signed exe" trust verify RestartPrompt.exe
refused() { # refused FILE CODE: WinVerifyTrust says no, with CODE
    ! trust verify "$1" && said "$2"
}
check "WinVerifyTrust refuses the altered exe: TRUST_E_BAD_DIGEST" refused RestartPrompt-altered.exe 0x80096010
check "WinVerifyTrust finds no signature on the unsigned exe: TRUST_E_NOSIGNATURE" \
    refused RestartPrompt-unsigned.exe 0x800B0100

# The signed exe runs: shown, then ended from outside with command 105.
wine ./promptTool.exe start --show 1 --wait 120000 "$(winepath -w "$dir/RestartPrompt.exe" 2>/dev/null)" \
    >"$out/start.txt" 2>/dev/null </dev/null &
i=0
while ! grep -q '"pid"' "$out/start.txt" 2>/dev/null && [ $i -lt 300 ]; do sleep 0.2; i=$((i + 1)); done
pid=$(grep -o '"pid":[0-9]*' "$out/start.txt" | head -n 1 | cut -d: -f2)
shown() {
    i=0
    while [ $i -lt 150 ]; do
        wine ./promptTool.exe state "$pid" >"$out/state.txt" 2>/dev/null </dev/null
        grep -q '"visible":true' "$out/state.txt" && return 0
        sleep 0.2
        i=$((i + 1))
    done
    echo "  last state: $(grep '^{' "$out/state.txt")"
    return 1
}
exitedWith() {
    i=0
    while [ $i -lt 150 ]; do
        grep -q "\"exitCode\":$1[,}]" "$out/start.txt" && return 0
        sleep 0.2
        i=$((i + 1))
    done
    echo "  start call: $(cat "$out/start.txt")"
    return 1
}
check "the signed exe shows the prompt" shown
wine ./promptTool.exe send "$pid" command 105 >"$out/send.txt" 2>/dev/null </dev/null
check "command 105 ends the signed exe with 0" exitedWith 0
wait

echo "signed exe under Wine: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
