#!/bin/bash
# The README's GNU parallel recipe, with the local machine as every worker (":" in the
# login file): scan and apply in shards, merge once; the outputs must be one machine's.
#   parallel_recipe.sh <auralon-cli>
set -euo pipefail
CLI=$1
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
. "$(dirname "$0")/recipe_common.sh"
make_set
run_local --weighted --format=mp3
N=3
printf ':\n:\n' > "$WORK/nodes"

# The recipe, as the README gives it.
parallel --sshloginfile "$WORK/nodes" --halt now,fail=1 \
  "$CLI" scan -q --records="$WORK/records" --root="$WORK/src" --files-from="$WORK/list" --shard={}/$N ::: $(seq $N)
"$CLI" merge --records="$WORK/records" --plan="$WORK/plan.jsonl" --root="$WORK/src" --weighted --format=mp3 -o "$WORK/out" > /dev/null
parallel --sshloginfile "$WORK/nodes" \
  "$CLI" apply -q --plan="$WORK/plan.jsonl" --shard={}/$N ::: $(seq $N) > /dev/null
"$CLI" apply -q --plan="$WORK/plan.jsonl" --report="$WORK/report.csv" > /dev/null

same_as_local
grep -q '^set,' "$WORK/report.csv"
