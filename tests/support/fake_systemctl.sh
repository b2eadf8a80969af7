#!/bin/sh
# systemctl for tests, put first on PATH as HOME/bin/systemctl: it knows one
# user timer. is-enabled prints the state in HOME/systemctl/state (nothing,
# as for an unknown unit, without one); enable --now turns it on and
# daemon-reload succeeds, unless HOME/systemctl/refuse exists (as without a
# user service manager). Every call is logged to HOME/systemctl/calls.
# Its own tools also where the caller's PATH holds only fake programs.
PATH="/usr/bin:/bin:$PATH"
dir="$(dirname "$0")/../systemctl"
mkdir -p "$dir"
echo "$*" >> "$dir/calls"
case "$*" in
  "--user is-enabled "*)
    [ -f "$dir/state" ] || exit 1
    state=$(cat "$dir/state"); echo "$state"; [ "$state" = enabled ] ;;
  "--user enable --now "*)
    [ -f "$dir/refuse" ] && exit 1
    echo enabled > "$dir/state" ;;
  "--user daemon-reload")
    [ -f "$dir/refuse" ] && exit 1
    exit 0 ;;
  *) exit 1 ;;
esac
