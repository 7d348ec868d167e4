#!/bin/bash
# Builds the echo-reply fuzzer natively with clang (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) and runs it for a bounded time.
#
#   run_fuzz.sh [seconds] [work dir]
#
# The work dir keeps the binary, the corpus and any crashing input.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
seconds=${1:-20}
work=${2:-$(mktemp -d)}
mkdir -p "$work/corpus" "$work/artifacts"

clang++ -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
  -Wall -Wextra -Werror -I "$repo/src" \
  "$here/fuzz_icmp_reply.cpp" "$repo/src/servers/IcmpPacket.cpp" -o "$work/fuzz_icmp_reply"

# Seeds: identifier 0x0123 and clock 1000 (8 bytes), then an echo reply from
# 0x0123 stamped 990, with a plain header (IHL 5) and with options (IHL 6).
seed() { printf "$1" >"$work/corpus/$2"; }
params='\x23\x01\x00\x00\xe8\x03\x00\x00'
icmp='\x00\x00\x00\x00\x23\x01\x05\x00\xde\x03\x00\x00'
ip5='\x45\x00\x00\x20\x00\x00\x00\x00\x40\x01\x00\x00\xc0\x00\x02\x0b\x0a\x63\x00\x01'
ip6='\x46\x00\x00\x24\x00\x00\x00\x00\x40\x01\x00\x00\xc0\x00\x02\x0b\x0a\x63\x00\x01\x01\x01\x01\x00'
seed "$params$ip5$icmp" reply_ihl5
seed "$params$ip6$icmp" reply_ihl6
seed "$params$ip5" header_only

ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  "$work/fuzz_icmp_reply" -max_total_time="$seconds" -max_len=256 -print_final_stats=1 \
  -artifact_prefix="$work/artifacts/" "$work/corpus"
