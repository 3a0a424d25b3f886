#!/bin/sh
# Photographs the chart page after a minute of operation against the virtual
# supply: docs/chart.png. Needs xvfb and imagemagick; run from the source
# folder after building the chartshot target in build/.
set -e
out=${1:-docs/chart.png}
xvfb-run -a -s "-screen 0 350x480x24" sh -c "
    build/tools/chartshot/chartshot 66 >/dev/null &
    sleep 63
    import -window root '$out'
    wait"
echo "wrote $out"
