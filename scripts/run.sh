#!/bin/sh
# Builds the program and shows the prompt under Wine:
#   scripts/run.sh [options for the prompt, e.g. /d 1s /r 2]
# On your display when DISPLAY is set (the prompt runs until you answer it);
# else on a private Xvfb, where a screenshot is written and the prompt ended.
# The 64-bit build is run: this machine's kernel cannot run the 32-bit one.
set -u
cd "$(dirname "$0")/.."
root=$(pwd)
./scripts/setup.sh || exit 1
for preset in win32 win64; do
    cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset" -j2 >/dev/null \
        || { echo "build $preset failed" >&2; exit 1; }
done
exe=$root/build/win64/bin/RestartPrompt.exe
echo "built: build/win32/bin/RestartPrompt.exe (shipped, 32-bit), build/win64/bin/RestartPrompt.exe"

state=$root/build/run
mkdir -p "$state"
export WINEPREFIX=$state/prefix WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES='mscoree,mshtml='
private=
if [ -z "${DISPLAY:-}" ]; then
    : >"$state/display"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$state/display" >"$state/xvfb.log" 2>&1 &
    xvfb=$!
    while [ ! -s "$state/display" ]; do sleep 0.1; done
    export DISPLAY=":$(head -n1 "$state/display")"
    private=yes
fi
if [ ! -d "$WINEPREFIX" ]; then
    echo "creating the Wine prefix in $WINEPREFIX (about 15 s)"
    wine wineboot -i >"$state/wineboot.log" 2>&1 </dev/null
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 </dev/null
fi

if [ -z "$private" ]; then
    echo "showing the prompt on $DISPLAY; it ends when you press Restart Now"
    wine "$exe" "$@" >"$state/prompt.log" 2>&1 </dev/null
    echo "exit code: $?"
    exit 0
fi

wine "$exe" "$@" >"$state/prompt.log" 2>&1 </dev/null &
i=0
while ! xdotool search --onlyvisible --name '^Quenlor Software$' >/dev/null 2>&1 && [ $i -lt 300 ]; do
    sleep 0.1; i=$((i + 1))
done
sleep 0.5
/usr/bin/import -window root "$state/prompt.png"
echo "no display: the prompt was shown on a private Xvfb; screenshot: $state/prompt.png"
wineserver -k >/dev/null 2>&1
kill "$xvfb" 2>/dev/null
