# Shared by the benchmark scripts: the best of several timed runs of a command, and a ratio.
# Source it after setting $runs (how many timed runs; 3 when unset).

# Prints the best of $runs wall-clock times of a command in seconds, or "fail". A first run
# checks that it works and warms the file cache; hyperfine times the runs when installed.
best_of() {
  local n=${runs:-3}
  if ! "$@" >/dev/null 2>&1; then
    echo fail
    return
  fi
  if command -v hyperfine >/dev/null; then
    local csv cmd
    csv=$(mktemp)
    cmd=$(printf '%q ' "$@")
    if hyperfine -N --runs "$n" --style none --export-csv "$csv" -- "$cmd" >/dev/null 2>&1; then
      awk -F, 'NR == 2 { printf "%.3f\n", $7 }' "$csv"  # command,mean,stddev,median,user,system,min,max
    else
      echo fail
    fi
    rm -f "$csv"
  else
    local best="" t0 t1
    for _ in $(seq "$n"); do
      t0=$(date +%s.%N)
      "$@" >/dev/null 2>&1 || {
        echo fail
        return
      }
      t1=$(date +%s.%N)
      best=$(awk -v a="$t0" -v b="$t1" -v m="$best" \
        'BEGIN { d = b - a; if (m == "" || d < m) m = d; printf "%.3f\n", m }')
    done
    echo "$best"
  fi
}

# ratio A B: A/B, or "-" when either is missing.
ratio() {
  awk -v a="$1" -v b="$2" 'BEGIN {
    if (a !~ /^[0-9.]+$/ || b !~ /^[0-9.]+$/ || b == 0) print "-"; else printf "%.2f\n", a / b }'
}
