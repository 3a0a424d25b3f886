#!/bin/sh
# Photographs the run page a few seconds into a program against the virtual
# supply: docs/run.png. Needs xvfb and imagemagick; run from the source folder
# after building the runshot target in build/.
set -e
out=${1:-docs/run.png}
xvfb-run -a -s "-screen 0 350x480x24" sh -c "
    build/tools/runshot/runshot 16 >/dev/null &
    sleep 14
    import -window root '$out'
    wait"
echo "wrote $out"
