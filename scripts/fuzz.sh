#!/usr/bin/env bash
# Builds the libFuzzer targets (CSV splitting, text and path rules, the XML prolog, decryption) natively with clang under AddressSanitizer and
# UndefinedBehaviorSanitizer and runs each for a bounded time.
#
#   bash scripts/fuzz.sh [seconds per target, default 30] [output folder, default build-fuzz]
#
# The test command runs it for 20 seconds per target. Each target's corpus stays in the output
# folder, so that repeated runs go on where the last one stopped. Findings (the input that failed)
# are written to <output>/findings/; a finding makes the script fail. The last line is a summary:
# "fuzz: N targets, N runs, N findings".
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-30}

need=()
command -v clang++ >/dev/null || need+=(clang)
ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1 || need+=(libclang-rt-dev)
if [ ${#need[@]} -gt 0 ]; then
    sudo_cmd=""
    [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
    $sudo_cmd apt-get update -q
    DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -q "${need[@]}"
fi

out=${2:-$root/build-fuzz}
mkdir -p "$out/findings"
flags=(-std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined -I"$root")
status=0
runs=0
findings=0
# target:source of the code under test
targets=(csv_fuzz:base/com/TextRules.cpp text_rules_fuzz:base/com/TextRules.cpp xml_prolog_fuzz:dom/XmlProlog.cpp
         decrypt_fuzz:secure/SecureBlock.cpp)
for pair in "${targets[@]}"; do
    target=${pair%%:*}
    clang++ "${flags[@]}" "$root/tests/fuzz/$target.cpp" "$root/${pair#*:}" -o "$out/$target"
    mkdir -p "$out/corpus/$target"
    echo "== $target: ${seconds}s"
    if ! "$out/$target" -max_total_time="$seconds" -max_len=4096 -artifact_prefix="$out/findings/$target-" \
            "$out/corpus/$target" 2>"$out/$target.log"; then
        status=1
        findings=$((findings + 1))
        tail -n 30 "$out/$target.log"
    else
        done_line=$(grep -E "^Done [0-9]+ runs" "$out/$target.log" | tail -n 1 || true)
        echo "$done_line"
        runs=$((runs + $(echo "$done_line" | awk '{print $2+0}')))
    fi
done
echo "fuzz: ${#targets[@]} targets, $runs runs, $findings findings"
exit $status
