#!/bin/sh
# Photographs the English window's first page with the supply in constant
# current (12 V, 1 A into 10 ohms): docs/window-en.png. Needs xvfb and
# imagemagick; run from the source folder after building the chartshot target
# in build/.
set -e
out=${1:-docs/window-en.png}
xvfb-run -a -s "-screen 0 340x470x24" sh -c "
    build/tools/chartshot/chartshot 18 --page 0 --lang en >/dev/null &
    sleep 16
    import -window root '$out'
    wait"
echo "wrote $out"
