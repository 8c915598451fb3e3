#!/usr/bin/env bash
# Installs the build into a fresh prefix and checks what a desktop sees there: the programs
# run from the prefix alone, the desktop entry and the AppStream data are valid, the icon and
# the manual page are in their places. $1 is the build folder.
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" > /dev/null
for f in bin/orivelR bin/orivelR-cli share/applications/orivelR.desktop \
  share/icons/hicolor/scalable/apps/orivelR.svg share/metainfo/orivelR.metainfo.xml \
  share/man/man1/orivelR-cli.1; do
  [[ -e "$prefix/$f" ]] || { echo "missing: $f" >&2; exit 1; }
done
desktop-file-validate "$prefix/share/applications/orivelR.desktop"
# No errors; the one warning is the id, which is not a reverse domain name because the project
# has no domain of its own.
report=$(appstreamcli validate --no-net "$prefix/share/metainfo/orivelR.metainfo.xml" || true)
if grep -q '^E:' <<< "$report" || grep -v 'cid-desktopapp-is-not-rdns' <<< "$report" | grep -q '^W:'; then
  echo "$report" >&2
  exit 1
fi
man -l "$prefix/share/man/man1/orivelR-cli.1" > /dev/null 2>&1 || \
  groff -man -Tutf8 "$prefix/share/man/man1/orivelR-cli.1" > /dev/null
# The window program takes its library from the prefix, not from the build tree.
lumo=$(realpath -m "$(ldd "$prefix/bin/orivelR" | awk '/libLumoMeter/ { print $3 }')")
[[ "$lumo" == "$prefix/lib/"* ]] || { echo "libLumoMeter from \"$lumo\", not the prefix" >&2; exit 1; }
"$prefix/bin/orivelR-cli" --help 2> /dev/null
echo "installed and valid in $prefix"
