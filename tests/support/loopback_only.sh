#!/usr/bin/env bash
# Runs a test program (with its arguments) under strace and fails when the
# program, or any process it starts, connects or sends to an IP address
# outside the loopback network (127.0.0.0/8, ::1). Network tests talk to
# peers of their own on this machine only; a packet to anywhere else (a
# name server from /etc/resolv.conf, a real mail exchanger) is a fault of
# the test or of the code under test. Set as the test programs' emulator.
set -u

if ! command -v strace >/dev/null; then
  echo "loopback check: strace is not installed (scripts/setup.sh installs it)" >&2
  exit 1
fi

trace=$(mktemp "${TMPDIR:-/tmp}/loopback-trace.XXXXXX")
trap 'rm -f "$trace"' EXIT

# Only these calls stop the program; signals and exits are not traced.
# A program that cannot be traced is not run, and strace's failure fails it.
strace -f --seccomp-bpf -qq -e signal=none -e trace=connect,sendto,sendmsg,sendmmsg -o "$trace" -- "$@"
status=$?

# Every IPv4 and IPv6 address the calls named; loopback ones pass.
outside=$(grep -oE 'inet_addr\("[^"]*"\)|inet_pton\(AF_INET6, "[^"]*"' "$trace" |
  sed -E 's/.*"([^"]*)".*/\1/' |
  grep -vE '^(127\.[0-9]+\.[0-9]+\.[0-9]+|::1|::ffff:127\.[0-9]+\.[0-9]+\.[0-9]+)$' |
  sort -u)
if [ -n "$outside" ]; then
  echo "loopback check: the test reached addresses outside loopback:" >&2
  grep -E 'inet_addr\("|inet_pton\(AF_INET6, "' "$trace" |
    grep -vE '"(127\.[0-9]+\.[0-9]+\.[0-9]+|::1|::ffff:127\.[0-9]+\.[0-9]+\.[0-9]+)"' | head -20 >&2
  exit 1
fi
exit $status
