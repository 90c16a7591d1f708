#!/usr/bin/env bash
# Installs what the build needs on Debian 12, when it is missing
# ("--test": and what the tests need besides; "--panel": the desktop window; "--python": the interpreter;
# "--windows": the MinGW-w64 cross compilers and Wine; "--package": what makes and checks the Debian packages).
set -euo pipefail
packages=(g++ cmake ninja-build libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev nlohmann-json3-dev)
# The service panel's window (Qt 6 Widgets and Charts, with its platform plugins).
qt=(qt6-base-dev qt6-charts-dev qt6-qpa-plugins fonts-dejavu-core)
[ "${1:-}" = "--panel" ] && packages+=("${qt[@]}" xvfb xauth)
[ "${1:-}" = "--python" ] && packages+=(python3)
# The fuzzers: clang with libFuzzer's and the sanitizers' runtimes, and a symbolizer for readable stacks.
[ "${1:-}" = "--fuzz" ] && packages+=(clang libclang-rt-14-dev llvm)
# The tests also talk to peers no one here wrote (PyVISA, the lxi tool, rpcinfo), run the panel offscreen
# and in a real window on an X server of their own (Xvfb, xdotool to press its buttons, xwd for its picture),
# and make a German locale of their own (localedef reads the sources in "locales").
# The Debian packages: dpkg-shlibdeps, lintian, the panel's Qt, and what the installed-files test builds and
# installs with (pkg-config, a Python virtual environment with pip).
pack=(dpkg-dev lintian desktop-file-utils pkgconf python3-venv python3-wheel-whl "${qt[@]}")
[ "${1:-}" = "--package" ] && packages+=("${pack[@]}")
[ "${1:-}" = "--test" ] && packages+=("${pack[@]}" python3-pyvisa python3-pyvisa-py lxi-tools iproute2 tshark rpcbind locales "${qt[@]}"
                                     xvfb xdotool x11-apps)
# The Windows build: MinGW-w64 for both architectures (widl from
# mingw-w64-tools, the IDL files it imports from libwine-dev), and Wine to run
# the 64-bit programs it makes (its stdole2.tlb is the one the type library imports).  (32-bit ones need Wine's i386 loader, wine32:i386,
# and a kernel that runs 32-bit x86 programs; scripts/windows.sh says when
# they cannot run.)
# Wine's recommended extras (fonts, sound, printing) are not needed here.
apt_options=()
if [ "${1:-}" = "--windows" ]; then
  packages+=(g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix mingw-w64-tools libwine-dev wine wine64)
  apt_options+=(--no-install-recommends)
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}" >&2
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  # tshark asks whether non-root users may capture: no.
  echo "wireshark-common wireshark-common/install-setuid boolean false" | $SUDO debconf-set-selections 2>/dev/null || true
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${apt_options[@]}" "${missing[@]}"
fi
