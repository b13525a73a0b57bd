#!/bin/sh
# Runs `program crash` on the X server in $DISPLAY, waits for the exception
# dialog (found by its caption through the server), answers it with Escape
# and prints the program's status.
#   drive.sh <program> <output file>
program=$1 output=$2
"$program" crash >"$output" 2>&1 &
pid=$!
dialog=$(timeout 60 xdotool search --sync --onlyvisible --name '^Error\.$' 2>/dev/null | head -n 1)
if [ -z "$dialog" ]; then
    echo "no exception dialog appeared"
    xwininfo -root -tree
    kill "$pid"
    wait "$pid"
    exit 1
fi
echo "dialog: $dialog"
xwininfo -root -tree | grep -F '"Error."'
xdotool key --window "$dialog" Escape
wait "$pid"
echo "status: $?"
