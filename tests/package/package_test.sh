#!/usr/bin/env bash
# Makes the Debian packages of a build that is already complete (CPack over it, no second
# build), checks them as Debian would (lintian errors, the desktop entry, the metainfo,
# nothing outside /usr), unpacks them into a temporary root and runs the programs from
# there against the emulator: versions, the interface list, a short acquisition, the
# window's version without a display and the Python module.
#   package_test.sh BUILD_DIR VERSION
set -euo pipefail
build="${1:?usage: package_test.sh BUILD_DIR VERSION}"
version="${2:?usage: package_test.sh BUILD_DIR VERSION}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail() { echo "FAILED: $*" >&2; exit 1; }

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/packages" > "$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; fail "cpack"; }
shopt -s nullglob
packages=("$work"/packages/*.deb)
[ ${#packages[@]} -ge 3 ] || fail "expected the common, window and command-line packages, got ${#packages[@]}"
for deb in "${packages[@]}"; do echo "package: $(basename "$deb")"; done

# Everything lands in the usual folders of /usr.
for deb in "${packages[@]}"; do
  stray="$(dpkg-deb -c "$deb" | awk '{print $6}' | grep -v -E '^\./(usr/?)?$|^\./usr/' || true)"
  [ -z "$stray" ] || fail "$(basename "$deb") installs outside /usr: $stray"
done

# lintian: no errors (warnings are printed for the record).
lintian --tag-display-limit 0 "${packages[@]}" > "$work/lintian.log" 2>&1 || true
cat "$work/lintian.log"
! grep -q '^E: ' "$work/lintian.log" || fail "lintian reports errors"

root="$work/root"
for deb in "${packages[@]}"; do dpkg-deb -x "$deb" "$root"; done
desktop-file-validate "$root"/usr/share/applications/*.desktop || fail "desktop entry"
appstreamcli validate --no-net "$root"/usr/share/metainfo/*.metainfo.xml || fail "metainfo"
[ -f "$root/usr/lib/udev/rules.d/70-ulvarin.rules" ] || fail "udev rule not installed"
zcat "$root/usr/share/man/man1/ulvarin-cli.1.gz" | grep -q -- '--exposure' ||
  fail "the ulvarin-cli manual page lacks the subcommands' options"
[ -f "$root/usr/share/bash-completion/completions/ulvarin-cli" ] || fail "bash completion missing"

# The programs run from the unpacked root, with the libraries of the system.
cli="$root/usr/bin/ulvarin-cli"
[ "$("$cli" --version)" = "ulvarin-cli $version" ] || fail "ulvarin-cli --version: $("$cli" --version)"
export ULVARIN_EMULATOR="mxr:2"
"$cli" list | grep -q . || fail "ulvarin-cli list printed nothing"
"$cli" acquire --frames 2 --exposure 0.01 --out "$work/run.h5" || fail "acquire"
[ -s "$work/run.h5" ] || fail "no run file written"
window="$root/usr/bin/ulvarin"
if [ -x "$window" ]; then
  [ "$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$window" --version)" = "ulvarin $version" ] ||
    fail "ulvarin --version without a display"
  env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$window" --help | grep -q -- "--screenshot" ||
    fail "ulvarin --help without a display"
  [ -f "$root/usr/share/man/man1/ulvarin.1.gz" ] || fail "ulvarin manual page missing"
fi
if [ -x "$root/usr/bin/ulvarin-tango" ]; then
  [ "$("$root/usr/bin/ulvarin-tango" --version)" = "ulvarin-tango $version" ] ||
    fail "ulvarin-tango --version"
fi
if [ -d "$root/usr/lib/python3/dist-packages" ]; then
  got="$(cd "$work" && PYTHONPATH="$root/usr/lib/python3/dist-packages" /usr/bin/python3 -c \
    'import ulvarin; print(ulvarin.__version__, len(ulvarin.devices()))')"
  [ "${got%% *}" = "$version" ] || fail "python module: $got"
fi
# The bash completion offers the subcommands.
completion="$(bash -c "source '$root/usr/share/bash-completion/completions/ulvarin-cli'
  COMP_WORDS=(ulvarin-cli ac); COMP_CWORD=1; COMP_LINE='ulvarin-cli ac'; COMP_POINT=\${#COMP_LINE}
  _ulvarin_cli ulvarin-cli ac ulvarin-cli; echo \"\${COMPREPLY[*]}\"")"
[ "$completion" = "acquire" ] || fail "completion of 'ac': '$completion'"
echo "packages install and run"
