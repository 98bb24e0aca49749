#!/bin/sh
# Starts or stops the Wine environment that one test run shares:
#   wineFixture.sh start|stop STATE_DIR
# start: a private Xvfb display, a fresh prefix in STATE_DIR/prefix, one
# persistent wineserver (so each wine call does not pay for the server and its
# services again), and STATE_DIR/env for runInWine.sh to source.
set -u
cmd=$1
state=$2

stopAll() {
    if [ -f "$state/env" ]; then
        . "$state/env"
        wineserver -k >/dev/null 2>&1
        [ -f "$state/xvfb.pid" ] && kill "$(cat "$state/xvfb.pid")" 2>/dev/null
        rm -f "$state/env" "$state/xvfb.pid"
    fi
}

case $cmd in
start)
    mkdir -p "$state"
    stopAll
    rm -rf "$state/prefix"

    # -displayfd picks a free display and tells us which once it is ready.
    : >"$state/display"
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$state/display" \
        >"$state/xvfb.log" 2>&1 &
    echo $! >"$state/xvfb.pid"
    i=0
    while [ ! -s "$state/display" ] && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
    [ -s "$state/display" ] || { echo "Xvfb did not start" >&2; cat "$state/xvfb.log" >&2; exit 1; }

    cat >"$state/env" <<ENV
export WINEPREFIX='$state/prefix'
export DISPLAY=':$(head -n1 "$state/display")'
export WINEDLLOVERRIDES='mscoree,mshtml='
export WINEARCH=win64
: "\${WINEDEBUG:=-all}"
export WINEDEBUG
ENV
    . "$state/env"
    # The server changes into the prefix at start: it must exist first.
    mkdir -p "$WINEPREFIX"
    # Output to files: Wine's services outlive this call and keep inherited
    # descriptors open, and CTest waits for every holder of its pipe.
    wineserver -p >"$state/wineserver.log" 2>&1 </dev/null
    wine wineboot -i >"$state/wineboot.log" 2>&1 </dev/null
    # Without a window manager Wine waits ~2 s at every hide unless unmanaged.
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f \
        >"$state/reg.log" 2>&1 </dev/null
    echo "wine ready: WINEPREFIX=$WINEPREFIX DISPLAY=$DISPLAY"
    ;;
stop)
    stopAll
    echo "wine stopped"
    ;;
*)
    echo "usage: $0 start|stop STATE_DIR" >&2
    exit 2
    ;;
esac
