#!/usr/bin/env bash
# The release preset must refuse to configure without two well-formed keys,
# with either development key, with a key that is no P-256 point, with the
# same key twice and with an empty (all-zero) slot, and must accept two real
# keys.
set -u
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0

configure() {  # configure [KEYS] -> prints cmake's output, returns its status
  # One build folder for all: its compiler checks are made once, and each
  # configure sets the keys afresh (or drops them).
  (cd "$source_dir" && cmake --preset release -B "$scratch/build" \
    "$([ $# -gt 0 ] && echo "-DKESTRELUME_TRUSTED_KEYS=$1" || echo "-UKESTRELUME_TRUSTED_KEYS")" 2>&1)
}

expect_refusal() {  # expect_refusal NAME PATTERN [KEYS]
  local name=$1 pattern=$2; shift 2
  local output
  if output=$(configure "$@"); then
    echo "FAIL $name: configured"; failures=$((failures + 1))
  elif ! grep -q -- "$pattern" <<<"$output"; then
    echo "FAIL $name: no message matching '$pattern'"; echo "$output" | tail -5; failures=$((failures + 1))
  else
    echo "ok   $name"
  fi
}

sign="/usr/bin/python3 $source_dir/tools/sign-manifest"
$sign --generate "$scratch/a.pem" && $sign --generate "$scratch/b.pem"
real_a=$($sign --public-key "$scratch/a.pem")
real_b=$($sign --public-key "$scratch/b.pem")
dev_1=$($sign --public-key "$source_dir/tests/keys/dev-signing-key-1.pem")
dev_2=$($sign --public-key "$source_dir/tests/keys/dev-signing-key-2.pem")
zero=$(printf '0%.0s' $(seq 128))

expect_refusal "no keys" "must hold exactly two public keys"
expect_refusal "one key" "must hold exactly two public keys" "$real_a"
expect_refusal "three keys" "must hold exactly two public keys" "$real_a;$real_b;$real_a"
expect_refusal "development key 1" "is a development key" "$dev_1;$real_b"
expect_refusal "development key 2" "is a development key" "$real_a;$dev_2"
expect_refusal "short key" "has 127 hex characters" "${real_a:1};$real_b"
expect_refusal "upper-case key" "is not lower-case hex" "${real_a^^};$real_b"
expect_refusal "only empty slots" "only empty" "$zero;$zero"
expect_refusal "empty second slot" "entry 2 is an all-zero (empty) slot" "$real_a;$zero"
expect_refusal "empty first slot" "entry 1 is an all-zero (empty) slot" "$zero;$real_b"
expect_refusal "same key twice" "both entries are the same key" "$real_a;$real_a"
# A real key with its last digit changed: well-formed hex, but off the curve.
off_curve=${real_b:0:127}$(printf '%x' $(( (0x${real_b:127:1} + 1) % 16 )))
expect_refusal "no P-256 point" "entry 2 is not a point on P-256" "$real_a;$off_curve"
expect_refusal "x beyond the field" "entry 1 is not a point on P-256" "$(printf 'f%.0s' $(seq 128));$real_b"

flags="$scratch/build/src/base/CMakeFiles/kestrelume_base.dir/flags.make"
if output=$(configure "$real_a;$real_b") && grep -q "KESTRELUME_TRUSTED_KEY_1=.*$real_a" "$flags" &&
    grep -q "KESTRELUME_TRUSTED_KEY_2=.*$real_b" "$flags"; then
  echo "ok   two real keys"
else
  echo "FAIL two real keys: not configured with them"; echo "$output" | tail -5; failures=$((failures + 1))
fi
[ "$failures" -eq 0 ]
