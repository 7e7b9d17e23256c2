#!/usr/bin/env bash
# The Debian package, installed with dpkg into a copy-on-write view of this machine of the
# script's own: a mount namespace with overlays on /etc, /opt, /usr and /var, so nothing
# reaches the real system. Checks the files, their owners and modes, the group, the
# conffile and the dependencies, and that no program holds a capability (none left behind by
# an upgrade from a package that gave one); the check of an installed ostrel-send run by a
# member on Debian's default ping_group_range; starts the installed program with the desktop entry's
# command as two members of the group "ostrel" (ordinary users, umask 022), who must share
# one log; then the settings across a reinstall, a removal and a purge.
# Runs as root only (dpkg, mounts); otherwise it is skipped.
# Usage: deb_test.sh SOURCE_DIR BUILD_DIR
set -uo pipefail
source_dir=$(readlink -f "$1")
build=$(readlink -f "$2")
if [ "$(id -u)" -ne 0 ]; then echo "SKIP: needs root for dpkg and a mount namespace"; exit 77; fi

if [ -z "${OSTREL_DEB_TEST_INSIDE:-}" ]; then
  for tool in unshare dpkg cpack dpkg-shlibdeps; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
  done
  deb=$("$source_dir/scripts/package.sh" "$build" 2>"$build/package-test.log" | tail -n 1)
  [ -f "$deb" ] || { cat "$build/package-test.log"; echo "FAIL - the package is not built"; exit 1; }
  unshare --mount --propagation private true 2>/dev/null ||
    { echo "SKIP: cannot create a mount namespace"; exit 77; }
  OSTREL_DEB_TEST_INSIDE=$deb exec unshare --mount --propagation private bash "$0" "$@"
fi
deb=$OSTREL_DEB_TEST_INSIDE

source "$source_dir/tests/whole_program/lib.sh"
require_tools Xvfb xdotool iconv useradd setpriv getcap setcap ip
# The overlays' upper layers lie on a tmpfs of this namespace, gone when it ends.
mkdir "$work/layers"
trap 'end_processes; umount -l /etc /opt /usr /var "$work/layers" 2>/dev/null; cleanup' EXIT
mount -t tmpfs ostrel-layers "$work/layers" || { echo "FAIL - no tmpfs for the overlays"; exit 1; }
for top in etc opt usr var; do
  [ -d "/$top" ] || { echo "SKIP: this machine has no /$top"; exit 77; }
  mkdir "$work/layers/$top.up" "$work/layers/$top.work"
  mount -t overlay "ostrel-$top" \
    -o "lowerdir=/$top,upperdir=$work/layers/$top.up,workdir=$work/layers/$top.work" "/$top" ||
    { echo "SKIP: no overlay on /$top"; exit 77; }
done
[ ! -e /opt/ostrel ] || rm -rf /opt/ostrel  # only in the overlay: a clean first install
chmod 0755 "$work"  # the operators reach their home folders below it

install_deb() { DEBIAN_FRONTEND=noninteractive dpkg -i "$deb" >>"$work/dpkg.log" 2>&1; }
mode_of() { stat -c '%U:%G %a' "$1" 2>/dev/null; }
check "dpkg installs the package" install_deb
[ "$failures" -eq 0 ] || { sed 's/^/     /' "$work/dpkg.log" | tail -n 30; finish; exit; }

folder=/opt/ostrel
settings=$folder/Config/Kiv_UdpSendSetting.ini
check "the group ostrel is a system group" \
  bash -c '[ "$(getent group ostrel | cut -d: -f3)" -lt 1000 ]'
for sub in Config Log Temp; do
  check "$sub is root:ostrel 2775" test "$(mode_of "$folder/$sub")" = "root:ostrel 2775"
done
check "the settings file is root:ostrel 0664" test "$(mode_of "$settings")" = "root:ostrel 664"
check "the program runs for the group only" test "$(mode_of "$folder/ostrel")" = "root:ostrel 754"
no_capabilities() { [ -z "$(getcap "$folder/ostrel" "$folder/ostrel-send" 2>&1)" ]; }
check "no program holds a capability (getcap prints nothing)" no_capabilities
check "the settings file is a conffile" \
  bash -c "dpkg-query -W -f='\${Conffiles}' ostrel | grep -q ' $settings '"
for dep in fonts-noto-cjk iputils-ping qt6-translations-l10n 'libqt6widgets6 (' 'libc6 ('; do
  check "the package depends on $dep" bash -c "dpkg-deb -f '$deb' Depends | grep -qF '$dep'"
done
for file in /usr/share/applications/ostrel.desktop /usr/share/metainfo/org.ostrel.Ostrel.metainfo.xml \
  /usr/share/icons/hicolor/scalable/apps/ostrel.svg /usr/share/icons/hicolor/48x48/apps/ostrel.png \
  /usr/share/icons/hicolor/256x256/apps/ostrel.png; do
  check "installed: $file" test -f "$file"
