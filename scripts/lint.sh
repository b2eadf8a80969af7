#!/usr/bin/env bash
# Formatting and lint by the tree's .clang-format and .clang-tidy. Not part
# of the test command; run it before committing.
#
#   lint.sh [--fix] [--all | --base REV | FILE...]
#
# Without file names it looks at the C++ files changed since REV (default:
# main) plus those not yet committed; --all takes every C++ file of src/,
# devproxy/, tests/, bench/ and fuzz/. Formatting is checked on the changed
# lines only (git clang-format), so code nobody touched keeps its layout;
# --fix writes the formatting in place. clang-tidy reads the compile
# commands of $QUIL_BUILD_DIR (build/), so build once first. Exits 1 when
# either tool has something to say.
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${QUIL_BUILD_DIR:-$root/build}"
cd "$root"

fix=0; all=0; base=main; files=()
while [ $# -gt 0 ]; do
  case "$1" in
    --fix) fix=1 ;;
    --all) all=1 ;;
    --base) base="$2"; shift ;;
    -h|--help) sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) files+=("$1") ;;
  esac
  shift
done

for tool in clang-format clang-tidy git-clang-format; do
  if ! command -v "$tool" >/dev/null; then
    echo "lint: $tool is missing (apt-get install clang-format clang-tidy)" >&2
    exit 2
  fi
done
if [ ! -f "$build/compile_commands.json" ]; then
  echo "lint: no $build/compile_commands.json; run scripts/build.sh first" >&2
  exit 2
fi

cxx='\.(cc|h)$'
# Changes are counted from where this branch left the base, so work landed
# on the base meanwhile is not mistaken for ours.
since="$(git merge-base "$base" HEAD 2>/dev/null || echo "$base")"
if [ "$all" = 1 ]; then
  mapfile -t files < <(git ls-files src devproxy tests bench fuzz | grep -E "$cxx")
elif [ ${#files[@]} -eq 0 ]; then
  mapfile -t files < <({ git diff --name-only --diff-filter=d "$since" --; git ls-files --others --exclude-standard; } |
    grep -E "$cxx" | sort -u)
fi
if [ ${#files[@]} -eq 0 ]; then
  echo "lint: no C++ files to look at"
  exit 0
fi

status=0
# Formatting: the lines changed since the base (all lines with --all, and
# of files git does not track yet).
mapfile -t fresh < <(git ls-files --others --exclude-standard -- "${files[@]}")
mapfile -t tracked < <(git ls-files -- "${files[@]}")
whole=("${fresh[@]}"); [ "$all" = 1 ] && whole=("${files[@]}") && tracked=()
if [ ${#whole[@]} -gt 0 ]; then
  if [ "$fix" = 1 ]; then
    clang-format -i "${whole[@]}"
  else
    clang-format --dry-run -Werror "${whole[@]}" || status=1
  fi
fi
if [ ${#tracked[@]} -gt 0 ]; then
  if [ "$fix" = 1 ]; then
    git clang-format --quiet --force "$since" -- "${tracked[@]}" >/dev/null || true
  else
    out="$(git clang-format --diff "$since" -- "${tracked[@]}" 2>&1)"
    case "$out" in
      ""|*"no modified files to format"*|*"did not modify any files"*) ;;
      *) printf '%s\n' "$out"; status=1 ;;
    esac
  fi
fi

# Lint: headers are checked through the .cc files that include them.
mapfile -t units < <(printf '%s\n' "${files[@]}" | grep -E '\.cc$')
if [ ${#units[@]} -gt 0 ]; then
  tidy="$(clang-tidy -p "$build" --quiet "${units[@]}" 2>/dev/null)"
  if grep -q 'warning:' <<<"$tidy"; then
    printf '%s\n' "$tidy"
    status=1
  fi
fi
exit $status
