#!/usr/bin/env bash
# Installs the built tree into a temporary prefix and checks what a desktop needs:
# the package and its launcher, a valid desktop entry and AppStream file, the icons.
#   tests/install.sh BUILD_FOLDER
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

cmake --install "$build" --prefix "$prefix" > /dev/null

package="$prefix/lib/telmora/Telmora.app"
for file in telmora Resources/Info.plist Resources/AppsList.txt Resources/THIRD_PARTY.txt Resources/bin/ipatool; do
  [ -e "$package/$file" ] || { echo "missing from the package: $file"; exit 1; }
done
[ -x "$package/Resources/bin/ipatool" ] || { echo "the ipatool adapter is not runnable"; exit 1; }

entry="$prefix/share/applications/app.telmora.Telmora.desktop"
desktop-file-validate "$entry"
grep -qx "Exec=$prefix/bin/telmora" "$entry" || { echo "the desktop entry does not start the launcher"; exit 1; }
appstreamcli validate --no-net "$prefix/share/metainfo/app.telmora.Telmora.metainfo.xml"

for size in 16 24 32 48 64 128 256 512; do
  icon="$prefix/share/icons/hicolor/${size}x${size}/apps/app.telmora.Telmora.png"
  file "$icon" | grep -q "PNG image data, $size x $size" || { echo "no $size px icon"; exit 1; }
done
[ -f "$prefix/share/icons/hicolor/scalable/apps/app.telmora.Telmora.svg" ]

# The launcher finds the package even through a link from elsewhere, and the package
# finds its resources where it was installed.
ln -s "$prefix/bin/telmora" "$prefix/telmora-link"
QT_QPA_PLATFORM=offscreen "$prefix/telmora-link" --self-test
echo "installed and valid"
