#!/bin/sh
# Runs a command with one private Xvfb display and stops the server afterwards.
# Usage: with-xvfb.sh COMMAND [ARG...]; GLIMMERLY_XVFB_SCREEN sets the screen (1280x1024x24).
set -u
n=90
while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
Xvfb ":$n" -screen 0 "${GLIMMERLY_XVFB_SCREEN:-1280x1024x24}" -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
i=0
while [ ! -e "/tmp/.X11-unix/X$n" ]; do
    i=$((i + 1))
    if [ $i -gt 100 ] || ! kill -0 $xvfb_pid 2>/dev/null; then
        echo "with-xvfb: Xvfb :$n did not start" >&2
        exit 1
    fi
    sleep 0.1
done
export DISPLAY=":$n"
"$@"
rc=$?
kill $xvfb_pid 2>/dev/null
wait $xvfb_pid 2>/dev/null
exit $rc
