#!/bin/sh
# Drives the GTK program on the X server in $DISPLAY as a user would: Alt+C
# (the handler faults: the exception dialog appears, a picture of the screen
# is taken, Return answers it), Alt+P (the window still answers: "pong"),
# Alt+F (the main loop blocks: the freeze dialog appears, Return answers it),
# Alt+P again, then Alt+Q ends it. Prints what it saw.
#   drive.sh <program> <output file> <picture file>
program=$1 output=$2 picture=$3
"$program" >"$output" 2>&1 &
pid=$!
fail() {
    echo "$1"
    xwininfo -root -tree
    kill "$pid" 2>/dev/null
    wait "$pid"
    exit 1
}
wait_output() {  # text -> waits up to 10 s for it in the output
    for _ in $(seq 100); do grep -q "$1" "$output" && return 0; sleep 0.1; done
    return 1
}
window=$(timeout 30 xdotool search --sync --onlyvisible --name '^GTK program$' 2>/dev/null | head -n 1)
[ -n "$window" ] || fail "no GTK window"
wait_output "window: shown" || fail "the window was never mapped"
press() {  # keys -> typed into the GTK window through the X server
    xdotool windowfocus --sync "$window" 2>/dev/null
    xdotool key --delay 50 "$1"
}
answer_dialog() {  # what -> waits for the dialog captioned "Error.", answers it with Return
    dialog=$(timeout 30 xdotool search --sync --onlyvisible --name '^Error\.$' 2>/dev/null | head -n 1)
    [ -n "$dialog" ] || fail "no dialog for $1"
    echo "dialog for $1: $dialog"
    sleep 0.6 # input of the dialog's first moments is dropped
    [ -z "$picture" ] || { import -window root "$picture"; picture=; }
    # A real key press to the focused dialog: a sent event carries no
    # server time, and a dialog drops input older than its own mapping.
    xdotool windowfocus --sync "$dialog" 2>/dev/null
    xdotool key Return
    for _ in $(seq 100); do
        xdotool search --onlyvisible --name '^Error\.$' >/dev/null 2>&1 || return 0
        sleep 0.1
    done
    fail "the dialog for $1 stayed"
}
press alt+c
answer_dialog "the fault"
press alt+p
wait_output "pong" || fail "no answer after the fault"
echo "answered after the fault"
press alt+f
answer_dialog "the freeze"
sleep 3
press alt+p
[ "$(grep -c pong "$output")" -ge 2 ] || sleep 2
[ "$(grep -c pong "$output")" -ge 2 ] || fail "no answer after the freeze"
echo "answered after the freeze"
press alt+q
for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$pid" 2>/dev/null && fail "the program did not end on Quit"
wait "$pid"
echo "status: $?"
