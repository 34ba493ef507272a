# What the recipe tests share: a set of files like people's, the same job on one machine, and
# the comparison of its outputs with those of the spread job (names, and the very same audio).
# Sourced; the caller sets CLI (auralon-cli) and WORK (a fresh folder).

make_set() {  # the sources under $WORK/src and their sorted list in $WORK/list
  mkdir -p "$WORK/src/a" "$WORK/src/b c" "$WORK/out" "$WORK/local"
  local music="lowpass=f=6000,volume='0.6+0.4*sin(2*PI*0.7*t)':eval=frame"
  ffmpeg -hide_banner -loglevel error -f lavfi -i "anoisesrc=c=pink:a=0.1:d=5,$music" -ac 2 "$WORK/src/a/song.wav"
  ffmpeg -hide_banner -loglevel error -f lavfi -i "anoisesrc=c=white:a=0.6:d=4,$music" "$WORK/src/a/hot.flac"
  ffmpeg -hide_banner -loglevel error -f lavfi -i "anoisesrc=c=brown:a=0.05:d=6,$music" -ac 2 "$WORK/src/b c/song.wav"
  ffmpeg -hide_banner -loglevel error -f lavfi -i "anoisesrc=c=pink:a=0.2:d=3,$music" -c:a libmp3lame "$WORK/src/b c/talk.mp3"
  (cd "$WORK/src" && find . -type f | sed 's|^\./||' | LC_ALL=C sort) > "$WORK/list"
}

run_local() {  # the same job on one machine, over the files in the same order
  local files=()
  while IFS= read -r f; do files+=("$WORK/src/$f"); done < "$WORK/list"
  # Unchecked, as apply writes: a checked job writes a missed file once more.
  "$CLI" -q --no-check "$@" -o "$WORK/local" "${files[@]}" > /dev/null
}

levels() {  # "<name> <integrated loudness>" of each file in the folder, by name
  rm -rf "$WORK/levels"
  "$CLI" scan -q --records="$WORK/levels" --root="$1" "$1" > /dev/null
  sed -n 's/^{"key":"\([^"]*\)".*"measured":"measured\\tI=\([^\\]*\)\\t.*/\1 \2/p' "$WORK"/levels/*.jsonl | LC_ALL=C sort
}

same_as_local() {  # fails unless the spread job's outputs are one machine's, to the sample
  levels "$WORK/out" > "$WORK/out.levels"
  levels "$WORK/local" > "$WORK/local.levels"
  if ! diff <(cut -d' ' -f1 "$WORK/out.levels") <(cut -d' ' -f1 "$WORK/local.levels"); then
    echo "FAIL: the outputs' names differ from one machine's" >&2
    return 1
  fi
  [ "$(wc -l < "$WORK/out.levels")" -eq "$(wc -l < "$WORK/list")" ] || { echo "FAIL: outputs missing" >&2; return 1; }
  # Lossy encoders make a level of the slightest change in what they are given.
  local bad=0 name
  while read -r name; do
    name=${name% *}
    if [ "$(audio_hash "$WORK/out/$name")" != "$(audio_hash "$WORK/local/$name")" ]; then
      echo "FAIL: $name: its audio is not one machine's" >&2
      bad=1
    fi
  done < "$WORK/out.levels"
  [ $bad = 0 ] || { paste -d' ' "$WORK/out.levels" "$WORK/local.levels" >&2; return 1; }
  echo "same as one machine:"
  cat "$WORK/out.levels"
}

audio_hash() { ffmpeg -nostdin -hide_banner -loglevel error -i "$1" -map 0:a -f streamhash -; }
