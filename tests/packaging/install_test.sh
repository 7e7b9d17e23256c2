#!/usr/bin/env bash
# `cmake --install` into a private prefix: a complete program folder that depends on
# nothing in the build tree and keeps an operator's settings across a second install; and
# the desktop entry and the AppStream metainfo pass their validators.
# Usage: install_test.sh BUILD_DIR
set -uo pipefail
build=$(readlink -f "$1")
source "$(dirname "$0")/../whole_program/lib.sh"
require_tools readelf desktop-file-validate appstreamcli
packaging=$(dirname "$0")/../../packaging

prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1
check "the install succeeds" test $? -eq 0
check "the program folder has the program, Config, Log and Temp" \
  test -x "$prefix/ostrel" -a -d "$prefix/Log" -a -d "$prefix/Temp" -a -f "$prefix/Config/Kiv_UdpSendSetting.ini"
entries=$(ls -A "$prefix" | grep -vx -e ostrel-send -e ostrel-respond | tr '\n' ' ')
check "nothing else is installed (no desktop files outside the package)" \
  test "$entries" = "Config Log Temp ostrel "
check "the installed program has no run path (into the build tree or anywhere)" \
  bash -c "! readelf -d '$prefix/ostrel' | grep -qE 'RPATH|RUNPATH'"
check "the installed program loads no library from the build tree" \
  bash -c "ldd '$prefix/ostrel' >'$work/ldd' && ! grep -qF -e '$build/' -e 'not found' '$work/ldd'"

printf '[IPAddress]\r\nIPAddress=192.0.2.7\r\n' >"$prefix/Config/Kiv_UdpSendSetting.ini"
cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1
check "a second install keeps the operator's settings" \
  grep -q '192.0.2.7' "$prefix/Config/Kiv_UdpSendSetting.ini"

check "the desktop entry is valid" desktop-file-validate "$packaging/ostrel.desktop"
check "the desktop entry starts the installed program" \
  grep -qx 'Exec=/opt/ostrel/ostrel' "$packaging/ostrel.desktop"
check "the metainfo is valid" appstreamcli validate --no-net "$build/packaging/org.ostrel.Ostrel.metainfo.xml"
finish
