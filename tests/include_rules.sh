#!/usr/bin/env bash
# Fails when a file of the program includes across the line between two layers, or when a
# folder's CMakeLists.txt adds sources to the other layer's library. Run by CTest
# (include_rules); tests, benchmarks and fuzz targets may include anything.
#   tests/include_rules.sh [repository root]
set -euo pipefail
cd "${1:-$(dirname "$0")/..}"

# What the files of each folder may include besides their own folder: "job/Job.h" is of job/,
# a bare name ("GainRules.h") of common/. Logic folders build auralon_core, windows (app/ and
# its subfolders) auralon_forms; normalizer/ and cli/ are programs.
LOGIC="base tools media conversion analysis report job records"
declare -A MAY=(
  [common]=""
  [normalizer]="common"                    # its own program: shares only common/
  [meter]="tools common"                   # its own program: the contracts and the meters
  [tools]="common"                         # templates are plain data
  [base]="common"
  [media]="base tools common"              # the probe knows no job
  [conversion]="base tools media common"
  [analysis]="base tools media conversion common"
  [report]="$LOGIC common"
  [job]="$LOGIC common"
  [records]="base tools media conversion report common"  # spread jobs: records, plan, results
  [app/stages]="$LOGIC common"             # dialogs show the job, not the main window
  [app]="app/stages $LOGIC common"
  [cli]="$LOGIC common"
)

folder_of() {  # folder_of <path>: app/stages or the first folder of the path
  case $1 in
    app/stages/*) echo app/stages ;;
    */*) echo "${1%%/*}" ;;
    *) echo . ;;
  esac
}

bad=0
checked=0
tops=$(for f in "${!MAY[@]}"; do [ -d "${f%%/*}" ] && echo "${f%%/*}"; done | sort -u)
while IFS= read -r hit; do
  file=${hit%%:*}; rest=${hit#*:}; line=${rest%%:*}
  [[ $rest =~ \"([^\"]+)\" ]] || continue
  included=${BASH_REMATCH[1]}
  from=$(folder_of "$file")
  if [[ $included == */* ]]; then
    to=$(folder_of "$included")
  elif [ -e "common/$included" ]; then
    to=common
  elif [ -e "$(dirname "$file")/$included" ]; then
    to=$from
  else
    to="(unknown)"
  fi
  checked=$((checked + 1))
  [ "$to" = "$from" ] && continue
  [[ " ${MAY[$from]} " == *" $to "* ]] && continue
  allowed=$(printf '%s/ ' ${MAY[$from]})
  echo "$file:$line: includes \"$included\" ($to/); $from/ may include its own files and ${allowed:-nothing else}" >&2
  bad=1
done < <(grep -rHn --include='*.h' --include='*.cpp' --include='*.c' -E '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' $tops)

# Each folder adds its sources to one library: logic to auralon_core, windows to auralon_forms.
for top in $tops; do
  case $top in
    app) library=auralon_forms ;;
    normalizer | common | cli) continue ;;
    *) library=auralon_core ;;
  esac
  while IFS= read -r hit; do
    [[ $hit == *"target_sources($library "* ]] && continue
    echo "${hit%%:*}: adds sources to another library than $library: ${hit#*:}" >&2
    bad=1
  done < <(find "$top" -name CMakeLists.txt -exec grep -Hn 'target_sources(' {} +)
done

echo "include rules: $checked includes checked in $(echo $tops)"
exit $bad
