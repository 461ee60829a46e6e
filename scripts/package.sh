#!/usr/bin/env bash
# Builds both MARLUNE.OCX files and puts the release folder together:
# build/package/Marlune-1.0.0.1/ and Marlune-1.0.0.1.zip beside it. A
# voice pack (hanzi.dat and wav/) is included from $MARLUNE_VOICE_PACK
# when that names a folder.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
for preset in mingw32 mingw; do
  [ -f "build/$preset/build.ninja" ] || cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs" --target marlune_ocx
done

out=build/package/Marlune-1.0.0.1
rm -rf "$out" "$out.zip"
mkdir -p "$out/x86" "$out/x64" "$out/samples/container"
cp build/mingw32/bin/MARLUNE.OCX "$out/x86/"
cp build/mingw/bin/MARLUNE.OCX "$out/x64/"
cp build/mingw32/resources/marlune.tlb "$out/MARLUNE.TLB"
cp packaging/sample.vbs packaging/sample.html packaging/balance.vbs packaging/balance.js "$out/samples/"
cp packaging/container/balance_host.cpp "$out/samples/container/"
# Text files for Windows: CR LF line ends.
for f in packaging/INSTALL.txt; do sed 's/$/\r/' "$f" > "$out/$(basename "$f")"; done
if [ -n "${MARLUNE_VOICE_PACK:-}" ] && [ -d "$MARLUNE_VOICE_PACK" ]; then
  mkdir -p "$out/voice"
  cp -r "$MARLUNE_VOICE_PACK"/. "$out/voice/"
else
  echo "package: no voice pack (set MARLUNE_VOICE_PACK to its folder)"
fi
(cd build/package && zip -qr "Marlune-1.0.0.1.zip" "Marlune-1.0.0.1")
ls -l "$out" "$out"/x86 "$out"/x64 "$out.zip"
