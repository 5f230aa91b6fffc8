#!/usr/bin/env bash
# Runs every benchmark of bench/ under Wine in one go and writes docs/dev/performance.md from their
# output: the machine, then per benchmark what it measures, its target, its tables and the verdict
# the program computed. Installs what is missing, builds the DLLs and the benchmarks, registers
# them in a private Wine prefix and stops its server at the end.
#   bench.sh [build dir, default: build]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=$(mkdir -p "${1:-$root/build}" && cd "${1:-$root/build}" && pwd)

"$root/scripts/deps.sh"
# Wine runs under a display: a virtual one when there is none.
if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a bash "$root/scripts/bench.sh" "$dir"
fi

# Each benchmark is a program (bench/NAME.cpp) or a script run by cscript (bench/NAME.js).
benches=(datatypes_bench textfile_bench dom_bench paramlist_bench config_bench documents_bench secure_bench host_bench
         latency_bench)
programs=()
for b in "${benches[@]}"; do
    if [ -f "$root/bench/$b.cpp" ]; then
        programs+=("$b")
    elif [ ! -f "$root/bench/$b.js" ]; then
        echo "bench/$b.cpp or bench/$b.js is missing" >&2
        exit 1
    fi
done
for f in "$root"/bench/*_bench.cpp "$root"/bench/*_bench.js; do
    b=$(basename "$f"); b=${b%.*}
    [[ " ${benches[*]} " == *" $b "* ]] || { echo "bench/$b.cpp has no section in scripts/bench.sh" >&2; exit 1; }
done

echo "== building into $dir"
cmake -S "$root" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-x86_64.cmake" \
    -DQARN_BUILD_BENCH=ON >/dev/null
cmake --build "$dir" -j"$(nproc)" --target QarnComDatatypes QarnComConnector "${programs[@]}"

export QARN_WINEPREFIX="$dir/bench-prefix"
scratch="$dir/bench-files"
cleanup() {
    "$root/scripts/test-prefix.sh" cleanup "$dir" || true
    rm -rf "$scratch"
}
trap cleanup EXIT
QARN_WITH_DOUBLES=0 "$root/scripts/test-prefix.sh" setup "$dir"
export QARN_BUILD_DIR="$dir"
source "$root/scripts/wine-env.sh"
rm -rf "$scratch" && mkdir -p "$scratch"
folder=$(qarn_winepath "$scratch")

# The hand-written part of each section: what it measures and its target.
describe() {
    case "$1" in
    datatypes_bench) cat <<'EOF'
Field collections of 10,000, 100,000 and 1,000,000 fields: creating and naming the fields, `Add`,
and `Field(name)` of every name in a scrambled order, beside a plain `std::unordered_map` doing the
same. **Target:** `Add` and the by-name lookup stay flat per operation (linear in total). The map
is constant-time per operation by nature, so what it loses as the working set grows to hundreds of
MB is the memory's (and the shared machine's) share: the verdict takes the cost against the map's
at 1,000,000 fields, within twice that at 100,000, for `Add`, the lookup of every name and the
lookup over 256 names (the lookup alone).
EOF
    ;;
    textfile_bench) cat <<'EOF'
Text files of 5, 10, 25 and 50 MB (lines of 40 to 80 characters) read with
`CQarnUtilities::ReadTextFile` through COM, and then, as a host does, `Count` and the text of every
line read through the collection (`Item`, `StringValue`); that reading counts in the figure.
Beside it the whole file read into memory (median of three reads). A small file is read first,
so that no size includes the servers' start. **Target:** at most 3.5 times the plain read at
every size, and the time per MB flat: at 50 MB within twice the figure at 10 MB. Where it is
missed: about half a microsecond per line goes to a field object with its name and its text,
three allocations from the test platform's heap; the target would take fields whose texts share
one block per collection instead.
EOF
    ;;
    dom_bench) cat <<'EOF'
Parameter files of 1,000, 10,000 and 100,000 fields parsed with `DOMParse` and read with
`DOMNodeGetChilds` through COM, beside MSXML alone loading the same file by name and from memory
and walking the same children; then the other XML readers (configuration, documents, logon) on
files of 10,000 and 100,000 elements. **Target:** every reader stays flat per element: at 100,000
elements within twice the figure at 10,000. `DOMParse` loads the file by its name, as MSXML's own
load by name does, so that the document's `url` is the file's: under Wine that load is not linear
in the file's size (MSXML's own column shows the same), on Windows it is. The readers that hand
out no document give MSXML the bytes they have read anyway.
EOF
    ;;
    paramlist_bench) cat <<'EOF'
Transaction definitions built into parameter lists with `GetXmlParameterList3` (parse included).
**Target:** a mixed definition of 7,500 fields (plain fields, structures, tables) costs at most
1.5 times parsing the file with `DOMParse` and selecting its `Parameter` element; definitions of
1,000 to 100,000 fields merged into a context list stay flat per field, parse included (at
100,000 fields within twice the figure at 10,000). Beside it the engine's own part (the same
build from a document parsed beforehand), which leaves out MSXML's load by file name. The
engine's share of the mixed build is mostly small allocations in Wine's heap and the node objects
Wine's MSXML hands out on every call; it suffers more than the parse when the machine is busy, so
the mixed ratio moves with the load. Where the mixed build misses, the engine reads every value as
a typed value, as the document reader does: reading the text where no data type can apply would
take it to the target.
EOF
    ;;
    config_bench) cat <<'EOF'
`CQarnClassFactory::Create` after `Destroy` on an installation scaled to 2,000 properties and
1,000 messages in each of two languages: with the files unchanged since the last read (the process
keeps what it read while no file's bytes, nor the environment, changed: the kept read reads and
compares every file's bytes) and after one byte of one file changed (everything is read again),
beside MSXML alone loading the same four files, by name and from their bytes. The application is
made in the connector's own apartment and handed over to the caller's. **Target:** `Create` with
unchanged files takes at most a third of the full read. Where it misses: most of the kept read is
making the 4,000 fields of the new application's collections again from what was kept; collections
that the applications share until one of them is changed would take it to the target.
EOF
    ;;
    documents_bench) cat <<'EOF'
A tree of 10,000 documents of 20 fields written with `WriteQarnDocumentToFile` and read back with
`ReadQarnDocumentFromFile`, beside MSXML alone loading the file's bytes and saving the document;
then a wide tree of 100,001 documents. **Target:** the write costs at most 3 times MSXML's save,
the read at most 1.5 times MSXML's load of the same bytes from memory; the wide tree must read
back completely (the program fails otherwise). Where the read misses: it walks the DOM node by node
and asks every value for its typed value, for which the test platform's MSXML makes a document
object each time; the target would take reading the text where the file declares no data type
(no `dt:dt` attribute and no schema can apply), or MSXML's SAX reader with the DOM kept for the
exact parse-error texts.
EOF
    ;;
    secure_bench) cat <<'EOF'
`Encrypt` and `Decrypt` through COM, beside the plain encoder of the same pairs. **Target:**
`Encrypt` of the short pair (8 + 12 characters) at least 250,000 pairs per second; every buffer
holding key material or clear text is still wiped before release.
EOF
    ;;
    latency_bench) cat <<'EOF'
The latency a CAD user sees for one call through `IDispatch` from a script host (JScript under
`cscript`) against the sample installation: `Create` + `Destroy` of the application,
`GetXmlParameterList` of `CreatePart` and of `ChangePart` (which comes from the customer file),
`Encrypt` and `GetSAPLogonClient`. **Target:** none; no call may get slower.
EOF
    ;;
    host_bench) cat <<'EOF'
The mixed work of a multi-threaded host (`tests/hardening/hostsafety/MixedWork.h`: `CreatePart`
and `ChangePart` transactions, `Encrypt`/`Decrypt2`, a document of four written and read back, a
text file written and read, string helpers, the number generator), 10 seconds per setting, with
the process's application in the connector's own apartment. The worker apartments' utilities
objects either look properties up in the application (one call into its apartment per lookup, see
[threading.md](../threading.md)) or read their own configuration. The columns give operations per
second per thread and, per kind, the mean time of one operation; the last line the mean time of
one `GetProperty` call on the application from another apartment; then `GetXmlParameterList`
of `ChangePart`, which merges into the caller's list, in a worker apartment whose list the host's
main thread made, beside the same call with a list of the worker's own. **Target:** the list of
another apartment costs at most 5 times one of the caller's own; the figure of 8 apartments is the
one the host-safety work is compared by.
EOF
    ;;
    esac
}

# Arguments of each program: the data-type benchmark takes the classes from the registry, the
# secure one has none, the others write their files into the scratch folder.
arguments() {
    case "$1" in
    datatypes_bench | secure_bench) ;;
    *) echo "$folder" ;;
    esac
}

machine() {
    local cpu memory
    cpu=$(grep -m1 'model name' /proc/cpuinfo | sed 's/.*: //')
    memory=$(awk '/MemTotal/ { printf "%.1f GiB", $2 / 1048576 }' /proc/meminfo)
    echo "| | |"
    echo "|---|---|"
    echo "| CPU | ${cpu:-unknown} |"
    echo "| cores (nproc) | $(nproc) |"
    echo "| RAM | $memory |"
    echo "| kernel | $(uname -sr) |"
    echo "| Wine | $("$QARN_WINE64" --version 2>/dev/null) |"
    echo "| compiler | $(x86_64-w64-mingw32-g++-posix --version | head -n 1) |"
    echo "| date | $(date -u '+%Y-%m-%d %H:%M UTC') |"
    echo "| load before the run (uptime) | $1 |"
    echo "| load after the run (uptime) | $2 |"
}

load() { uptime | sed 's/.*load average: //'; }

sections=$(mktemp)
summary=$(mktemp)
trap 'cleanup; rm -f "$sections" "$summary"' EXIT
loadBefore=$(load)
started=$(date +%s)
status=0
for b in "${benches[@]}"; do
    echo "== $b"
    t0=$(date +%s)
    set +e
    if [ -f "$root/bench/$b.js" ]; then
        output=$(QarnRootDir="$(qarn_winepath "$root/samples/installation")" qarn_wine_tool cscript //nologo \
            "$(qarn_winepath "$root/bench/$b.js")" 2>"$scratch/stderr.txt" | tr -d '\r')
        # cscript ends with 0 even when the script stops on an error: its last line tells.
        code=0
        [ "$(tail -n 1 <<<"$output")" = "Every call measured." ] || code=1
    else
        output=$(qarn_wine "$dir/bin/$b.exe" $(arguments "$b") 2>"$scratch/stderr.txt" | tr -d '\r')
        code=$?
    fi
    set -e
    seconds=$(( $(date +%s) - t0 ))
    echo "$output"
    verdict=$(grep -o '^\*\*Verdict: [a-z ]*\*\*' <<<"$output" | sed 's/\*\*Verdict: \(.*\)\*\*/\1/' || true)
    if [ "$code" -ne 0 ]; then
        status=1
        verdict="failed"
        output+=$'\n\n**The program failed** (exit code '"$code"$'):\n\n```\n'"$(tr -d '\r' <"$scratch/stderr.txt")"$'\n```'
        cat "$scratch/stderr.txt" >&2
    fi
    echo "| [\`$b\`](#$b) | ${verdict:-no target} |" >>"$summary"
    {
        echo "## $b"
        echo
        describe "$b"
        echo
        echo "$output"
        echo
        echo "_Run time: $seconds s._"
        echo
    } >>"$sections"
done
total=$(( $(date +%s) - started ))

page="$root/docs/dev/performance.md"
{
    echo "# Performance"
    echo
    echo "Generated by \`bash scripts/bench.sh\` from one run of every benchmark of [bench/](../../bench/README.md)"
    echo "under Wine; do not edit by hand. Each figure stands beside a baseline measured in the same run."
    echo "The machine is shared with other builds, so the ratios and the shapes of the curves count, not"
    echo "the absolute times."
    echo
    echo "## Machine"
    echo
    machine "$loadBefore" "$(load)"
    echo
    echo "The benchmarks took $total s in all."
    echo
    echo "## Verdicts"
    echo
    echo "| benchmark | verdict |"
    echo "|---|---|"
    cat "$summary"
    echo
    cat "$sections"
} >"$page"
echo "== wrote $page ($total s)"
exit $status
