#!/bin/sh
# systemctl for tests, put first on PATH as HOME/bin/systemctl: it knows one
# user timer. is-enabled prints the state in HOME/systemctl/state (nothing,
# as for an unknown unit, without one); enable --now turns it on unless
# HOME/systemctl/refuse exists. Every call is logged to HOME/systemctl/calls.
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
  *) exit 1 ;;
esac
