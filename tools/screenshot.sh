#!/bin/sh
# Photographs the window for the README under Xvfb: chart (the chart's window
# after a minute of operation), run (the run's window a few seconds into a
# program), window and window-en (the Russian and the English window's first
# page in constant current, 12 V, 1 A into 10 ohms). Needs xvfb and
# imagemagick; run from the source folder after building the chartshot and
# runshot targets in build/.
set -e
case ${1:-} in
chart)     screen=640x400; wait=63; shot="build/tools/chartshot/chartshot 66" ;;
run)       screen=340x470; wait=14; shot="build/tools/runshot/runshot 16" ;;
window)    screen=340x470; wait=16; shot="build/tools/chartshot/chartshot 18 --page 0 --lang ru" ;;
window-en) screen=340x470; wait=16; shot="build/tools/chartshot/chartshot 18 --page 0 --lang en" ;;
*) echo "usage: tools/screenshot.sh chart|run|window|window-en [OUT.png]" >&2; exit 2 ;;
esac
out=${2:-docs/$1.png}
xvfb-run -a -s "-screen 0 ${screen}x24" sh -c "
    $shot >/dev/null &
    sleep $wait
    import -window root '$out'
    wait"
echo "wrote $out"
