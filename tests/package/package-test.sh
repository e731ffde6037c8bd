#!/usr/bin/env bash
# The package as a user gets it. Run as root from anywhere:
#   tests/package/package-test.sh [DEB]
# Builds the package (unless DEB is given), fails on lintian errors and on metainfo that
# appstreamcli rejects, on a Depends without Qt's SVG plugins and on a menu icon that is not the
# window icon; installs it with apt into a minimal Debian 12 root (made once with debootstrap, kept
# in /var/cache/parlavox-package-test/bookworm, used through an overlay so it stays clean), then
# starts parlavox there under Xvfb as a user who is not root, then as root, and checks each time
# that the user's settings and logs land in the XDG folders, that nothing is written into
# /usr/lib/parlavox, and that the service parlavox started is gone after it; then removes it with
# apt and checks that /usr/lib/parlavox is gone.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cache=/var/cache/parlavox-package-test
base=$cache/bookworm
[ "$(id -u)" -eq 0 ] || { echo "package-test: run as root" >&2; exit 2; }

step() { echo "== $*"; }
fail() { echo "package-test: FAILED: $*" >&2; exit 1; }

deps=()
for tool in lintian appstreamcli debootstrap; do
  command -v "$tool" >/dev/null || deps+=("$tool")
done
if [ ${#deps[@]} -gt 0 ]; then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    lintian appstream debootstrap >/dev/null
fi

deb=${1:-}
if [ -z "$deb" ]; then
  step "building the package"
  deb=$("$root/scripts/package.sh" | tail -n 1)
fi
deb=$(readlink -f "$deb")
echo "$deb: $(stat -c %s "$deb") bytes, installed size $(dpkg-deb -f "$deb" Installed-Size) KiB"

step "lintian"
lintian_out=$(lintian --tag-display-limit 0 "$deb" 2>&1 || true)
[ -n "$lintian_out" ] && echo "$lintian_out"
if grep -q '^E: ' <<<"$lintian_out"; then fail "lintian reports errors"; fi

step "appstreamcli validate"
appstreamcli validate --no-net "$root"/data/desktop/*.metainfo.xml || fail "metainfo rejected"

step "Debian 12 root"
if [ ! -x "$base/bin/bash" ]; then
  mirror=$(awk '/^URIs:/{print $2; exit}' /etc/apt/sources.list.d/debian.sources 2>/dev/null || true)
  mkdir -p "$cache"
  rm -rf "$base.new"
  debootstrap --variant=minbase bookworm "$base.new" "${mirror:-http://deb.debian.org/debian}" \
    >"$cache/debootstrap.log" 2>&1 || { tail -n 5 "$cache/debootstrap.log"; fail "debootstrap"; }
  mv "$base.new" "$base"
fi

work=$(mktemp -d /var/tmp/parlavox-package-test.XXXXXX)
top=$work/root
mounted=()
keep_mounts=
# Mount points under the work folder, from this process's mount table.
mounts_under_work() { awk -v w="$work" '$5 == w || index($5, w "/") == 1 { print $5 }' /proc/self/mountinfo; }
cleanup() {
  if [ -z "$keep_mounts" ]; then
    for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
      umount -R "${mounted[$i]}" 2>/dev/null || umount -R -l "${mounted[$i]}" 2>/dev/null || true
    done
  fi
  # Never delete through a mount that is left: it may be the host's /dev or /sys.
  if [ -n "$(mounts_under_work)" ]; then
    echo "package-test: mounts remain under $work, left in place:" >&2
    mounts_under_work >&2
    return
  fi
  rm -rf --one-file-system "$work"
}
trap cleanup EXIT
mkdir -p "$top" "$work/upper" "$work/work"
if mount -t overlay overlay -o "lowerdir=$base,upperdir=$work/upper,workdir=$work/work" "$top" 2>/dev/null; then
  mounted+=("$top")
else
  cp -a "$base/." "$top/"
fi
# The host's /sys and /dev, bound recursively. Each bind is made a slave at once: where the host's
# mounts are shared (systemd makes them so), unmounting a shared copy would unmount the host's own
# /dev/pts, /dev/shm and cgroup mounts with it.
rbind() {
  mount --rbind "$1" "$2"
  if ! mount --make-rslave "$2"; then
    keep_mounts=1
    fail "cannot make $2 a slave mount; nothing is unmounted"
  fi
  mounted+=("$2")
}
mount -t proc proc "$top/proc"; mounted+=("$top/proc")
rbind /sys "$top/sys"
rbind /dev "$top/dev"
cp /etc/resolv.conf "$top/etc/resolv.conf" 2>/dev/null || true
[ -s "$top/etc/apt/sources.list" ] || cp /etc/apt/sources.list.d/debian.sources "$top/etc/apt/sources.list.d/"
cp "$deb" "$top/tmp/parlavox.deb"
in_root() {
  chroot "$top" /usr/bin/env -i HOME=/root LANG=C.UTF-8 DEBIAN_FRONTEND=noninteractive \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin bash -c "$*"
}

step "installing with apt"
in_root 'apt-get update -qq' || fail "apt-get update"
# Everything the package recommends must resolve too; installing it all is not needed here.
in_root 'apt-get install -s -qq /tmp/parlavox.deb >/dev/null' || fail "the package's recommends do not resolve"
in_root 'apt-get install -y -qq --no-install-recommends /tmp/parlavox.deb xvfb xauth dbus >/dev/null' ||
  fail "apt install"
in_root 'command -v parlavox && test -f /usr/share/applications/org.parlavox.Parlavox.desktop &&
  test -f /usr/share/icons/hicolor/scalable/apps/parlavox.svg &&
  test -f /usr/share/icons/hicolor/48x48/apps/parlavox.png' || fail "installed files missing"

step "the package's relations and icons"
# The window icon and the logo are SVG pictures, drawn by Qt's SVG plugins, which are loaded at run
# time and so not found by shlibdeps.
dpkg-deb -f "$deb" Depends | tr ',' '\n' | grep -Eq '^ *libqt6svg6( |$)' || fail "Depends lacks libqt6svg6"
# The menu's icon is the picture the program shows as its window and tray icon.
rcc=/usr/lib/qt6/libexec/rcc
[ -x "$rcc" ] || rcc=$(command -v rcc)
window_icon=$(cd "$root/src/shell/resources" && "$rcc" --list-mapping shell.qrc |
  awk -F '\t' '$1 == ":/parlavox/parlavox.svg" { print $2 }')
[ -n "$window_icon" ] || fail "no window icon in src/shell/resources/shell.qrc"
cmp "$(cd "$root/src/shell/resources" && readlink -f "$window_icon")" \
  "$top/usr/share/icons/hicolor/scalable/apps/parlavox.svg" || fail "the menu icon is not the window icon"

# Runs parlavox in the root as USER (from their home) under Xvfb with a session bus of its own, and
# ends it by SIGTERM after a few seconds, as the session's end ends it: it saves its settings then.
run_parlavox() {
  in_root "su $1 -s /bin/bash -c 'cd && PARLAVOX_SERVICE_HOST=127.0.0.1:$port dbus-run-session -- \
    xvfb-run -a -s \"-screen 0 1024x768x24\" timeout -s TERM 8 parlavox >/tmp/parlavox-out-$1.txt 2>&1; true'"
}
# USER's files, and parlavox's output of its run.
show_files() {
  in_root "ls -lR $2/.config/parlavox $2/.local/share/parlavox
    echo '-- parlavox-service.log:'; cat $2/.local/share/parlavox/Logs/parlavox-service.log
    echo '-- parlavox output:'; tail -n 20 /tmp/parlavox-out-$1.txt" || true
}
service_gone() {
  local p
  for p in /proc/[0-9]*; do
    if [ "$(readlink "$p/root" 2>/dev/null)" = "$top" ] && [ "$(cat "$p/comm" 2>/dev/null)" = parlavox-service ]; then
      fail "parlavox-service still runs"
    fi
  done
}

step "starting parlavox as a user"
in_root 'id tester >/dev/null 2>&1 || useradd -m tester'
in_root 'find /usr/lib/parlavox | sort >/tmp/before.txt'
# The service host is a port that nothing on this machine listens at, so that parlavox starts its
# own service there whatever else runs here.
port=18731
while (: </dev/tcp/127.0.0.1/$port) 2>/dev/null; do port=$((port + 1)); done
run_parlavox tester
in_root 'find /usr/lib/parlavox | sort >/tmp/after.txt'
in_root 'diff /tmp/before.txt /tmp/after.txt' || fail "files appeared in /usr/lib/parlavox"
show_files tester /home/tester
in_root 'test -s /home/tester/.config/parlavox/ConfigEN.ini' || fail "no settings in ~/.config/parlavox"
in_root 'test -s /home/tester/.local/share/parlavox/Logs/parlavox-service.log' ||
  fail "no log in ~/.local/share/parlavox/Logs"
in_root 'stat -c %U /home/tester/.config/parlavox/ConfigEN.ini | grep -qx tester' || fail "settings not the user's"
service_gone

step "starting parlavox as root"
# Root can write every folder: the installed program's folder must stay untouched all the same.
run_parlavox root
in_root 'find /usr/lib/parlavox | sort >/tmp/after.txt'
in_root 'diff /tmp/before.txt /tmp/after.txt' || fail "files appeared in /usr/lib/parlavox when run as root"
show_files root /root
in_root 'test -s /root/.config/parlavox/ConfigEN.ini' || fail "no settings in /root/.config/parlavox"
in_root 'test -s /root/.local/share/parlavox/Logs/parlavox-service.log' ||
  fail "no log in /root/.local/share/parlavox/Logs"
service_gone

step "removing with apt"
in_root 'apt-get remove -y -qq parlavox >/dev/null' || fail "apt remove"
in_root 'test ! -e /usr/lib/parlavox' || { in_root 'find /usr/lib/parlavox'; fail "apt remove left /usr/lib/parlavox"; }
step "package test passed"
