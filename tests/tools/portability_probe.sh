#!/usr/bin/env bash
# The portability check must fail on POSIX code outside a _posix file and pass
# the same kind of code inside one: probe sources in a scratch tree are checked
# with the real build's flags.
set -uo pipefail
check=$1 build=$2
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
mkdir -p "$tree/link" "$tree/console"

# MinGW-w64 has a <unistd.h> of its own: only the check's stand-in stops it.
printf '#include <unistd.h>\nint probe() { return ::close(0); }\n' >"$tree/link/probe_unistd.cpp"
printf '#include <QFile>\nint probe(QFile &f) { return ::fsync(f.handle()); }\n' >"$tree/link/probe_fsync.cpp"
printf '#include <sys/signalfd.h>\n' >"$tree/console/probe_signalfd.cpp"
printf '#include <pthread.h>\nint probe() { return pthread_self() != 0; }\n' >"$tree/console/probe_pthread.cpp"
# The same calls in files named as the POSIX side are not compiled for Windows.
cp "$tree/link/probe_unistd.cpp" "$tree/link/probe_posix.cpp"
# A portable file with Qt and the project's own headers passes.
printf '#include "devicelink.h"\n#include <QSerialPort>\nint probe() { return DeviceLink::CrcOver("1"); }\n' \
    >"$tree/link/probe_portable.cpp"

out=$("$check" "$build" "$tree" 2>&1)
status=$?
echo "$out"
fail=0
[ "$status" -eq 1 ] || { echo "expected exit status 1, got $status"; fail=1; }
for probe in link/probe_unistd.cpp link/probe_fsync.cpp console/probe_signalfd.cpp console/probe_pthread.cpp; do
    grep -qx "FAIL $probe" <<<"$out" || { echo "not failed: $probe"; fail=1; }
done
grep -qx "ok   link/probe_portable.cpp" <<<"$out" || { echo "portable probe not passed"; fail=1; }
grep -q "probe_posix" <<<"$out" && { echo "the _posix file was checked"; fail=1; }
grep -qx "portability check: 5 sources for Windows, 4 failed" <<<"$out" || { echo "wrong count"; fail=1; }
exit $fail
