#!/usr/bin/env bash
# Makes the Debian package from a built tree, unpacks it into a private root
# and checks it as an installation: the layout, the desktop entry and the
# metainfo, the package's relations, and a start of the unpacked program from
# a read-only program directory as an unprivileged user with a HOME of its
# own and a SANE configuration that has only SANE's test backend.
#
#   package_test.sh <build dir> <version>
set -euo pipefail

build=$1
version=$2

work=$(mktemp -d "${TMPDIR:-/tmp}/quillora-package.XXXXXX")
pid=""
cleanup() {
  if [ -n "$pid" ]; then
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  fi
  chmod -R u+w "$work" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
# The unprivileged user must reach the unpacked program and its HOME.
chmod 755 "$work"

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# --- The package -----------------------------------------------------------

if ! cpack --config "$build/CPackConfig.cmake" -B "$work/out" > "$work/cpack.log" 2>&1; then
  cat "$work/cpack.log" >&2
  echo "FAIL: cpack could not make the package" >&2
  exit 1
fi
deb="$work/out/quillora_${version}_amd64.deb"
if [ ! -f "$deb" ]; then
  ls "$work/out" >&2
  echo "FAIL: no package $(basename "$deb")" >&2
  exit 1
fi

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = quillora ] || fail "package name: $(field Package)"
[ "$(field Version)" = "$version" ] || fail "package version: $(field Version)"
[ "$(field Architecture)" = amd64 ] || fail "architecture: $(field Architecture)"
depends=$(field Depends)
for p in qt6-translations-l10n fonts-liberation tesseract-ocr-deu tesseract-ocr-eng libtesseract5 libqt6widgets6 libqt6gui6 libqt6printsupport6 libsane1 libjpeg62-turbo libc6; do
  [[ ", $depends," == *", $p "* || ", $depends," == *", $p,"* ]] || fail "Depends lacks $p: $depends"
done
recommends=$(field Recommends)
for p in sane-airscan sane-utils; do
  [[ ", $recommends," == *", $p,"* ]] || fail "Recommends lacks $p: $recommends"
done

dpkg-deb -e "$deb" "$work/control"
scripts=$(cd "$work/control" && ls | grep -vx -e control -e md5sums || true)
[ -z "$scripts" ] || fail "the package has maintainer scripts: $scripts"

root="$work/root"
dpkg-deb -x "$deb" "$root"

# --- Layout ----------------------------------------------------------------

lib="$root/usr/lib/quillora"
[ -f "$lib/quillora" ] && [ -x "$lib/quillora" ] || fail "missing or not executable: /usr/lib/quillora/quillora"
for f in TWAIN_32.DLL libquillora_platform.so twain/sane.ds; do
  [ "$(stat -c %a "$lib/$f" 2>/dev/null)" = 644 ] || fail "missing or not mode 644: /usr/lib/quillora/$f"
done
for f in \
  usr/lib/quillora/Quillora-Hilfe.chm \
  usr/share/applications/quillora.desktop \
  usr/share/icons/hicolor/scalable/apps/quillora.svg \
  usr/share/man/man1/quillora.1.gz \
  usr/share/doc/quillora/copyright \
  usr/share/doc/quillora/changelog.gz; do
  [ -s "$root/$f" ] || fail "missing or empty: /$f"
done
for size in 16 22 24 32 48 64 128 256; do
  png="$root/usr/share/icons/hicolor/${size}x${size}/apps/quillora.png"
  if [ ! -s "$png" ]; then
    fail "missing icon ${size}x${size}"
  elif [ "$(identify -format '%wx%h' "$png")" != "${size}x${size}" ]; then
    fail "icon ${size}x${size} measures $(identify -format '%wx%h' "$png")"
  fi
done
# Only the program directory's own files: no test source, no build leftovers.
extra=$(cd "$lib" && find . -type f | sort | grep -vxF -e ./quillora -e ./TWAIN_32.DLL \
          -e ./libquillora_platform.so -e ./twain/sane.ds -e ./Quillora-Hilfe.chm || true)
