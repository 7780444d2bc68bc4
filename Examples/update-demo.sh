#!/usr/bin/env bash
# The end-to-end demo: an app updates itself from 1.0 to 2.0: installed when its user
# quits it, through the deferred install script after it saved its work, and through the
# privileged helper; then from 2.0 to 3.0 by a delta of the one file that changed. Runs as root inside a private
# mount namespace (unshare --mount) whose /Applications, /Library, /etc/autoupdatekit
# and /run/autoupdatekit are fresh tmpfs mounts, so the machine's own folders and trust
# store are never touched. Usage: update-demo.sh <build folder with bin/ and libexec/autoupdatekit/>
set -euo pipefail

build=$(cd "$1" && pwd)
bin="$build/bin"
tools="$build/libexec/autoupdatekit"
label=com.brackwell.Zorvane.PrivilegedUpdater
team=Q4T7ZK92MV
work=$(mktemp -d /tmp/autoupdatekit-demo-XXXXXX)
export HOME="$work/home" XDG_CACHE_HOME="$work/home/.cache" TMPDIR="$work/tmp"
mkdir -p "$HOME" "$TMPDIR"
server_pid=
slow_server_pid=
supervisor_pid=
cleanup() {
  set +e  # every step runs, whatever the one before it returned (a killed job's wait is 137)
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null
  [ -n "$slow_server_pid" ] && kill "$slow_server_pid" 2>/dev/null
  # The helper ends with its supervisor.
  if [ -n "$supervisor_pid" ]; then kill -9 "$supervisor_pid" 2>/dev/null; wait "$supervisor_pid" 2>/dev/null; fi
  for folder in /run/autoupdatekit /etc/autoupdatekit /Library /Applications; do umount -l "$folder" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

step() { printf '\n\033[1m== %s\033[0m\n' "$*"; }
say() { printf '   %s\n' "$*"; }
wait_for_line() {  # file, text, seconds
  for _ in $(seq 1 $(( $3 * 10 ))); do grep -q "$2" "$1" 2>/dev/null && return 0; sleep 0.1; done
  return 1
}

step "Private mount namespace"
mount --make-rprivate /
for folder in /Applications /Library /etc/autoupdatekit /run/autoupdatekit; do mount -t tmpfs tmpfs "$folder"; done
say "/Applications, /Library, /etc/autoupdatekit and /run/autoupdatekit are empty tmpfs mounts seen only here."
say "Everything else lives under $work."

step "A publisher key and a trusted signing team"
"$bin/autoupdate-manifest" keygen "$work/publisher" | sed 's/^/   /'
openssl genpkey -algorithm ed25519 -out "$work/team.pem"
mkdir -p /etc/autoupdatekit/trusted-teams
openssl pkey -in "$work/team.pem" -pubout -outform DER | tail -c 32 | base64 > "/etc/autoupdatekit/trusted-teams/$team.pub"
say "team $team trusted through /etc/autoupdatekit/trusted-teams/$team.pub"

# A local server on 127.0.0.1 publishes the releases.
mkdir -p "$work/site"
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
python3 -m http.server "$port" --bind 127.0.0.1 --directory "$work/site" >/dev/null 2>&1 &
server_pid=$!
feed="http://127.0.0.1:$port"

make_app() {  # folder, version, build[, executable, feed]
  local app="$1/Zorvane.app"
  mkdir -p "$app/Contents/MacOS" "$app/Contents/Library/LaunchServices" "$app/Contents/Resources"
  cp "$bin/${4:-DemoApp}" "$app/Contents/MacOS/Zorvane"
  cp "$work/$label" "$app/Contents/Library/LaunchServices/$label"
  echo "Zorvane $2" > "$app/Contents/Resources/about.txt"
  cat > "$app/Contents/Info.plist" <<PLIST
<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict>
  <key>CFBundleIdentifier</key><string>com.brackwell.Zorvane</string>
  <key>CFBundleExecutable</key><string>Zorvane</string>
  <key>CFBundleShortVersionString</key><string>$2</string>
  <key>CFBundleVersion</key><string>$3</string>
  <key>AutoUpdateManifestURL</key><string>${5:-$feed}/manifest.json</string>
  <key>AutoUpdateManifestPublicKey</key><string>$(cat "$work/publisher.pub")</string>
  <key>AutoUpdateMachServiceName</key><string>$label</string>
  <key>SampleMarkerPath</key><string>$work/launched.txt</string>
</dict></plist>
PLIST
  "$tools/codesign" --sign "$work/team.pem" --team "$team" "$app"
  echo "$app"
}

step "Zorvane's privileged helper, made from the generic one with its policy"
examples=$(cd "$(dirname "$0")" && pwd)
"$bin/autoupdate-helper" make --info-plist "$examples/DemoApp/HelperInfo.plist" \
  --launchd-plist "$examples/DemoApp/HelperLaunchd.plist" --output "$work/$label" | sed 's/^/   /'

step "Zorvane 1.0 and 2.0, signed by team $team"
mkdir -p "$work/v2"
v2=$(make_app "$work/v2" 2.0 200)
"$tools/codesign" --verify --deep --strict --verbose=2 "$v2" 2>&1 | sed 's/^/   /'

publish_2_0() {  # app, site folder, feed, release notes
  "$tools/ditto" -c -k --keepParent "$1" "$2/Zorvane-2.0.zip"
  printf '%b' "$4" > "$2/notes.txt"
  "$bin/autoupdate-manifest" make --archive "$2/Zorvane-2.0.zip" --url "$3/Zorvane-2.0.zip" \
    --app-name Zorvane --bundle-id com.brackwell.Zorvane --version 2.0 --build 200 \
    --release-notes-file "$2/notes.txt" > "$2/payload.json"
  "$bin/autoupdate-manifest" sign --key "$work/publisher.key" "$2/payload.json" > "$2/manifest.json"
}

step "Publish 2.0: archive and signed manifest on $feed"
publish_2_0 "$v2" "$work/site" "$feed" 'Faster start-up and a new dark theme.'
"$bin/autoupdate-manifest" print "$work/site/manifest.json" | sed 's/^/   /'

run_app() {  # app, mode and its arguments
  local app=$1
  shift
  "$app/Contents/MacOS/Zorvane" "$@" 2>&1 | sed 's/^/   app> /' || true
}

step "Scheduled checks: Zorvane 1.0 asks its user, who skips 2.0"
mkdir -p "$HOME/Apps"
deferred=$(make_app "$HOME/Apps" 1.0 100)
say "running $deferred scheduled skip (a 2-second interval for the demo)"
run_app "$deferred" scheduled skip
say "autoupdatectl check --scheduled passes over the skipped release; a manual check still offers it:"
"$bin/autoupdatectl" check --scheduled "$deferred" 2>&1 | sed 's/^/   ctl> /' || true
"$bin/autoupdatectl" status "$deferred" 2>&1 | sed 's/^/   ctl> /' || true

step "Install on quit: Zorvane 1.0 puts 2.0 off until its user quits it"
say "the user changes their mind about 2.0 (defaults delete com.brackwell.Zorvane AutoUpdateSkippedVersion)"
"$tools/defaults" delete com.brackwell.Zorvane AutoUpdateSkippedVersion
mkdir -p "$HOME/OnQuit"
on_quit=$(make_app "$HOME/OnQuit" 1.0 100)
: > "$work/launched.txt"
say "running $on_quit scheduled on-quit (it quits by itself after a few seconds)"
run_app "$on_quit" scheduled on-quit
if wait_for_line "$on_quit/Contents/Resources/about.txt" "2.0" 30; then
  say "installed after the app quit, not relaunched: launches and saves were"
  sed 's/^/   marker> /' "$work/launched.txt"
  on_quit_result="updated to $(cat "$on_quit/Contents/Resources/about.txt")"
else
  on_quit_result="FAILED"
fi

step "Deferred path: Zorvane 1.0 in a folder its user owns saves its work, then is updated"
: > "$work/launched.txt"
say "running $deferred scheduled install: the consent and every callback run on the app's main loop"
run_app "$deferred" scheduled install
if wait_for_line "$work/launched.txt" "^2.0 " 30; then
  say "the app saved before it quit; the script installed 2.0 and reopened it:"
  sed 's/^/   marker> /' "$work/launched.txt"
  sed 's/^/   log> /' "$HOME/Library/Logs/AutoUpdateKit/com.brackwell.Zorvane.log" | grep -v '^   log> /' || true
  deferred_result="updated to $(cat "$deferred/Contents/Resources/about.txt")"
else
  deferred_result="FAILED"
fi

step "Privileged path: Zorvane 1.0 in /Applications, owned by root"
mkdir -p /Library/Logs
"$bin/autoupdatekit-launchd" >"$work/supervisor.log" 2>&1 &
supervisor_pid=$!
sleep 0.5
say "the job supervisor runs (pid $supervisor_pid); the helper is not loaded yet"
privileged=$(make_app /Applications 1.0 100)
: > "$work/launched.txt"
say "helper installed? $("$tools/launchctl" print "system/$label" >/dev/null 2>&1 && echo yes || echo no)"
say "running $privileged"
run_app "$privileged" privileged
if wait_for_line "$work/launched.txt" "^2.0 " 30; then
  say "the helper installed 2.0 and reopened it: $(grep '^2.0 ' "$work/launched.txt" | head -1)"
  sed 's/^/   helper log> /' /Library/Logs/ZorvanePrivilegedUpdater.log 2>/dev/null || true
  privileged_result="updated to $(cat "$privileged/Contents/Resources/about.txt")"
else
  privileged_result="FAILED"
fi

step "A second update, by a delta: Zorvane 3.0 changes one file of 2.0"
mkdir -p "$work/v3"
v3=$(make_app "$work/v3" 3.0 300)
"$tools/ditto" -c -k --keepParent "$v3" "$work/site/Zorvane-3.0.zip"
"$bin/autoupdate-manifest" delta --from "$v2" --to "$v3" --output "$work/site/Zorvane-2.0-3.0.delta" | sed 's/^/   /'
"$bin/autoupdate-manifest" make --archive "$work/site/Zorvane-3.0.zip" --url "$feed/Zorvane-3.0.zip" \
  --app-name Zorvane --bundle-id com.brackwell.Zorvane --version 3.0 --build 300 \
  --delta "2.0=$work/site/Zorvane-2.0-3.0.delta" > "$work/payload3.json"
"$bin/autoupdate-manifest" sign --key "$work/publisher.key" "$work/payload3.json" > "$work/site/manifest.json"
say "archive $(stat -c %s "$work/site/Zorvane-3.0.zip") bytes, delta from 2.0 $(stat -c %s "$work/site/Zorvane-2.0-3.0.delta") bytes"
: > "$work/launched.txt"
say "running $deferred start-up (now at 2.0)"
run_app "$deferred" start-up
if wait_for_line "$work/launched.txt" "^3.0 " 30; then
  delta_result="updated to $(cat "$deferred/Contents/Resources/about.txt") from a delta"
  "$bin/autoupdatectl" status "$deferred" 2>&1 | grep 'from a delta' | sed 's/^/   ctl> /' || true
else
  delta_result="FAILED"
fi

step "The Qt windows on a real X display (Xvfb)"
if [ -x "$bin/QtDemoApp" ]; then
  # A feed that sends 1 MiB a second, so the progress window stays a while.
  mkdir -p "$work/qt-site"
  qt_port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  python3 "$examples/slow-http-server.py" "$qt_port" "$work/qt-site" >/dev/null 2>&1 &
  slow_server_pid=$!
  qt_feed="http://127.0.0.1:$qt_port"
  mkdir -p "$work/qt-v2" "$HOME/QtApps"
  qt_v2=$(make_app "$work/qt-v2" 2.0 200 QtDemoApp "$qt_feed")
  publish_2_0 "$qt_v2" "$work/qt-site" "$qt_feed" \
    '## Zorvane 2.0\n\n- **Faster** start-up\n- A new dark theme\n\nSee [the full notes](https://example.com/zorvane/2.0).\n'
  qt_app=$(make_app "$HOME/QtApps" 1.0 100 QtDemoApp "$qt_feed")
  "$tools/defaults" delete com.brackwell.Zorvane AutoUpdateSkippedVersion 2>/dev/null || true
  : > "$work/launched.txt"
  shots="$build/screenshots"
  rm -rf "$shots"
  # -noreset: the display stays up between the apps the part starts one after another.
  if xvfb-run -a -s "-noreset -screen 0 1280x1024x24" "$examples/qt-demo.sh" "$bin" "$tools" "$qt_app" "$work/launched.txt" "$shots"; then
    qt_result="updated to $(cat "$qt_app/Contents/Resources/about.txt") through the windows"
  else
    qt_result="FAILED"
  fi
  echo "screenshots: $shots"
else
  qt_result="not built (Qt 6 not found)"
fi

step "Summary"
say "install on quit: $on_quit_result"
say "deferred path:   $deferred_result"
say "second update:   $delta_result"
say "privileged path: $privileged_result"
say "Qt windows:      $qt_result"
[ "$qt_result" != FAILED ] && [ "$on_quit_result" != FAILED ] && [ "$deferred_result" != FAILED ] && [ "$delta_result" != FAILED ] &&
  [ "$privileged_result" != FAILED ]