done
check "the PNG icons have their sizes" bash -c \
  "file /usr/share/icons/hicolor/48x48/apps/ostrel.png | grep -q '48 x 48' &&
   file /usr/share/icons/hicolor/256x256/apps/ostrel.png | grep -q '256 x 256'"

# Two operators in the group, as `adduser NAME ostrel` makes them.
for name in ostrel-op-a ostrel-op-b; do
  useradd --no-create-home --home-dir "$work/$name" --shell /bin/sh "$name" && adduser --quiet "$name" ostrel ||
    { echo "FAIL - cannot add the operator $name"; exit 1; }
  mkdir -m 0700 "$work/$name" && chown "$name:" "$work/$name"
done
command=$(sed -n 's/^Exec=//p' /usr/share/applications/ostrel.desktop)
# as_exec NAME COMMAND...: becomes COMMAND run as that operator, with the groups of a fresh
# login, umask 022 and no capabilities beyond the program's own. Started with `&`, the
# process of $! is the program itself, whose windows carry that process ID.
as_exec() {
  local name=$1; shift
  umask 022
  cd "$work/$name" && exec setpriv --reuid="$name" --regid="$name" --init-groups \
    env -i HOME="$work/$name" DISPLAY="$DISPLAY" QT_QPA_PLATFORM=xcb PATH=/usr/bin:/bin "$@"
}
# as NAME COMMAND...: the same, waited for.
as() { (as_exec "$@"); }
log=$folder/Log/Kiv_UdpSndLog.txt
refusals() { iconv -f CP932 -t UTF-8 "$log" 2>/dev/null | grep -c ' 二重起動の為、起動を中止しました。'; }

# Each operator starts the program, then a second copy, which logs its refusal: A's line
# starts the log, B's line must be appended to it.
window_shown() { wait_for_window "$1" "Ostrel" >/dev/null; }
start_xvfb
programs=()
for name in ostrel-op-a ostrel-op-b; do
  as_exec "$name" $command >"$work/$name.out" 2>&1 &
  pid=$!; pids+=("$pid"); programs+=("$pid")
  check "$name gets the main window" window_shown "$pid"
  as "$name" timeout 20 $command >>"$work/$name.out" 2>&1
  check "$name's second copy ends by itself" test $? -eq 0
done
check "the log is written in $folder/Log, by both operators" test "$(refusals)" -eq 2
check "the log belongs to the group, which may write it" \
  test "$(mode_of "$log")" = "ostrel-op-a:ostrel 664"
check "both programs still run" kill -0 "${programs[@]}"
kill "${programs[@]}" 2>/dev/null
wait "${programs[@]}" 2>/dev/null
# The check as a member, in a network of its own with Debian's default ping_group_range
# "1 0": through the system's ping. No peer answers, but the check must pass.
as_member_on_default_range() {
  unshare --net sh -c 'ip link set lo up && sysctl -qw net.ipv4.ping_group_range="1 0" && exec "$@"' _ \
    setpriv --reuid=ostrel-op-a --regid=ostrel-op-a --init-groups --inh-caps=-all \
    env -i HOME="$work/ostrel-op-a" PATH=/usr/bin:/bin ostrel-send --dest 127.0.0.1 --hex 01 --timeout 200
}
as_member_on_default_range >"$work/check.out" 2>&1
check "a member's check passes on the default ping_group_range" \
  bash -c "iconv -f CP932 -t UTF-8 '$log' | grep -q ' 接続先:127.0.0.1 Ping OK'"
check "an operator can change the settings" as ostrel-op-b sh -c "printf '; bench 3\r\n' >>'$settings'"

# The package before this one gave the programs cap_net_raw.
setcap cap_net_raw+ep "$folder/ostrel" && setcap cap_net_raw+ep "$folder/ostrel-send"
check "dpkg installs the package again" install_deb
check "the upgrade leaves no capability behind" no_capabilities
check "the reinstall keeps the operator's settings" grep -q '; bench 3' "$settings"
check "the settings file stays root:ostrel 0664" test "$(mode_of "$settings")" = "root:ostrel 664"
dpkg_do() { dpkg "$@" >>"$work/dpkg.log" 2>&1; }
check "dpkg removes the package" dpkg_do -r ostrel
check "the removal takes the program and the desktop entry" \
  test ! -e "$folder/ostrel" -a ! -e /usr/share/applications/ostrel.desktop
check "the removal keeps the log and the settings" test -s "$log" -a -f "$settings"
check "dpkg purges the package" dpkg_do -P ostrel
check "the purge takes the program folder" test ! -e "$folder"
[ "$failures" -eq 0 ] || sed 's/^/     dpkg: /' "$work/dpkg.log" | tail -n 30
finish
