#!/usr/bin/env bash
# Our DLLs carry their runtimes statically: they may import system DLLs only.
set -euo pipefail
allowed='^(KERNEL32|USER32|GDI32|ADVAPI32|OLE32|OLEAUT32|SHELL32|SHLWAPI|WS2_32|IPHLPAPI|DNSAPI|VERSION|COMCTL32|MSVCRT|UCRTBASE|RPCRT4|API-MS-WIN-.*)\.DLL$'
status=0
for dir in "$@"; do
    for dll in "$dir"/*.dll; do
        [ -f "$dll" ] || continue
        while read -r name; do
            upper=$(echo "$name" | tr '[:lower:]' '[:upper:]')
            if ! [[ "$upper" =~ $allowed ]]; then
                echo "$(basename "$dll") imports $name, which is not a system DLL"
                status=1
            fi
        done < <(x86_64-w64-mingw32-objdump -p "$dll" | sed -n 's/^\s*DLL Name: //p')
    done
done
[ $status -eq 0 ] && echo "imports: system DLLs only"
exit $status
