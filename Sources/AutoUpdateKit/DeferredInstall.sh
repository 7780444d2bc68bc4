# shellcheck shell=sh
# The deferred install: started by the app just before it exits, as
#   /bin/sh -c <this text> autoupdate-install <pid> <current> <staged> <strategy> <update id> <bundle id> [<relaunch>]
# it waits for the app's process to end, installs by the strategy, verifies, rolls back
# and falls back to the user's Applications folder, records or clears the failed-update
# suppression, logs, and reopens the app unless <relaunch> is 0 (an install on quit:
# the user ended the app and does not expect it back).
#
# The library puts the build's tool paths and the suppression key's name before this
# text; the shell's own utilities come from the search path. Every path is quoted
# wherever it is used, so no name is ever split or evaluated.
: "${codesign_tool:?}" "${ditto_tool:?}" "${open_tool:?}" "${defaults_tool:?}" "${suppression_key:?}"

pid=$1
current=$2
staged=$3
strategy=$4
update_id=$5
bundle_id=$6
relaunch=${7:-1}
timestamp=$(date +%Y%m%d%H%M%S)
launch_app=$current
backup=
# Set once this run has made the backup folder itself, and once the installed app (or
# its Contents) has wholly moved there: a backup of the same name that someone else
# made is never restored over an intact app, nor removed.
backup_started=0
backup_made=0
log_dir="$HOME/Library/Logs/AutoUpdateKit"
log_file="$log_dir/${bundle_id:-autoupdate}.log"
mkdir -p "$log_dir" >/dev/null 2>&1

# Standard error is silenced first, so that a log that cannot be opened says nothing
# on the app's standard error either.
log_line() {
    printf '%s %s\n' "$(date -u +%Y-%m-%dT%H:%M:%SZ)" "$1" 2>/dev/null >>"$log_file" || true
}

suppress_failed_update() {
    if [ -n "$bundle_id" ] && [ -n "$update_id" ]; then
        "$defaults_tool" write "$bundle_id" "$suppression_key" "$update_id"
        log_line "suppressed failed update $update_id for $bundle_id"
    fi
}

clear_failed_update() {
    if [ -n "$bundle_id" ]; then
        "$defaults_tool" delete "$bundle_id" "$suppression_key" >/dev/null 2>&1
        log_line "cleared failed update suppression for $bundle_id"
    fi
}

# codesign's report goes to the log only where the log can be written: an unwritable
# log folder must not turn a good copy into a failed check.
verify_app() {
    if { [ -e "$log_file" ] && [ -w "$log_file" ]; } || { [ ! -e "$log_file" ] && [ -w "$log_dir" ]; }; then
        "$codesign_tool" --verify --deep --strict "$1" >>"$log_file" 2>&1
    else
        "$codesign_tool" --verify --deep --strict "$1" >/dev/null 2>&1
    fi
}

# Puts a verified copy of $1 at $2: the copy is made and verified under a hidden name
# beside $2, and only then does the bundle at $2 make way. On failure only the copy
# goes; the bundle at $2 is never removed before its replacement is in place. Every
# move is "mv -T", a rename onto the name: it never moves into a folder that appeared
# there meanwhile, and fails rather than replace one that holds anything.
replace_verified() {
    target_dir=${2%/*}
    fresh="$target_dir/.${2##*/}.autoupdate-new-$$"
    old="$target_dir/.${2##*/}.autoupdate-old-$$"
    rm -rf "$fresh" "$old"
    if "$ditto_tool" "$1" "$fresh" && verify_app "$fresh"; then
        if [ ! -e "$2" ] && [ ! -L "$2" ]; then
            mv -T "$fresh" "$2" && return 0
        elif mv -T "$2" "$old"; then
            if mv -T "$fresh" "$2"; then
                rm -rf "$old"
                return 0
            fi
            mv -T "$old" "$2"
        fi
    fi
    rm -rf "$fresh"
    return 1
}

# Installs a verified copy of the update in the user's own Applications folder; $1
# names the attempt in the log.
relocate_to_user_applications() {
    launch_app="$HOME/Applications/${current##*/}"
    if mkdir -p "$HOME/Applications" && replace_verified "$staged" "$launch_app"; then
        clear_failed_update
        log_line "$1 succeeded: $launch_app"
        return 0
    fi
    log_line "$1 failed"
    return 1
}

open_app() {
    if [ "$relaunch" != 0 ]; then
        "$open_tool" "$1"
    fi
}

