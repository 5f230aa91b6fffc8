#!/usr/bin/env bash
# Whether this machine runs 32-bit programs, the one probe every script and the test configuration
# ask: starts Wine's 32-bit loader once. Exit code 0 and no output when it does; exit code 1 and
# the reason in one line when it does not (a kernel without 32-bit support answers "Exec format
# error"). QARN_NO_X86=1 makes it answer "no" on any machine, so that the path of machines without
# 32-bit support can be run where 32-bit programs do work.
set -uo pipefail
if [ "${QARN_NO_X86:-0}" = 1 ]; then
    echo "QARN_NO_X86=1 asks to act as a machine that cannot run 32-bit programs"
    exit 1
fi
loader=/usr/lib/wine/wine
if [ ! -e "$loader" ]; then
    echo "Wine's 32-bit loader (wine32:i386, $loader) is not installed"
    exit 1
fi
out=$("$loader" --version 2>&1 </dev/null) && exit 0
if grep -qi 'exec format error' <<<"$out"; then
    echo "this kernel cannot run 32-bit programs (ia32_emulation is off)"
else
    echo "Wine's 32-bit loader does not start: $(head -n 1 <<<"$out")"
fi
exit 1
