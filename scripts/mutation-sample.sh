#!/usr/bin/env bash
# Seeds one fault at a time into protocol/ and connection/, rebuilds the unit tests, runs them and
# counts how many of the faults some test notices.
#   bash scripts/mutation-sample.sh [BUILD_DIR] [COUNT]
# MUTATION_SOURCES (globs, space-separated) narrows the files the faults go into, for a look at one
# area; the figures reported for the project use the default.
# BUILD_DIR defaults to build-mutation in the repository root (configured and built when missing);
# COUNT (default 40) is how many faults are tried, picked evenly from the sorted list of every site
# found. The faults:
#   cmp   a comparison written with spaces around it is flipped: == and !=, < and >=, > and <=
#   int   a plain decimal literal N becomes N+1
#   drop  a one-line assignment or call statement inside a function body becomes an empty statement
#   bool  true and false are swapped
# Comments, strings, character literals and preprocessor lines are never touched. Each mutated
# file is restored from a backup afterwards, also on an error or Ctrl-C; a run that was killed
# outright is repaired at the start of the next one. A fault whose build fails is counted as not
# compiled and left out of the total; one is caught when any test fails or times out.
set -euo pipefail
export LC_ALL=C

# --- What is built and run for every fault (edit here) ------------------------------------------
# The test executables of tests/protocol, tests/connection, tests/plans, tests/usb, tests/ble,
# tests/tools and tests/sim. Building them also builds what they start (printerctl, printer-sim, usb_send_probe).
targets=(
  protocol_tests
  connection_tests
  plans_tests
  printerctl_tests
  tcp_end_to_end_tests
  printer_sim_unit_tests
  printer_sim_tests
  usb_device_tests
  ble_tests
)
# Tests left out: the fuzzers (twenty seconds each of their own), everything of tests/ui and
# tests/ui_controls (the window, its screenshots, its accessibility run, the view objects and the
# shared controls). Those executables are not built here, so their names must all be excluded;
# view_logic_tests_NOT_BUILT is what ctest lists for the view tests before they are built.
exclude='^(fuzz_decoder|fuzz_profile|window_tests|window_accessibility_e2e|ui_controls_tests|view_logic_tests.*|ViewLogic\..*|Screens\..*)$'
# Source files the faults go into, relative to the repository root.
read -r -a source_globs <<<"${MUTATION_SOURCES:-protocol/*.cpp connection/*.cpp connection/*/*.cpp}"
jobs=2
test_timeout=60
# -------------------------------------------------------------------------------------------------

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
if [ $# -ge 1 ] && [ -n "$1" ]; then
  build_dir=$(realpath -m -- "$1")
else
  build_dir=$root/build-mutation
fi
count=${2:-40}
if ! [[ $count =~ ^[1-9][0-9]*$ ]]; then
  echo "mutation-sample.sh: COUNT must be a positive number, not '$count'" >&2
  exit 2
fi
cd "$root"

state_dir=$build_dir/mutation-sample
log_dir=$state_dir/logs
active_file=$state_dir/active   # path of the file that is mutated right now
backup_file=$state_dir/backup   # its original text

child=                         # process group of the running build or test run, if any
# The script's own stderr, for messages from a trap that runs while a log file is redirected.
exec 3>&2

# Puts the original text back. cat into the file (rather than cp -p or mv) gives it a new
# modification time, so the next build recompiles it even though the mutant's object is newer.
restore() {
  if [ -f "$active_file" ]; then
    local path
    path=$(cat "$active_file")
    cat "$backup_file" >"$root/$path"
    rm -f "$active_file" "$backup_file"
  fi
}
on_exit() {
  local rc=$?
  restore
  exit "$rc"
}
on_signal() {
  trap - EXIT
  if [ -n "$child" ]; then
    kill -TERM -- "-$child" 2>/dev/null || kill -TERM "$child" 2>/dev/null || true
    wait "$child" 2>/dev/null || true
  fi
  restore
  echo "mutation-sample.sh: interrupted; every source file is restored" >&3
  exit "$1"
}
trap on_exit EXIT
trap 'on_signal 130' INT
trap 'on_signal 143' TERM
trap 'on_signal 129' HUP
trap 'on_signal 141' PIPE

# Builds and test runs go in a process group of their own, waited for with the wait builtin, so
# that a Ctrl-C or a kill of this script is acted on at once: the trap stops the whole group
# (compilers, ctest, the test processes and the D-Bus daemons they started) before the source is
# restored, instead of waiting for the step to end or leaving it running on a restored tree.
in_own_group() {
  local rc=0
  setsid -w "$@" &
  child=$!
  wait "$child" || rc=$?
  child=
  return "$rc"
}
build() { in_own_group cmake --build "$build_dir" -j "$jobs" --target "${targets[@]}"; }
run_tests() {
  in_own_group ctest --test-dir "$build_dir" -j "$jobs" --timeout "$test_timeout" --no-tests=error \
    --stop-on-failure --output-on-failure -E "$exclude"
}

# --- Build folder and the unmutated baseline ---------------------------------------------------
mkdir -p "$build_dir"
mkdir -p "$state_dir"
if [ -f "$active_file" ]; then
  echo "Restoring $(cat "$active_file"), left mutated by a run that was killed"
  restore
fi
rm -rf "$log_dir"
mkdir -p "$log_dir"

if [ ! -f "$build_dir/CMakeCache.txt" ]; then
  echo "Configuring $build_dir"
  in_own_group cmake -S "$root" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPC_SANITIZE=OFF \
    -DPC_BUILD_BENCH=OFF >"$log_dir/configure.log" 2>&1 ||
    { cat "$log_dir/configure.log" >&2; echo "mutation-sample.sh: configuring failed" >&2; exit 1; }
fi
echo "Building the unit tests in $build_dir"
build >"$log_dir/baseline-build.log" 2>&1 ||
  { tail -n 40 "$log_dir/baseline-build.log" >&2
    echo "mutation-sample.sh: the unmutated tree does not build" >&2; exit 1; }
echo "Running the unit tests on the unmutated tree"
run_tests >"$log_dir/baseline-test.log" 2>&1 ||
  { tail -n 40 "$log_dir/baseline-test.log" >&2
    echo "mutation-sample.sh: the unit tests fail without any mutation; the baseline must be green" >&2
    exit 1; }

# --- Candidate sites -------------------------------------------------------------------------
# One tab-separated record per site: file, line, column, kind, original text, replacement.
# The text is scanned through a masked copy of each line (comments, string and character literal
# contents and preprocessor lines turned into spaces) so that columns stay those of the source.
find_sites() {
  awk '
  function blank(s,    o, k) { o = ""; for (k = 1; k <= length(s); k++) o = o " "; return o }
  function mask(s,    out, i, n, c, q) {
    out = ""; n = length(s); i = 1
    while (i <= n) {
      c = substr(s, i, 1)
      if (in_comment) {
        if (c == "*" && substr(s, i + 1, 1) == "/") { out = out "  "; i += 2; in_comment = 0; continue }
        out = out " "; i++; continue
      }
      if (c == "/" && substr(s, i + 1, 1) == "/") { out = out blank(substr(s, i)); break }
      if (c == "/" && substr(s, i + 1, 1) == "*") { out = out "  "; i += 2; in_comment = 1; continue }
      # A quote between two hex digits is a digit separator (1'\''000), not a character literal.
      if (c == "\"" || (c == "'\''" && !(substr(s, i - 1, 1) ~ /[0-9A-Fa-f]/ && substr(s, i + 1, 1) ~ /[0-9A-Fa-f]/ && substr(s, i + 2, 1) != "'\''"))) {
        q = c; out = out c; i++
        while (i <= n) {
          c = substr(s, i, 1)
          if (c == "\\") { out = out "  "; i += 2; continue }
          if (c == q) { out = out c; i++; break }
          out = out " "; i++
        }
        continue
      }
      out = out c; i++
    }
    return out
  }
  function trim(s) { sub(/^[ \t]+/, "", s); sub(/[ \t]+$/, "", s); return s }
  function count(s, ch,    k, t) { t = 0; for (k = 1; k <= length(s); k++) if (substr(s, k, 1) == ch) t++; return t }
  function emit(line, col, kind, orig, repl) {
    printf "%s\t%d\t%d\t%s\t%s\t%s\n", FILENAME, line, col, kind, orig, repl
  }
  # Follows the braces of a masked line: for every "{" whether it opens code (a function body,
  # a block or lambda inside one) or something else (namespace, class, enum, initializer list).
  function track(m,    k, c, kind) {
    for (k = 1; k <= length(m); k++) {
      c = substr(m, k, 1)
      if (c == "{") {
        if (head ~ /(^|[^A-Za-z0-9_])(namespace|class|struct|union|enum)([^A-Za-z0-9_]|$)/ || head ~ /extern[ \t]*"/) kind = "n"
        else if (depth > 0 && scope[depth] == "c") kind = "c"
        else if (head ~ /[)\]]/ && head !~ /=[ \t]*$/) kind = "c"
        else kind = "i"
        scope[++depth] = kind; head = ""
      } else if (c == "}") {
        if (depth > 0) depth--
        head = ""
      } else if (c == ";") {
        head = ""
      } else {
        head = head c
      }
    }
    head = head " "
  }
  FNR == 1 { in_comment = 0; in_pp = 0; depth = 0; head = ""; prev = "{" }
  {
    raw = $0
    if (in_pp) { in_pp = (raw ~ /\\$/); m = blank(raw) }
    else {
      m = mask(raw)
      if (m ~ /^[ \t]*#/) { in_pp = (raw ~ /\\$/); m = blank(raw) }
    }
    in_code = (depth > 0 && scope[depth] == "c")
    n = length(m)

    # Comparisons with a space on either side (so never <<, >>, ->, <=> or a template).
    for (i = 1; i + 2 <= n; i++) {
      if (substr(m, i, 1) != " ") continue
      two = substr(m, i + 1, 2); one = substr(m, i + 1, 1)
      if (substr(m, i + 3, 1) == " " && (two == "==" || two == "!=" || two == "<=" || two == ">=")) {
        emit(FNR, i + 1, "cmp", two, (two == "==") ? "!=" : (two == "!=") ? "==" : (two == "<=") ? ">" : "<")
      } else if (substr(m, i + 2, 1) == " " && (one == "<" || one == ">")) {
        emit(FNR, i + 1, "cmp", one, (one == "<") ? ">=" : "<=")
      }
    }

    # Plain decimal literals: no suffix, no leading zero, not part of a name, a hex or a
    # floating-point number (nor the exponent of one).
    i = 1
    while (i <= n) {
      c = substr(m, i, 1)
      if (c ~ /[0-9]/ && (i == 1 || substr(m, i - 1, 1) !~ /[A-Za-z0-9_.'\'']/)) {
        j = i
        while (j + 1 <= n && substr(m, j + 1, 1) ~ /[A-Za-z0-9_.'\'']/) j++
        tok = substr(m, i, j - i + 1)
        exponent = (i >= 3 && substr(m, i - 1, 1) ~ /[-+]/ && substr(m, i - 2, 1) ~ /[eEpP]/)
        if (tok ~ /^[0-9]+$/ && !(length(tok) > 1 && tok ~ /^0/) && length(tok) <= 15 && !exponent) {
          emit(FNR, i, "int", tok, sprintf("%.0f", tok + 1))
        }
        i = j + 1
        continue
      }
      if (c ~ /[A-Za-z_]/) { while (i <= n && substr(m, i, 1) ~ /[A-Za-z0-9_]/) i++; continue }
      i++
    }

    # true and false.
    for (i = 1; i <= n; i++) {
      if (i > 1 && substr(m, i - 1, 1) ~ /[A-Za-z0-9_]/) continue
      if (substr(m, i, 4) == "true" && substr(m, i + 4, 1) !~ /[A-Za-z0-9_]/) emit(FNR, i, "bool", "true", "false")
      if (substr(m, i, 5) == "false" && substr(m, i + 5, 1) !~ /[A-Za-z0-9_]/) emit(FNR, i, "bool", "false", "true")
    }

    # A whole statement dropped: only a call or an assignment that starts and ends on this line,
    # in a function body, right after a finished statement, a brace or a case label; never a
    # declaration, a return or other jump, a macro or a log line.
    t = trim(m)
    if (in_code && t ~ /;$/ && raw !~ /\t/ && count(t, "(") == count(t, ")") && count(t, "{") == count(t, "}") && t !~ /^}/ &&
        (prev ~ /[;{}]$/ || prev ~ /^(case[ \t].*|default[ \t]*):$/) &&
        t ~ /^[A-Za-z_][A-Za-z0-9_]*(::[A-Za-z_][A-Za-z0-9_]*)*((\.|->)[A-Za-z_][A-Za-z0-9_]*|\[[^\]]*\])*[ \t]*(\(|=[^=]|\+=|-=|\*=|\/=|%=|&=|\|=|\^=|<<=|>>=|\+\+|--)/ &&
        t !~ /^(return|break|continue|goto|throw|delete|co_return|co_yield|co_await|case|default|if|else|for|while|do|switch|sizeof|static_assert|using|typedef|template|q[A-Z][A-Za-z]*)[^A-Za-z0-9_]/ &&
        t !~ /^[A-Z][A-Z0-9_]*[ \t]*\(/) {
      col = match(m, /[^ \t]/)
      emit(FNR, col, "drop", substr(raw, col), ";")
    }

    if (t != "") prev = t
    track(m)
  }' "$@"
}

files=()
for pattern in "${source_globs[@]}"; do
  for f in $pattern; do
    [ -f "$f" ] && files+=("$f")
  done
done
if [ ${#files[@]} -eq 0 ]; then
  echo "mutation-sample.sh: no source files match ${source_globs[*]}" >&2
  exit 1
fi
mapfile -t sorted_files < <(printf '%s\n' "${files[@]}" | sort -u)

all_sites=$state_dir/sites.tsv
find_sites "${sorted_files[@]}" | sort -t $'\t' -k1,1 -k2,2n -k3,3n -k4,4 >"$all_sites"
total_sites=$(wc -l <"$all_sites")
if [ "$total_sites" -eq 0 ]; then
  echo "mutation-sample.sh: no mutation sites found" >&2
  exit 1
fi

# Evenly spread: the middle site of each of COUNT equal slices of the sorted list.
sample=$state_dir/sample.tsv
awk -F '\t' -v n="$count" -v total="$total_sites" '
  BEGIN { if (n > total) n = total
          for (i = 0; i < n; i++) want[int((2 * i + 1) * total / (2 * n)) + 1] = 1 }
  want[NR]' "$all_sites" >"$sample"
mapfile -t sites <"$sample"

describe() { # file line col kind orig repl -> "file:line:col kind orig→repl"
  printf '%s:%s:%s %s %s→%s' "$1" "$2" "$3" "$4" "$5" "$6"
}

echo
echo "$total_sites sites in ${#sorted_files[@]} files ($(cut -f4 "$all_sites" | sort | uniq -c |
  awk '{ printf "%s%s %s", sep, $1, $2; sep = ", " }')); the sample of ${#sites[@]}:"
for site in "${sites[@]}"; do
  IFS=$'\t' read -r f l c k o r <<<"$site"
  echo "  $(describe "$f" "$l" "$c" "$k" "$o" "$r")"
done
echo

# --- One fault at a time ----------------------------------------------------------------------
# Replaces orig at line:col of the file with repl; fails when the text there is not orig.
mutate() {
  local path=$1 line=$2 col=$3 orig=$4 repl=$5 tmp
  tmp=$state_dir/mutant
  L=$line C=$col O=$orig R=$repl awk '
    BEGIN { L = ENVIRON["L"] + 0; C = ENVIRON["C"] + 0; O = ENVIRON["O"]; R = ENVIRON["R"]; ok = 0 }
    NR == L {
      if (substr($0, C, length(O)) != O) exit 3
      $0 = substr($0, 1, C - 1) R substr($0, C + length(O)); ok = 1
    }
    { print }
    END { if (!ok) exit 3 }' "$root/$path" >"$tmp" || return 1
  cp "$root/$path" "$backup_file"
  printf '%s\n' "$path" >"$active_file"
  cat "$tmp" >"$root/$path"
}

caught=0
not_compiled=0
tried=0
survivors=()
not_compiled_list=()
start=$SECONDS
index=0
for site in "${sites[@]}"; do
  index=$((index + 1))
  IFS=$'\t' read -r f l c k o r <<<"$site"
  what=$(describe "$f" "$l" "$c" "$k" "$o" "$r")
  tag=$(printf '%02d' "$index")
  t0=$SECONDS
  if ! mutate "$f" "$l" "$c" "$o" "$r"; then
    echo "mutation-sample.sh: $f:$l:$c does not hold '$o'; was the file changed during the run?" >&2
    exit 1
  fi
  if ! build >"$log_dir/$tag-build.log" 2>&1; then
    result="not compiled"
    not_compiled=$((not_compiled + 1))
    not_compiled_list+=("$what")
  elif run_tests >"$log_dir/$tag-test.log" 2>&1; then
    result="SURVIVED"
    tried=$((tried + 1))
    survivors+=("$what")
  else
    tried=$((tried + 1))
    caught=$((caught + 1))
    first_failure=$(awk '/The following tests FAILED:/ { getline; sub(/^[ \t]*[0-9]+ - /, ""); print; exit }' \
      "$log_dir/$tag-test.log")
    result="caught${first_failure:+ by $first_failure}"
  fi
  restore
  echo "[$tag/${#sites[@]}] $what: $result ($((SECONDS - t0)) s)"
done

# The build folder's binaries are the unmutated ones again afterwards.
build >"$log_dir/final-build.log" 2>&1 || echo "mutation-sample.sh: rebuilding the restored tree failed" >&2

echo
echo "Time: $((SECONDS - start)) s for ${#sites[@]} mutants; logs in $log_dir"
if [ ${#not_compiled_list[@]} -gt 0 ]; then
  echo "Not compiled:"
  printf '  %s\n' "${not_compiled_list[@]}"
fi
if [ ${#survivors[@]} -gt 0 ]; then
  echo "Survived:"
  printf '  %s\n' "${survivors[@]}"
fi
echo "mutation sample: caught $caught of $tried ($not_compiled not compiled)"