fail_and_reopen() {
    suppress_failed_update
    open_app "$current"
    exit 1
}

# After a failed install in place, the update goes to the user's own Applications
# folder and is opened there; when that fails too, the old app is reopened.
fall_back_to_user_applications() {
    if relocate_to_user_applications "fallback relocateToUserApplications"; then
        open_app "$launch_app"
        exit 0
    fi
    fail_and_reopen
}

# Copies into folder $2 every entry of folder $1 that $2 lacks, and descends into the
# folders both have; what $2 already holds is left as it is.
copy_missing() {
    for entry in "$1"/* "$1"/.[!.]* "$1"/..?*; do
        if [ ! -e "$entry" ] && [ ! -L "$entry" ]; then
            continue  # a pattern that matched nothing
        fi
        target="$2/${entry##*/}"
        if [ ! -e "$target" ] && [ ! -L "$target" ]; then
            "$ditto_tool" "$entry" "$target" || return 1
        elif [ -d "$entry" ] && [ ! -L "$entry" ] && [ -d "$target" ] && [ ! -L "$target" ]; then
            (copy_missing "$entry" "$target") || return 1
        fi
    done
}

# Whatever the backup folder holds came from the installed app, since this run made the
# folder fresh, and it is restored even when the move there stopped part-way: across
# file systems mv copies everything and then deletes, so a delete that fails part-way
# leaves the app gutted and the only whole copy here. What the app still holds was then
# never changed, so the restore copies back only what it lacks, and the backup stays
# whole until the app is whole again.
rollback_contents() {
    if [ "$backup_started" != 1 ]; then
        return 0
    fi
    if [ "$backup_made" = 1 ]; then
        rm -rf "$current/Contents"  # the update's copy, whole or in part
    fi
    if { [ "$backup_made" != 1 ] || { [ ! -e "$current/Contents" ] && [ ! -L "$current/Contents" ]; }; } &&
        copy_missing "$backup" "$current"; then
        rm -rf "$backup"
        return 0
    fi
    log_line "rollback failed; backup kept at $backup"
    return 1
}

rollback_bundle() {
    if [ "$backup_made" = 1 ]; then
        if rm -rf "$current" && [ ! -e "$current" ] && mv -T "$backup" "$current"; then
            return 0
        fi
        log_line "rollback failed; backup kept at $backup"
        return 1
    fi
}

while kill -0 "$pid" 2>/dev/null; do
    sleep 0.2
done
log_line "install start strategy=$strategy current=$current staged=$staged update=$update_id"

case "$strategy" in
replaceWithoutBackup)
    if replace_verified "$staged" "$current"; then
        clear_failed_update
        log_line "replaceWithoutBackup succeeded"
    else
        log_line "replaceWithoutBackup failed"
        fall_back_to_user_applications
    fi
    ;;
replaceBundleContents)
    tmp_root=${TMPDIR:-/tmp}
    backup="$tmp_root/AutoUpdate-Backup-$timestamp-$$"
    # The backup folder is private and never one that someone else made first.
    if mkdir -p "$tmp_root" && mkdir -m 700 "$backup" && backup_started=1 &&
        mv -T "$current/Contents" "$backup/Contents" && backup_made=1 &&
        "$ditto_tool" "$staged/Contents" "$current/Contents" && verify_app "$current"; then
        clear_failed_update
        rm -rf "$backup"
        log_line "replaceBundleContents succeeded"
    else
        log_line "replaceBundleContents failed; rolling back"
        rollback_contents
        fall_back_to_user_applications
    fi
    ;;
replaceWholeBundle)
    backup="${current%.app}.autoupdate-backup-$timestamp.app"
    # A backup name that holds anything already makes the move fail.
    if mv -T "$current" "$backup" && backup_made=1 &&
        "$ditto_tool" "$staged" "$current" && verify_app "$current"; then
        clear_failed_update
        rm -rf "$backup"
        log_line "replaceWholeBundle succeeded"
    else
        log_line "replaceWholeBundle failed; rolling back"
        rollback_bundle
        fall_back_to_user_applications
    fi
    ;;
relocateToUserApplications)
    # The installed app is left where it is.
    relocate_to_user_applications relocateToUserApplications || fail_and_reopen
    ;;
*)
    log_line "unknown install strategy: $strategy"
    fail_and_reopen
    ;;
esac

if [ "$relaunch" != 0 ]; then
    log_line "opening $launch_app"
    "$open_tool" "$launch_app"
fi