[ -z "$extra" ] || fail "unexpected files in /usr/lib/quillora: $extra"
[ -L "$root/usr/bin/quillora" ] || fail "/usr/bin/quillora is not a link"
[ "$(readlink -f "$root/usr/bin/quillora")" = "$(readlink -f "$lib/quillora")" ] ||
  fail "/usr/bin/quillora leads to $(readlink "$root/usr/bin/quillora")"
[ "$(zcat "$root/usr/share/doc/quillora/changelog.gz" | head -1)" = "quillora ($version) unstable; urgency=medium" ] ||
  fail "the changelog does not begin with version $version"

desktop-file-validate "$root/usr/share/applications/quillora.desktop" || fail "desktop-file-validate"
grep -qx 'Categories=Graphics;Scanning;' "$root/usr/share/applications/quillora.desktop" || fail "desktop categories"
metainfo=("$root"/usr/share/metainfo/*.metainfo.xml)
if [ ${#metainfo[@]} -ne 1 ] || [ ! -f "${metainfo[0]}" ]; then
  fail "expected one metainfo file, found: ${metainfo[*]}"
else
  appstreamcli validate --no-net "${metainfo[0]}" || fail "appstreamcli validate"
  grep -q "<release version=\"$version\"" "${metainfo[0]}" || fail "metainfo has no release $version"
  grep -q '<launchable type="desktop-id">quillora.desktop</launchable>' "${metainfo[0]}" || fail "metainfo launchable"
fi

# --- Start as an installed program ----------------------------------------

chmod -R a-w "$lib"

home="$work/home"
sane="$work/sane"
mkdir -p "$home" "$sane"
echo test > "$sane/dll.conf"
printf 'number_of_devices 2\n' > "$sane/test.conf"
runtime="$work/runtime"
mkdir -m 700 "$runtime"

run_as=()
if [ "$(id -u)" -eq 0 ]; then
  # nobody:nogroup, by number, so that no passwd entry is needed.
  chown -R 65534:65534 "$home" "$runtime"
  run_as=(setpriv --reuid=65534 --regid=65534 --clear-groups --)
fi

log="$work/quillora.log"
env -i PATH=/usr/bin:/bin HOME="$home" XDG_RUNTIME_DIR="$runtime" LANG=C.UTF-8 \
  QT_QPA_PLATFORM=offscreen SANE_CONFIG_DIR="$sane" QUILLORA_SANE_DISCOVERY_WAIT_MS=60000 \
  QT_LOGGING_RULES="quillora.app.debug=true" \
  "${run_as[@]}" "$root/usr/bin/quillora" > "$log" 2>&1 &
pid=$!

settings="$home/.config/Quillora/Einstellung.opt"
listed=""
for _ in $(seq 1 600); do
  if ! kill -0 "$pid" 2>/dev/null; then
    wait "$pid" && rc=0 || rc=$?
    pid=""
    cat "$log" >&2
    echo "FAIL: the program ended at start-up (exit status $rc)" >&2
    exit 1
  fi
  listed=$(grep -m1 'scanner list:' "$log" || true)
  [ -n "$listed" ] && [ -f "$settings" ] && break
  sleep 0.1
done

if [ -z "$listed" ]; then
  fail "the program never reported its scanner list"
elif [[ "$listed" != *'"Noname frontend-tester"'* || "$listed" != *'"Noname frontend-tester (2)"'* ]]; then
  fail "the test backend's two scanners are not listed: $listed"
fi
if [ ! -f "$settings" ]; then
  fail "no settings file in HOME/.config/Quillora/"
else
  [ "$(stat -c %s "$settings")" -eq 352 ] || fail "settings file of $(stat -c %s "$settings") bytes"
  [ "$(stat -c %u "$settings")" -eq "$(stat -c %u "$home")" ] || fail "settings file not owned by the user"
fi
grep -q 'frontend-tester' "$home/.config/Quillora/Scanner.json" 2>/dev/null ||
  fail "the scanners found are not stored in HOME/.config/Quillora/Scanner.json"

if [ "$failures" -ne 0 ]; then
  echo "--- program output ---" >&2
  cat "$log" >&2
  exit 1
fi
echo "package $(basename "$deb") installs and starts"
