# End-to-end cases of the built tools: each case writes its input files, runs a tool in a fresh
# folder and compares its exit status, its standard output and its output file, whole, with what
# it expects. Sourced by the case scripts; prints "N passed, N failed" at the end.
set -u

# The folder of these scripts, for the files that cases share.
e2e_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
passed=0
failed=0
case_name=""
case_ok=1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Windows builds write CR LF line ends: expected texts get the CR added before comparing.
crlf=${SREC_EXPECT_CRLF:-0}
# A wrapper to run the tools with (such as wine), empty to run them directly. Under a wrapper
# the tools are Windows builds: cases about POSIX devices (/dev/full, /proc) do not apply.
runner=${SREC_RUNNER:-}
native() { [ -z "$runner" ]; }

finish_case() {
  [ -n "$case_name" ] || return 0
  if [ "$case_ok" = 1 ]; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
}

# begin NAME: starts a case in an empty folder.
begin() {
  finish_case
  case_name=$1
  case_ok=1
  rm -rf "$work/case" && mkdir "$work/case" && cd "$work/case" || exit 1
}

fail() {
  echo "FAIL: $case_name: $*"
  case_ok=0
}

# absolute PATH: the path from anywhere, for a tool named relative to where the script started.
absolute() { echo "$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"; }

# input FILE: writes standard input to FILE as it stands.
input() { cat > "$1"; }

# run TOOL ARGS...: runs the tool, keeping its exit status and standard output.
run() {
  status=0
  $runner "$@" > "$work/stdout" 2> "$work/stderr" < /dev/null || status=$?
}

# expected: standard input as the tool should write it on this platform.
expected() {
  if [ "$crlf" = 1 ]; then sed 's/$/\r/'; else cat; fi
}

# show NAME ACTUAL EXPECTED: the difference, for the log.
show() { diff <(cat -A "$2") <(cat -A "$3") | head -20 | sed 's/^/    /'; }

expect_status() { [ "$status" = "$1" ] || fail "exit status $status, expected $1"; }

# expect_stdout: standard output equals standard input exactly.
expect_stdout() {
  expected > "$work/want"
  cmp -s "$work/stdout" "$work/want" || { fail "standard output differs"; show out "$work/stdout" "$work/want"; }
}

# expect_file FILE: FILE equals standard input exactly.
expect_file() {
  expected > "$work/want"
  if [ ! -f "$1" ]; then fail "$1 was not written"; return; fi
  cmp -s "$1" "$work/want" || { fail "$1 differs"; show "$1" "$1" "$work/want"; }
}

# expect_same FILE REFERENCE: FILE equals REFERENCE byte for byte.
expect_same() { cmp -s "$1" "$2" || fail "$1 differs from $2"; }

expect_no_file() { [ ! -e "$1" ] || fail "$1 was left behind"; }

# report: the closing line and the exit status of the script.
report() {
  finish_case
  echo "$passed passed, $failed failed"
  [ "$failed" = 0 ]
}
