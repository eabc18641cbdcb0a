#!/usr/bin/env bash
# Reads archives written by harvix-cli export with the web-archiving
# community's own reader, warcio (from the npm registry): its index and
# cdx-index must list every record, and each payload digest it reports must
# be the SHA-1 (base 32) of the body written into the cache.
# Usage: warcio_check.sh HARVIX_CLI HARVIX_MKCACHE. Exit 77 (skipped) only
# when node is missing; a machine with node but without npm, or one where
# warcio cannot be installed, fails, with npm's own words.
set -euo pipefail
cli=$(realpath "$1")
mkcache=$(realpath "$2")
command -v node >/dev/null || { echo "no node: skipped"; exit 77; }
command -v npm >/dev/null || { echo "FAIL: node is installed but npm is not: warcio cannot be installed"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
if ! timeout 300 npm install --no-audit --no-fund --loglevel=error --prefix "$work/npm" warcio@2 >npm.txt 2>&1; then
  echo "FAIL: 'npm install warcio@2' failed or took over 300 s (the npm registry must be reachable):"
  tail -n 20 npm.txt
  exit 1
fi
warcio="$work/npm/node_modules/.bin/warcio"

cat > site.txt <<'DESC'
[cache2]
url = http://127.0.0.1:8080/img/a.txt
type = text/plain
data = text first body
[cache2]
url = http://127.0.0.1:8080/page.html?q=1
type = text/html
encoding = gzip
data = text <html>second body</html>
[cache2]
url = http://127.0.0.1:8080/chunked
type = text/plain
header = Transfer-Encoding: chunked
data = text third body
DESC
"$mkcache" --cache2 site.txt cache/cache2 >/dev/null
status=0
for name in out.warc.gz out.warc; do
  "$cli" export firefox --cache cache --warc "$work/$name" >/dev/null 2>err.txt || { cat err.txt; exit 1; }
  "$warcio" index "$name" > index.txt
  "$warcio" cdx-index "$name" > cdx.txt
  records=$(grep -c '"warc-type":"response"' index.txt || true)
  infos=$(grep -c '"warc-type":"warcinfo"' index.txt || true)
  if [ "$records" != 3 ] || [ "$infos" != 1 ] || [ "$(wc -l < cdx.txt)" != 3 ]; then
    echo "$name: warcio lists $records responses, $infos warcinfo records, $(wc -l < cdx.txt) cdx lines"
    cat index.txt cdx.txt
    status=1
  fi
  # The payload digests against the stored bodies (the gzip one as stored).
  python3 - "$name" cdx.txt cache/cache2/entries <<'PY' || status=1
import base64, glob, hashlib, json, sys
stored = set()
for path in glob.glob(sys.argv[3] + "/*"):
    data = open(path, "rb").read()
    offset = int.from_bytes(data[-4:], "big")  # the metadata starts after the body
    stored.add(base64.b32encode(hashlib.sha1(data[:offset]).digest()).decode())
for line in open(sys.argv[2]):
    fields = json.loads(line[line.index("{"):])
    if fields["digest"] not in stored or fields["status"] != "200":
        sys.exit(f"{sys.argv[1]}: {fields['url']}: digest {fields['digest']} names no stored body")
PY
done
[ $status = 0 ] && echo "warcio lists every record of both archives; digests match"
exit $status
