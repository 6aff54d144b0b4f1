#!/bin/bash
# SHA-256 throughput on one 400 MiB file, side by side in one run: the
# installer's portable code and its SHA-extensions code (sha256_bench),
# sha256sum and openssl dgst -sha256. Prints figures; never fails on time.
#   bash tests/bench/sha256_bench.sh [path/to/sha256_bench]
set -euo pipefail
bench=${1:-build/host/tests/bench/sha256_bench}
file=${TMPDIR:-/tmp}/sha256-bench-$$.bin
trap 'rm -f "$file"' EXIT
command -v openssl >/dev/null || apt-get install -y -qq openssl >/dev/null

head -c $((400 << 20)) /dev/urandom > "$file"
cat "$file" > /dev/null  # in the page cache for every contender
bytes=$(stat -c %s "$file")

# Best MB/s of three runs of a command that hashes the file.
best() {
    local fastest=999999 start end
    for _ in 1 2 3; do
        start=$EPOCHREALTIME
        "$@" "$file" > /dev/null
        end=$EPOCHREALTIME
        fastest=$(awk -v a="$start" -v b="$end" -v f="$fastest" 'BEGIN { print (b - a < f) ? b - a : f }')
    done
    awk -v n="$bytes" -v s="$fastest" 'BEGIN { printf "%.0f", n / 1e6 / s }'
}

sha256sum_mbs=$(best sha256sum)
openssl_mbs=$(best openssl dgst -sha256)
ours=$("$bench" "$file")
echo "SHA-256 of $((bytes >> 20)) MiB; $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //')"
printf '%-22s %6s MB/s\n' "sha256sum" "$sha256sum_mbs" "openssl dgst -sha256" "$openssl_mbs"
while read -r name mbs _ digest; do
    if [[ $mbs == "(no" ]]; then echo "installer $name: no SHA extensions on this processor"; continue; fi
    if [[ $name == sha-ext ]]; then versus=openssl against=$openssl_mbs; else versus=sha256sum against=$sha256sum_mbs; fi
    awk -v n="installer $name" -v m="$mbs" -v a="$against" -v v="$versus" \
        'BEGIN { printf "%-22s %6s MB/s  %.2fx %s\n", n, m, m / a, v }'
    [[ $digest == $(sha256sum < "$file" | cut -d' ' -f1) ]] || echo "  digest differs from sha256sum's!"
done <<< "$ours"
