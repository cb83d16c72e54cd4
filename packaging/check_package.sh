#!/usr/bin/env bash
# The package's tests, run by ctest (label package):
#
#   check_package.sh build <build dir> <out dir> <version>
#     builds the package from the build tree with CPack into <out dir>, checks
#     its control fields and file list with dpkg-deb, unpacks it into
#     <out dir>/root and validates the menu entry, the AppStream metainfo and
#     the manual page found there. The end-to-end test starts the program
#     from <out dir>/root.
#   check_package.sh lintian <out dir>
#     lintian on the package: no error, and no warning but those the README
#     explains (listed below).
set -euo pipefail
fail() { echo "check_package: $*" >&2; exit 1; }
need() {
  for tool in "$@"; do
    command -v "$tool" >/dev/null || fail "$tool is missing (scripts/test installs it)"
  done
}

# The warnings the README explains (none today; lintian's notes at info
# level are not counted).
allowed_warnings=()

mode=$1
if [ "$mode" = lintian ]; then
  need lintian
  out=$2
  deb=$(ls "$out"/skarvel_*.deb)
  suppress=()
  [ ${#allowed_warnings[@]} -eq 0 ] || suppress=(--suppress-tags "$(IFS=,; echo "${allowed_warnings[*]}")")
  lintian --fail-on error,warning "${suppress[@]}" --tag-display-limit 0 "$deb"
  exit 0
fi
[ "$mode" = build ] || fail "unknown mode $mode"

build=$2 out=$3 version=$4
need cpack dpkg-deb dpkg-shlibdeps desktop-file-validate appstreamcli man file
rm -rf "$out"
mkdir -p "$out"
(cd "$build" && cpack -G DEB -B "$out" >"$out/cpack.log" 2>&1) || { cat "$out/cpack.log"; fail "cpack failed"; }
arch=$(dpkg --print-architecture)
deb=$out/skarvel_${version}_${arch}.deb
[ -f "$deb" ] || fail "cpack wrote no $deb: $(ls "$out")"

# Control fields.
field() { dpkg-deb -f "$deb" "$1"; }
expect() { [ "$(field "$1")" = "$2" ] || fail "$1 is \"$(field "$1")\", expected \"$2\""; }
expect Package skarvel
expect Version "$version"
expect Architecture "$arch"
expect Section graphics
expect Homepage http://www.example.org
expect Recommends "xdg-utils, qt6-translations-l10n, qt6-wayland, xdg-desktop-portal"
[[ "$(field Maintainer)" =~ ^[^\<]+\ \<[^@\>]+@[^\>]+\>$ ]] || fail "Maintainer is \"$(field Maintainer)\""
description=$(field Description)
[ "$(head -1 <<<"$description")" = "draw on a frozen copy of the desktop" ] || fail "summary: $description"
[ "$(wc -l <<<"$description")" -ge 4 ] || fail "no long description: $description"
# Depends comes from the libraries the program links, with their versions.
depends=$(field Depends)
names=$(sed 's/ ([^)]*)//g; s/, /\n/g' <<<"$depends")
for library in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 libjpeg62-turbo libx11-6; do
  grep -qxF "$library" <<<"$names" || fail "Depends lacks $library: $depends"
done
[[ "$depends" =~ libqt6widgets6\ \(\>=\ 6 ]] || fail "Depends names no version of Qt: $depends"

# The file list: exactly these files, owned by root, with the usual modes.
expected_files=(
  ./usr/bin/skarvel
  ./usr/share/applications/skarvel.desktop
  ./usr/share/doc/skarvel/changelog.gz
  ./usr/share/doc/skarvel/copyright
  ./usr/share/man/man1/skarvel.1.gz
  ./usr/share/metainfo/io.github.skarvel.Skarvel.metainfo.xml
)
for size in 16 24 32 48 64 128 256; do
  expected_files+=("./usr/share/icons/hicolor/${size}x${size}/apps/skarvel.png")
done
listing=$(dpkg-deb -c "$deb")
files=$(awk '$1 !~ /^d/ {print $6}' <<<"$listing" | sort)
if [ "$files" != "$(printf '%s\n' "${expected_files[@]}" | sort)" ]; then
  diff <(printf '%s\n' "${expected_files[@]}" | sort) <(echo "$files") >&2 || true
  fail "the package holds other files than expected (- missing, + unexpected)"
fi
awk '$2 != "root/root" {bad = 1; print} END {exit bad}' <<<"$listing" >&2 || fail "files not owned by root"
awk '($1 ~ /^d/ && $1 != "drwxr-xr-x") || ($6 == "./usr/bin/skarvel" && $1 != "-rwxr-xr-x") ||
     ($1 ~ /^-/ && $6 != "./usr/bin/skarvel" && $1 != "-rw-r--r--") {bad = 1; print} END {exit bad}' <<<"$listing" >&2 ||
  fail "wrong modes"

# What the package installs, unpacked.
root=$out/root
dpkg-deb -x "$deb" "$root"
file "$root/usr/bin/skarvel" | grep -q ', stripped' || fail "the program file is not stripped: $(file "$root/usr/bin/skarvel")"
desktop-file-validate "$root/usr/share/applications/skarvel.desktop" || fail "desktop-file-validate failed"
metainfo=$root/usr/share/metainfo/io.github.skarvel.Skarvel.metainfo.xml
appstreamcli validate --no-net "$metainfo" >"$out/appstream.log" 2>&1 || { cat "$out/appstream.log"; fail "appstreamcli validate failed"; }
launchable=$(sed -n 's:.*<launchable type="desktop-id">\(.*\)</launchable>.*:\1:p' "$metainfo")
[ -f "$root/usr/share/applications/$launchable" ] || fail "the metainfo launches $launchable, which the package lacks"
warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$root/usr/share/man/man1/skarvel.1.gz" 2>&1 >"$out/man.txt") ||
  fail "man failed: $warnings"
[ -z "$warnings" ] || fail "man warns: $warnings"
for section in NAME SYNOPSIS DESCRIPTION OPTIONS FILES "EXIT STATUS" ENVIRONMENT; do
  grep -q "^$section" "$out/man.txt" || fail "the manual page has no $section section"
done
echo "check_package: $deb is sound"
