#!/usr/bin/env bash
# The Debian packages as a user gets them: unpacked into a scratch root
# (dpkg -x) with the build tree moved out of reach, then the programs run
# from there, a C++ program built against the installed files (CMake
# package and pkg-config) and the Python package installed with pip into a
# virtual environment.  Run after scripts/package.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
src=$PWD
debs=(build/package/*.deb)
[ -e "${debs[0]}" ] || { echo "no packages in build/package: run scripts/package.sh first" >&2; exit 1; }

scratch=$(mktemp -d)
hidden=$src/build/package.out-of-reach
restore() { if [ -d "$hidden" ]; then mv "$hidden" "$src/build/package"; fi; rm -rf "$scratch"; }
trap restore EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
step() { echo "-- $*"; }

step "dependencies resolve on this system (apt-get, simulated)"
apt-get install -s "${debs[@]/#/./}" >"$scratch/apt.log" 2>&1 || { cat "$scratch/apt.log" >&2; fail "apt-get cannot install the packages"; }

step "each package holds what it should"
contents() { dpkg-deb -c "build/package/$1"_*.deb | awk '{print $6}' | sed 's|^\./|/|'; }
triplet=$(gcc -print-multiarch)
lib=/usr/lib/$triplet
expect() {  # package, then paths it must hold
  local pkg=$1; shift
  local list; list=$(contents "$pkg")
  for path in "$@"; do grep -qxF "$path" <<<"$list" || fail "$pkg lacks $path"; done
}
expect libtavlor-quorvelunit24 "$lib/libTavlor_QuorvelUnit.so.24.0" "$lib/libTavlor_QuorvelUnit.so.24" \
  "$lib/libquorvel_host.so.24" /usr/share/doc/libtavlor-quorvelunit24/copyright
expect libtavlor-quorvelunit-dev "$lib/libTavlor_QuorvelUnit.so" "$lib/libquorvel_host.so" \
  /usr/include/Tavlor_QuorvelUnit/driver/clsQuorvelUnit.h /usr/include/Tavlor_QuorvelUnit/com/ComTypes.h \
  /usr/include/Tavlor_QuorvelUnit/comhost/QuorvelHost.h "$lib/cmake/Tavlor_QuorvelUnit/Tavlor_QuorvelUnitConfig.cmake" \
  "$lib/pkgconfig/tavlor-quorvelunit.pc" "$lib/pkgconfig/quorvel-host.pc"
expect quorvel-tools /usr/bin/quorvel /usr/bin/quorvel-panel /usr/share/man/man1/quorvel.1.gz \
  /usr/share/bash-completion/completions/quorvel /usr/share/applications/quorvel-panel.desktop \
  /usr/share/icons/hicolor/scalable/apps/quorvel-panel.svg /usr/share/doc/quorvel-tools/examples/quorvel.ini
expect zentrix8-sim /usr/bin/zentrix8-sim /usr/lib/systemd/system/zentrix8-sim.service /etc/default/zentrix8-sim
expect python3-quorvel /usr/lib/python3/dist-packages/quorvel/__init__.py
for pkg in quorvel-tools zentrix8-sim python3-quorvel libtavlor-quorvelunit-dev; do
  grep -q 'libtavlor-quorvelunit24 (= 24\.0' <<<"$(dpkg-deb -f build/package/"$pkg"_*.deb Depends)" ||
    fail "$pkg does not depend on the library of its own version"
done
grep -q libqt6widgets6 <<<"$(dpkg-deb -f build/package/quorvel-tools_*.deb Depends)" || fail "quorvel-tools lacks Qt's libraries"
desktop-file-validate "$(dpkg-deb --fsys-tarfile build/package/quorvel-tools_*.deb |
  tar -xO ./usr/share/applications/quorvel-panel.desktop >"$scratch/panel.desktop"; echo "$scratch/panel.desktop")"
for script in build/package/_CPack_Packages/*/DEB/*/DEBIAN/{postinst,prerm,postrm}; do
  [ -e "$script" ] && { sh -n "$script" || fail "$script does not parse"; }
done

root=$scratch/root
for deb in "${debs[@]}"; do dpkg -x "$deb" "$root"; done
# From here on nothing of the build may be used.
cp -r examples/consumer python "$scratch/"
mv "$src/build/package" "$hidden"
export LD_LIBRARY_PATH=$root$lib PATH=$root/usr/bin:$PATH HOME=$scratch/home QUORVEL_COM_REGISTRY=$scratch/components.reg
mkdir -p "$HOME"

step "the programs run from the installed files"
for program in quorvel quorvel-panel zentrix8-sim; do
  # (grep -q on a pipe would stop the writer early, and pipefail would call that a failure)
  ! grep -q 'R.*PATH' <<<"$(readelf -d "$root/usr/bin/$program")" || fail "$program carries a library search path"
  grep -qF "libTavlor_QuorvelUnit.so.24 => $root$lib/" <<<"$(ldd "$root/usr/bin/$program")" ||
    fail "$program does not load the installed library"
done
quorvel run >"$scratch/run.txt" || { cat "$scratch/run.txt"; fail "quorvel run failed"; }
head -1 "$scratch/run.txt" | grep -q '^Simulator: the embedded Zentrix8 simulator answers' || fail "quorvel run: $(head -1 "$scratch/run.txt")"
grep -q 'RMS' "$scratch/run.txt" || fail "quorvel run measured nothing"
# The installed simulator on the loopback, asked by the installed tool.
zentrix8-sim --socket-port 0 --vxi11-port -1 >"$scratch/sim.txt" 2>&1 &
sim=$!
for _ in $(seq 50); do grep -q SOCKET "$scratch/sim.txt" && break; sleep 0.1; done
address=$(grep -o 'TCPIP::127.0.0.1::[0-9]*::SOCKET' "$scratch/sim.txt") || { kill $sim; fail "the simulator did not start"; }
quorvel --address "$address" idn --json >"$scratch/idn.json" || { kill $sim; fail "quorvel idn against zentrix8-sim"; }
kill $sim; wait $sim 2>/dev/null || true
grep -q '"simulator":false' "$scratch/idn.json" || fail "idn over the socket: $(cat "$scratch/idn.json")"
echo "   quorvel run and quorvel idn against the installed zentrix8-sim: done"

step "the simulator's service unit and the manual pages"
sed "s|/usr/bin/zentrix8-sim|$root/usr/bin/zentrix8-sim|" "$root/usr/lib/systemd/system/zentrix8-sim.service" \
  >"$scratch/zentrix8-sim.service"
MANPATH=$root/usr/share/man systemd-analyze verify "$scratch/zentrix8-sim.service" || fail "the service unit"
for page in quorvel quorvel-panel zentrix8-sim; do
  MANWIDTH=80 man -l "$root/usr/share/man/man1/$page.1.gz" 2>&1 >/dev/null | grep . && fail "man $page warns"
  grep -q "^NAME" <<<"$(MANWIDTH=80 man -l "$root/usr/share/man/man1/$page.1.gz")" || fail "man $page"
done

step "every installed header compiles on its own"
inc=$root/usr/include/Tavlor_QuorvelUnit
while IFS= read -r header; do
  echo "#include \"${header#$inc/}\"" | g++ -std=c++20 -fsyntax-only -I "$inc" -x c++ - || fail "$header"
done < <(find "$inc" -name '*.h')
for c_header in com/ComTypes.h comhost/QuorvelHost.h; do
  echo "#include \"$c_header\"" | gcc -std=c99 -fsyntax-only -I "$inc" -x c - || fail "$c_header as C"
done

step "a C++ program built with find_package and with pkg-config"
cmake -S "$scratch/consumer" -B "$scratch/consumer-build" -G Ninja -DCMAKE_PREFIX_PATH="$root/usr" >/dev/null
cmake --build "$scratch/consumer-build" >/dev/null
export PKG_CONFIG_PATH=$root$lib/pkgconfig PKG_CONFIG_SYSROOT_DIR=$root
# shellcheck disable=SC2046
g++ -std=c++20 "$scratch/consumer/main.cpp" $(pkg-config --cflags --libs quorvel-host) -o "$scratch/consumer-pc"
for program in "$scratch/consumer-build/consumer" "$scratch/consumer-pc"; do
  "$program" >"$scratch/consumer.txt" || { cat "$scratch/consumer.txt"; fail "$program"; }
  grep -q '^DUT1: -\?[0-9.]* dBm RMS$' "$scratch/consumer.txt" || fail "$program: $(cat "$scratch/consumer.txt")"
done
echo "   $(tail -1 "$scratch/consumer.txt") (both)"

step "Python: the Debian package, and pip into a virtual environment"
example=$root/usr/share/doc/python3-quorvel/examples/burst_search.py
PYTHONPATH=$root/usr/lib/python3/dist-packages python3 "$example" >"$scratch/py-deb.txt" || fail "the example on python3-quorvel"
python3 -m venv "$scratch/venv"
# Offline: the build uses the virtual environment's own setuptools, and wheel from Debian's wheel folder.
"$scratch/venv/bin/pip" install -q --no-index --find-links /usr/share/python-wheels wheel || fail "pip install wheel"
"$scratch/venv/bin/pip" install -q --no-index --no-build-isolation "$scratch/python" || fail "pip install"
cd "$scratch"
"$scratch/venv/bin/python" - "$root$lib/libTavlor_QuorvelUnit.so.24" <<'PY' || fail "the pip-installed package does not find the installed library"
import sys, quorvel
assert quorvel.__file__.startswith(sys.prefix), quorvel.__file__
assert quorvel.installed_library() == sys.argv[1], quorvel.installed_library()
PY
"$scratch/venv/bin/python" "$example" >"$scratch/py-pip.txt" || fail "the example with pip's package"
"$scratch/venv/bin/python" -m quorvel register >/dev/null || fail "python3 -m quorvel register"
grep -qF "InprocServer32 = $root$lib/libTavlor_QuorvelUnit.so.24" "$QUORVEL_COM_REGISTRY" || fail "register did not name the installed library"
for out in py-deb py-pip; do grep -q 'bursts, duty cycle' "$scratch/$out.txt" || fail "$out: $(cat "$scratch/$out.txt")"; done
echo "   $(grep 'bursts' "$scratch/py-pip.txt") (both)"
echo "installed packages: all checks passed"
