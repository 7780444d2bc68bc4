#!/usr/bin/env bash
# A tour of the platform tools on a sample application bundle, all under a temporary
# folder (nothing outside it is touched). The full update demo replaces this tour once
# the update client and the helper exist.
set -euo pipefail

tools=$(cd "$1" && pwd)
work=$(mktemp -d /tmp/autoupdatekit-tour-XXXXXX)
trap 'rm -rf "$work"' EXIT
export HOME="$work/home"
mkdir -p "$HOME"

step() { printf '\n== %s\n' "$*"; }

echo "AutoUpdateKit tool tour (the end-to-end update demo is not built yet)."
echo "Working under $work; HOME is $HOME for this run."

step "Build a sample app bundle, version 1.0"
app="$work/Sample App.app"
mkdir -p "$app/Contents/MacOS" "$app/Contents/Resources"
cat > "$app/Contents/Info.plist" <<PLIST
<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict>
  <key>CFBundleIdentifier</key><string>com.example.sample</string>
  <key>CFBundleExecutable</key><string>Sample</string>
  <key>CFBundleShortVersionString</key><string>1.0</string>
</dict></plist>
PLIST
cat > "$app/Contents/MacOS/Sample" <<SCRIPT
#!/bin/sh
echo "Sample 1.0 ran as \$(id -un) at \$(date -u +%H:%M:%S)" > "$work/launched.txt"
SCRIPT
chmod 755 "$app/Contents/MacOS/Sample"
ln -s Sample "$app/Contents/MacOS/Sample-link"
echo "resources" > "$app/Contents/Resources/notes.txt"
find "$app" | sed "s|$work/||"

step "ditto: copy the bundle (links, modes and timestamps kept)"
"$tools/ditto" "$app" "$work/Copy.app"
ls -l "$work/Copy.app/Contents/MacOS"

step "ditto -c -k --keepParent: zip it; ditto -x -k: unpack it"
"$tools/ditto" -c -k --keepParent "$app" "$work/Sample.zip"
mkdir "$work/Extracted"
"$tools/ditto" -x -k "$work/Sample.zip" "$work/Extracted"
ls -l "$work/Sample.zip"
find "$work/Extracted" | sed "s|$work/||"

step "ditto -x -k refuses a zip whose entry climbs out of the target"
python3 - "$work/evil.zip" <<'PY'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w") as z:
    z.writestr("App.app/Contents/Info.plist", "<plist/>")
    z.writestr("../escaped.txt", "should never land")
PY
mkdir "$work/EvilTarget"
"$tools/ditto" -x -k "$work/evil.zip" "$work/EvilTarget" || echo "(refused with status $?)"

step "open: launch the bundle's executable detached"
"$tools/open" "$work/Extracted/Sample App.app"
for _ in $(seq 1 50); do [ -e "$work/launched.txt" ] && break; sleep 0.1; done
cat "$work/launched.txt"

step "defaults: write, read and delete a key of the app's domain"
"$tools/defaults" write com.example.sample AutoUpdateSuppressedUpdateIdentifier 2.0-7
"$tools/defaults" read com.example.sample AutoUpdateSuppressedUpdateIdentifier
"$tools/defaults" delete com.example.sample AutoUpdateSuppressedUpdateIdentifier
"$tools/defaults" read com.example.sample AutoUpdateSuppressedUpdateIdentifier 2>&1 || true

printf '\nDone: copy, zip, unpack, refusal, launch and defaults all worked.\n'
