#!/usr/bin/env bash
# The package test leaves the host's mounts alone, even where they are shared, as systemd makes
# them. Run as root from anywhere:
#   tests/package/host-mounts-test.sh [DEB]
# Runs tests/package/package-test.sh [DEB] in a mount namespace of its own whose mounts are all
# made shared (a copy: the real host's mounts are never touched), then checks that every mount of
# that namespace, /dev/pts, /dev/shm and the cgroup mounts among them, is still there.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
[ "$(id -u)" -eq 0 ] || { echo "host-mounts-test: run as root" >&2; exit 2; }

if [ -z "${PARLAVOX_HOST_MOUNTS_NAMESPACE:-}" ]; then
  # --propagation private: nothing done inside reaches the real host's mounts.
  exec unshare --mount --propagation private env PARLAVOX_HOST_MOUNTS_NAMESPACE=1 "$0" "$@"
fi

mount --make-rshared /
mount_points() { awk '{ print $5 }' /proc/self/mountinfo | sort; }
before=$(mount_points)
status=0
"$here/package-test.sh" "$@" || status=$?
lost=$(comm -23 <(echo "$before") <(mount_points))
if [ -n "$lost" ]; then
  echo "host-mounts-test: FAILED: the package test unmounted the host's" $lost >&2
  exit 1
fi
[ "$status" -eq 0 ] || { echo "host-mounts-test: the package test failed ($status)" >&2; exit "$status"; }
echo "host-mounts-test: every mount is still there: $(echo $before | tr ' ' '\n' | grep -E '^/(dev/(pts|shm)|sys/fs/cgroup)$' | tr '\n' ' ')"
