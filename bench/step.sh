# The benchmark run's steps, sourced by bench/run.sh. Each says what starts and how long it may take, runs
# under scripts/narrate.py (its output passed on and, after 20 quiet seconds, what it is still at work on)
# and says how long it took. `timeout --foreground` bounds a step without taking it out of the terminal's
# process group: Ctrl-C reaches the benchmark, and the run ends with it.
bench_elapsed() { printf '%dm%02ds' $(($1 / 60)) $(($1 % 60)); }

# bench_step SECONDS LABEL COMMAND [ARG...]: the step's exit status (124 when it ran out of time).
bench_step() {
  local seconds=$1 label=$2
  shift 2
  local started=$SECONDS code=0
  echo "bench: $label (at most $(bench_elapsed "$seconds"))" >&2
  python3 scripts/narrate.py --label "bench: $label: " -- timeout --foreground "$seconds" "$@" || code=$?
  echo "bench: $label took $(bench_elapsed $((SECONDS - started)))$([ $code -eq 0 ] || echo ", exit status $code")" >&2
  return $code
}
