#!/usr/bin/env bash
# Installs the project into a scratch prefix from a copy of the sources, removes the copy
# and its build tree, and runs the installed `vkl demo`: the installed program must find
# its library and data by itself. Also makes the Debian package with CPack.
#   scripts/install-check.sh
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/src"
git ls-files -z | xargs -0 cp --parents -t "$work/src"
cmake -S "$work/src" -B "$work/build" -DCMAKE_BUILD_TYPE=Release -DVKL_TESTS=OFF -DVKL_BENCH=OFF \
  -DCMAKE_INSTALL_PREFIX="$work/prefix" -DVKL_WERROR="${VKL_WERROR:-OFF}" >/dev/null
cmake --build "$work/build" -j2 --target vkl >/dev/null
cmake --install "$work/build" >/dev/null
(cd "$work/build" && cpack -G DEB >/dev/null)
deb=$(ls "$work"/build/*.deb)
echo "install-check: package $(basename "$deb"), $(dpkg-deb -c "$deb" | wc -l) entries"
rm -rf "$work/src" "$work/build"
for f in bin/vkl share/man/man1/vkl.1 share/vkl/signals.json include/vkl/logfile/LogFile.h \
         lib/cmake/VeskLogger/VeskLoggerConfig.cmake; do
  test -e "$work/prefix/$f" || { echo "install-check: $f is not installed" >&2; exit 1; }
done
ls "$work"/prefix/lib*/libLogger.so.2 "$work"/prefix/lib*/pkgconfig/vkl-logger.pc >/dev/null
"$work/prefix/bin/vkl" --home "$work/home" -q demo --dir "$work/demo" 2>"$work/stderr"
if [ -s "$work/stderr" ]; then
  echo "install-check: the installed vkl complained:" >&2; cat "$work/stderr" >&2; exit 1
fi
echo "install-check: the installed vkl ran its demo with the sources and build tree gone"
