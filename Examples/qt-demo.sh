#!/usr/bin/env bash
# The Qt part of the demo, run on a display of its own (xvfb-run) by update-demo.sh:
# Zorvane's Qt build at 1.0 finds 2.0 on a slow local feed and is driven by keyboard
# through xdotool, as a user would: later, skip, install; its windows are saved as PNG
# files. Usage: qt-demo.sh <bin folder> <tools folder> <installed app> <its launch
# marker> <screenshot folder>
set -euo pipefail

bin=$1
tools=$2
app=$3
marker=$4
shots=$5
app_log=$(mktemp)
app_pid=
XDG_RUNTIME_DIR=$(mktemp -d)
export XDG_RUNTIME_DIR
# A step that failed shows what the app logged.
trap '[ -n "$app_pid" ] && stop_app; rm -rf "$app_log" "$XDG_RUNTIME_DIR"' EXIT
mkdir -p "$shots"

say() { printf '   %s\n' "$*"; }
# The id of the shown window with exactly this title, waiting at most 120 s.
window_titled() {
  for _ in $(seq 1 600); do
    for id in $(xdotool search --onlyvisible --name . 2>/dev/null); do
      [ "$(xdotool getwindowname "$id" 2>/dev/null)" = "$1" ] && { echo "$id"; return 0; }
    done
    sleep 0.2
  done
  echo "no window titled '$1' appeared" >&2
  return 1
}
shoot() {  # window id, file name
  "$bin/QtDemoApp" screenshot "$1" "$shots/$2"
  say "screenshot $2 ($(file -b "$shots/$2" | cut -d, -f2 | xargs))"
}
press() {  # window id, keys
  xdotool windowfocus --sync "$1" key --delay 100 "$2"
}
launch() {  # mode
  "$app/Contents/MacOS/Zorvane" "$1" >"$app_log" 2>&1 &
  app_pid=$!
}
# Ends the app (with "wait": once it has quit by itself, at most 30 s), and shows what
# it logged.
stop_app() {
  if [ "${1:-}" = wait ]; then
    for _ in $(seq 1 300); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.1; done
  fi
  kill "$app_pid" 2>/dev/null || true
  wait "$app_pid" 2>/dev/null || true
  app_pid=
  sed 's/^/   app> /' "$app_log"
}
skipped() { "$bin/autoupdatectl" status "$app" 2>&1 | grep -i skipped || echo "skipped: none"; }

say "Check for Updates… while 2.0 downloads slowly: the progress window"
launch check
window=$(window_titled "Updating Zorvane")
sleep 2  # past checking, into the download
shoot "$window" progress.png
window=$(window_titled "Update for Zorvane")
shoot "$window" update.png
say "Remind Me Later (Esc): nothing changes; $(skipped)"
press "$window" Escape
sleep 1
stop_app

say "a scheduled check offers the staged update again; Skip This Version (Alt+S)"
launch scheduled
press "$(window_titled "Update for Zorvane")" alt+s
sleep 1
say "after skip: $(skipped)"
stop_app

say "Check for Updates… still offers a skipped release; Install and Relaunch (Enter)"
launch check
press "$(window_titled "Update for Zorvane")" Return
shoot "$(window_titled "Updating Zorvane")" installing.png || true
stop_app wait
for _ in $(seq 1 300); do grep -q '^2.0$' "$marker" 2>/dev/null && break; sleep 0.1; done
say "installed and relaunched; launches were: $(tr '\n' ' ' < "$marker")"

say "Check for Updates… at 2.0: up to date"
launch check
window=$(window_titled "Software Update — Zorvane")
shoot "$window" up-to-date.png
press "$window" Return
stop_app

say "a feed that is gone: the error in plain words, details folded away"
"$tools/defaults" write com.brackwell.Zorvane AutoUpdateManifestURL "$(grep -o 'http://[^<]*' "$app/Contents/Info.plist" | head -1)-gone"
launch check
window=$(window_titled "Software Update — Zorvane")
shoot "$window" error.png
press "$window" Return
stop_app
"$tools/defaults" delete com.brackwell.Zorvane AutoUpdateManifestURL
grep -q '^2.0$' "$marker"
