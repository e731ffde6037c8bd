#!/bin/bash
# Scores parlavox-service's translations of the held-out chat sentences in this folder: for each
# direction with a source file and a reference file (SRC-TGT.src / .ref pairs, one sentence a line,
# aligned by line), every sentence is translated by the real service on a free port of 127.0.0.1
# and the hypotheses are scored with apertium-eval-translator (WER) and NLTK's chrF.
# A subfolder (chat/: 100 everyday chat sentences) holds one file per language, LANG.txt, all
# aligned by line: each LANG.txt besides en.txt gives the directions en->LANG and LANG->en.
#
#   bench/quality/score.sh [SERVICE-BINARY] [OUT-FOLDER]
#
# SERVICE-BINARY defaults to build/bin/parlavox-service; OUT-FOLDER (the hypotheses) to a
# temporary folder that is kept and named at the end. Debian's own python3 runs the Python parts
# (NLTK comes from python3-nltk).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
service=${1:-$root/build/bin/parlavox-service}
out=${2:-$(mktemp -d /tmp/parlavox-quality.XXXXXX)}
mkdir -p "$out"

for tool in apertium-eval-translator /usr/bin/python3 curl; do
  command -v "$tool" >/dev/null || { echo "missing $tool (scripts/install-deps.sh installs it)" >&2; exit 1; }
done
/usr/bin/python3 -c 'import nltk.translate.chrf_score' 2>/dev/null || { echo "missing python3-nltk" >&2; exit 1; }
[ -x "$service" ] || { echo "no service at $service (build it first)" >&2; exit 1; }

port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
"$service" --listen "127.0.0.1:$port" >"$out/service.log" 2>&1 &
pid=$!
trap 'kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null || true' EXIT
for _ in $(seq 1 100); do
  curl -sf "http://127.0.0.1:$port/status" >/dev/null && break
  kill -0 "$pid" 2>/dev/null || { echo "the service did not start:" >&2; cat "$out/service.log" >&2; exit 1; }
  sleep 0.1
done

# One direction: SL TL SOURCE-FILE REFERENCE-FILE NAME (the hypotheses go to NAME.hyp).
score() {
  local sl=$1 tl=$2 src=$3 ref=$4 name=$5
  local hyp="$out/$name.hyp"
  # Each line through the service; the translation is cut out of its answer's first strings.
  /usr/bin/python3 - "$port" "$sl" "$tl" "$src" "$hyp" <<'PY'
import json, sys, urllib.parse, urllib.request
port, sl, tl, src, hyp = sys.argv[1:]
with open(src, encoding="utf-8") as f, open(hyp, "w", encoding="utf-8") as out:
    for line in f:
        text = line.rstrip("\n")
        url = "http://127.0.0.1:%s/translate_a/single?client=t&sl=%s&tl=%s&dt=t&q=%s" % (
            port, sl, tl, urllib.parse.quote(text, safe=""))
        translation = ""
        try:
            with urllib.request.urlopen(url, timeout=30) as answer:
                body = answer.read().decode("utf-8")
            # The answer is JSON with empty places (",,"): fill them before reading it.
            while ",," in body or "[," in body:
                body = body.replace(",,", ",null,").replace("[,", "[null,")
            translation = "".join(part[0] for part in json.loads(body)[0])
        except Exception as error:
            print("%s-%s: no translation of %r: %s" % (sl, tl, text, error), file=sys.stderr)
        out.write(translation.replace("\n", " ") + "\n")
PY
  local wer chrf
  wer=$(apertium-eval-translator -test "$hyp" -ref "$ref" | sed -n 's/^Word error rate (WER): *\([0-9.]*\).*/\1/p')
  chrf=$(/usr/bin/python3 - "$hyp" "$ref" <<'PY'
import sys
from nltk.translate.chrf_score import corpus_chrf
hyp = open(sys.argv[1], encoding="utf-8").read().split("\n")[:-1]
ref = open(sys.argv[2], encoding="utf-8").read().split("\n")[:-1]
assert len(hyp) == len(ref), "hypotheses and references differ in length"
print("%.4f" % corpus_chrf(ref, hyp))
PY
)
  printf '%-6s %-8s %6s %8s %8s\n' "$group" "$sl->$tl" "$(wc -l <"$ref")" "${wer:-?}" "$chrf"
}

printf '%-6s %-8s %6s %8s %8s\n' set direction lines WER chrF
group=pairs
for src in "$here"/*.src; do
  name=$(basename "$src" .src)
  ref="$here/$name.ref"
  [ -f "$ref" ] || continue
  score "${name%-*}" "${name#*-}" "$src" "$ref" "$name"
done
for folder in "$here"/*/; do
  group=$(basename "$folder")
  [ -f "$folder/en.txt" ] || continue
  for other in "$folder"/*.txt; do
    lang=$(basename "$other" .txt)
    [ "$lang" = en ] && continue
    score en "$lang" "$folder/en.txt" "$other" "$group-en-$lang"
    score "$lang" en "$other" "$folder/en.txt" "$group-$lang-en"
  done
done
echo "hypotheses in $out"
