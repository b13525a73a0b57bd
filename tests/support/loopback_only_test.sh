#!/usr/bin/env bash
# The loopback check passes a program that names only loopback addresses and
# fails one that names any other. The probe opens UDP sockets (bash's
# /dev/udp connects them, which sends no packet), so nothing leaves the
# machine while the check is checked.
set -u
check="$(dirname "$0")/loopback_only.sh"
probe='for address; do { exec 3<>"/dev/udp/$address/9"; } 2>/dev/null; exec 3>&-; done; true'
status=0
"$check" bash -c "$probe" - 127.0.0.1 127.1.2.3 ::1 || { echo "FAIL: loopback addresses were refused"; status=1; }
for outside in 192.0.2.1 10.255.255.53 2001:db8::1; do
  if "$check" bash -c "$probe" - 127.0.0.1 "$outside" 2>/dev/null; then
    echo "FAIL: $outside passed the check"
    status=1
  fi
done
exit $status
