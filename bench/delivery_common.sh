# Shared by the delivery benchmarks: sourced, not run. Expects $ctl, $work and $runs.

# A PEM file whose one-way TLS command is 64 KiB on the wire.
write_large_pem() {
  { echo "-----BEGIN CERTIFICATE-----"; head -c 65400 /dev/zero | tr '\0' 'A'; echo; echo "-----END CERTIFICATE-----"; } > "$work/large.pem"
}

# mean_us COMMAND...: runs it $runs times, prints the mean wall time in microseconds.
mean_us() {
  local start end
  start=$(date +%s%N)
  for ((i = 0; i < runs; i++)); do "$@" >/dev/null 2>&1; done
  end=$(date +%s%N)
  echo $(( (end - start) / runs / 1000 ))
}

# report LABEL OTHER-NAME 'OTHER-COMMAND' PRINTERCTL-TRANSPORT-ARGS -- COMMAND...: the command's
# bytes go to $work/bytes.bin; OTHER-COMMAND (run by sh, with "$1" = that file) sends them
# without printerctl.
report() {
  local label=$1 other=$2 other_command=$3; shift 3
  local transport=()
  while [ "$1" != "--" ]; do transport+=("$1"); shift; done
  shift
  "$ctl" --dry-run "$@" | tr -d ' \n' | xxd -r -p > "$work/bytes.bin"
  local size; size=$(stat -c %s "$work/bytes.bin")
  local ours theirs
  ours=$(mean_us "$ctl" "${transport[@]}" "$@")
  theirs=$(mean_us sh -c "$other_command" sh "$work/bytes.bin")
  printf '%-22s %7d bytes  printerctl %6.2f ms  %s %6.2f ms  ratio %.2f\n' "$label" "$size" \
    "$(echo "$ours / 1000" | bc -l)" "$other" "$(echo "$theirs / 1000" | bc -l)" "$(echo "$ours / $theirs" | bc -l)"
}
