#!/usr/bin/env bash
# The operator's release tools end to end: `kvn_sign release` fills in and
# signs a download folder (the record keeps its numbers, other lines and
# line ends; digests, sizes and the expiry are set), all of it or nothing,
# and never a VersionNumber above the deployed server's unless asked; and
# `kvn_sign check` judges a deployed download server (the local stand-in)
# as launchers do: a good site passes; a wrong signature, digest or size, a
# cut file, a bad Content-Length, an expired record and files above their
# ceilings are each refused with the launcher's reason.
# Usage: release_tools.sh <build dir> <source dir>; needs no display.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.bash"
kvn_init "$1" "$2"

tool="$build/tools/kvn_sign"
secret="$src/standins/keys/demo_update_key.secret"
demo_key=$(cat "$src/standins/keys/demo_update_key.pub")
other_key=$("$tool" keygen "$state/other.key" | sed 's/^-DKVN_UPDATE_PUBLIC_KEY=//')
dl="$state/site/download"
mkdir -p "$dl"
cp "$build/package/Login.exe" "$dl/Login.exe"
cp "$src/standins/site/download/LauncherDlg.bmp" "$dl/LauncherDlg.bmp"
value_of() { sed -n "s/^$1=//p" "${2:-$dl}/LoginExeVersionInfo.ini" | tr -d '\r'; }
# The deployed server serves $dl; release, without --server, asks it as
# launchers would (KORVANE_DOWNLOAD).
echo '{}' > "$state/rules.json"
kvn_start_server --root "$state/site" --rules "$state/rules.json"

# ---------------------------------------------------------------- release

# LF line ends, a comment, an old digest under another spelling, a key of
# the same name in another section, and no end on the last line.
printf '; release 7\n[VersionInfo]\nLoginExeVersionNumber=7\nloginexesha256 = 00ff\nDlgBackVersionNumber=3\nVersionNumber=120\n\n[Other]\nLoginExeSize=1\nNote=kept' \
  > "$dl/LoginExeVersionInfo.ini"
out=$("$tool" release --expires 30 "$secret" "$dl") || fail "release refused a good folder: $out"
[ "$(grep -c ': taken' <<<"$out")" = 3 ] || fail "release did not judge its three files taken: $out"
exe_sum=$(sha256sum "$dl/Login.exe" | cut -d' ' -f1)
bmp_sum=$(sha256sum "$dl/LauncherDlg.bmp" | cut -d' ' -f1)
expires=$(value_of Expires)
expected=$(printf '; release 7\n[VersionInfo]\nLoginExeVersionNumber=7\nloginexesha256 =%s\nDlgBackVersionNumber=3\nVersionNumber=120\nLoginExeSize=%s\nDlgBackSha256=%s\nDlgBackSize=%s\nExpires=%s\n\n[Other]\nLoginExeSize=1\nNote=kept' \
  "$exe_sum" "$(stat -c %s "$dl/Login.exe")" "$bmp_sum" "$(stat -c %s "$dl/LauncherDlg.bmp")" "$expires")
[ "$(cat "$dl/LoginExeVersionInfo.ini")" = "$expected" ] || fail "record not filled in as expected:
$(cat "$dl/LoginExeVersionInfo.ini")"
! grep -q $'\r' "$dl/LoginExeVersionInfo.ini" || fail "LF record got CR line ends"
[[ "$expires" =~ ^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}Z$ ]] || fail "Expires not UTC: $expires"
days=$(( ($(date -u -d "$expires" +%s) - $(date -u +%s) + 43200) / 86400 ))
[ "$days" = 30 ] || fail "Expires is $days days away, not 30"
"$tool" verify "$other_key,$demo_key" "$dl/LoginExeVersionInfo.ini" "$dl/LauncherDlg.bmp" "$dl/Login.exe" >/dev/null \
  || fail "release did not sign the three files with the demo key"

# CRLF ends stay CRLF; a second run without --expires keeps the expiry and
# changes nothing else.
printf '[VersionInfo]\r\nLoginExeVersionNumber=7\r\nDlgBackVersionNumber=3\r\nVersionNumber=120\r\nExpires=2099-01-01T00:00:00Z\r\n' \
  > "$dl/LoginExeVersionInfo.ini"
"$tool" release "$secret" "$dl" >/dev/null || fail "release refused a CRLF record"
[ "$(grep -c $'\r$' "$dl/LoginExeVersionInfo.ini")" = "$(wc -l <"$dl/LoginExeVersionInfo.ini")" ] ||
  fail "CRLF record got other line ends"
[ "$(value_of Expires)" = 2099-01-01T00:00:00Z ] || fail "release without --expires changed the expiry"
[ "$(value_of LoginExeVersionNumber)" = 7 ] && [ "$(value_of VersionNumber)" = 120 ] || fail "numbers changed"
cp "$dl/LoginExeVersionInfo.ini" "$state/record"
"$tool" release "$secret" "$dl" >/dev/null || fail "second release failed"
cmp -s "$dl/LoginExeVersionInfo.ini" "$state/record" || fail "a second release changed the record"
cp -r "$dl" "$state/good"

# Refused: a record without its section, a bitmap smaller than the window,
# an expiry of no days. Nothing is written then.
for bad in section bitmap days; do
  rm -rf "$dl" && cp -r "$state/good" "$dl" && rm "$dl"/*.sig
  args=("$secret" "$dl")
  case $bad in
    section) printf '[Version]\r\nLoginExeVersionNumber=7\r\n' > "$dl/LoginExeVersionInfo.ini" ;;
    bitmap) convert -size 100x50 xc:gray "BMP3:$dl/LauncherDlg.bmp" ;;
    days) args=(--expires 0 "${args[@]}") ;;
  esac
  cp "$dl/LoginExeVersionInfo.ini" "$state/record"
  if "$tool" release "${args[@]}" >/dev/null 2>&1; then fail "release took a bad folder ($bad)"; fi
  cmp -s "$dl/LoginExeVersionInfo.ini" "$state/record" || fail "a refused release changed the record ($bad)"
  ! ls "$dl"/*.sig >/dev/null 2>&1 || fail "a refused release signed files ($bad)"
done

# All or nothing: a release that fails on its last file (Login.exe.sig a
# folder, or read-only), or finds a file an earlier cut-short run left,
# leaves the folder byte for byte as it was, and says which file failed.
rel="$state/release"
for bad in folder read-only leftover; do
  rm -rf "$rel" "$state/before" && cp -r "$state/good" "$rel"
  sed -i 's/^Expires=.*/Expires=2098-01-01T00:00:00Z\r/' "$rel/LoginExeVersionInfo.ini"  # the record changes too
  case $bad in
    folder) rm "$rel/Login.exe.sig" && mkdir "$rel/Login.exe.sig" && echo kept > "$rel/Login.exe.sig/note" ;;
    read-only) chmod a-w "$rel/Login.exe.sig" ;;
    leftover) echo half > "$rel/LauncherDlg.bmp.sig.kvn_sign-new" ;;
  esac
  cp -a "$rel" "$state/before"
  if out=$("$tool" release --expires 10 "$secret" "$rel" 2>&1); then fail "release went on past a file it cannot write ($bad)"; fi
  diff -r "$state/before" "$rel" >/dev/null || fail "a failed release changed the folder ($bad): $(diff -r "$state/before" "$rel")"
  want=Login.exe.sig; [ $bad = leftover ] && want=LauncherDlg.bmp.sig
  grep -q "$rel/$want" <<<"$out" || fail "the failure does not name $want ($bad): $out"
done
# A disk that fills: the folder on a small file system of its own (in a
# mount namespace of its own, gone with it), with room for the new record
# and not for all the signatures.
if unshare -m true 2>/dev/null; then
  out=$(unshare -m bash -c '
    set -e
    mount -t tmpfs -o size=16m kvn-full "$1"
    cp -a "$2"/. "$1"/
    sed -i "s/^Expires=.*/Expires=2098-01-01T00:00:00Z\r/" "$1/LoginExeVersionInfo.ini"
    dd if=/dev/zero of="$1/filler" bs=4k status=none 2>/dev/null || true
    truncate -s -8k "$1/filler"
    cp -a "$1" "$4"
    if "$3" release --expires 10 "$5" "$1" 2>&1; then echo "RELEASED"; fi
    diff -r "$4" "$1" >/dev/null && echo "UNCHANGED"
  ' bash "$rel" "$state/good" "$tool" "$state/full-before" "$secret") || true
  grep -q UNCHANGED <<<"$out" && ! grep -q RELEASED <<<"$out" || fail "a full disk changed the folder: $out"
  grep -q "cannot write $rel/.*: No space left on device" <<<"$out" || fail "a full disk not reported: $out"
else
  echo "note: no mount namespace here; the full-disk case is not run"
fi
rm -rf "$state/full-before"
# Once it can, the same release goes through, and a replaced file keeps its mode.
rm "$rel/LauncherDlg.bmp.sig.kvn_sign-new" && chmod 640 "$rel/LoginExeVersionInfo.ini"
"$tool" release --expires 10 "$secret" "$rel" >/dev/null || fail "release failed once it could write"
[ "$(stat -c %a "$rel/LoginExeVersionInfo.ini")" = 640 ] || fail "the record lost its mode"
[ "$(value_of Expires "$rel")" != 2098-01-01T00:00:00Z ] || fail "the record was not replaced"
! ls "$rel" | grep -q kvn_sign || fail "files left beside the release: $(ls "$rel")"

# VersionNumber: the deployed server serves 120. A release that raises it is
# refused, and says why, unless --raise-client-minimum; one that keeps or
# lowers it goes through. A server that cannot be read refuses too.
rm -rf "$dl" && cp -r "$state/good" "$dl"
for case in "121 refused" "121 taken --raise-client-minimum" "120 taken" "119 taken" \
            "121 refused --server http://127.0.0.1:9" "0 refused --server http://127.0.0.1:9" \
            "121 taken --server http://127.0.0.1:9 --raise-client-minimum" "121 refused --server $site/nothing" \
            "119 taken --server $site/"; do
  read -r number verdict options <<<"$case"
  rm -rf "$rel" "$state/before" && cp -r "$state/good" "$rel" && rm "$rel"/*.sig
  sed -i "s/^VersionNumber=.*/VersionNumber=$number\r/" "$rel/LoginExeVersionInfo.ini"
  cp -a "$rel" "$state/before"
  # shellcheck disable=SC2086
  if out=$("$tool" release $options "$secret" "$rel" 2>&1); then got=taken; else got=refused; fi
  [ "$got" = "$verdict" ] || fail "release of VersionNumber $number ($options) $got: $out"
  if [ "$verdict" = refused ]; then
    diff -r "$state/before" "$rel" >/dev/null || fail "a refused release changed the folder ($case)"
    grep -q -- "--raise-client-minimum" <<<"$out" || fail "the refusal does not say how to go on ($case): $out"
    if [ -z "$options" ]; then
      grep -q "VersionNumber 121 is above the 120 that $site/download/LoginExeVersionInfo.ini serves" <<<"$out" ||
        fail "a raised VersionNumber is not explained: $out"
    fi
  else
    [ "$(value_of VersionNumber "$rel")" = "$number" ] || fail "VersionNumber changed ($case)"
  fi
done

# ---------------------------------------------------------------- check

rm -rf "$dl" && cp -r "$state/good" "$dl"
echo '{}' > "$state/rules.json"
check() { "$tool" check "$site/" "$@" 2>&1; }

out=$(check "$demo_key") || fail "check refused a good site: $out"
[ "$(grep -c ': taken' <<<"$out")" = 3 ] || fail "check did not take all three files: $out"
out=$(check "$other_key,$demo_key") || fail "check with a key list refused a good site: $out"
# Under a key that did not sign them, the record is refused and the other
# files, which launchers then hold to no record, are not judged.
for key in "$other_key" AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA=; do
  if out=$(check "$key"); then fail "check took files signed with another key ($key)"; fi
  [ "$(grep -c 'REFUSED (signature)' <<<"$out")" = 1 ] && [ "$(grep -c 'not judged (no record)' <<<"$out")" = 2 ] ||
    fail "wrong key not reported ($key): $out"
done

# Each case changes the good site, expects one verdict, and restores it.
# The launcher is signed anew after each change, so only its rule breaks.
expect() {  # expect FILE REASON
  local out
  if out=$(check "$demo_key"); then fail "check took a site with a bad $1 ($2)"; fi
  grep -q "^$1: REFUSED ($2)" <<<"$out" || fail "$1 not refused for $2: $out"
  [ "$(grep -c 'REFUSED' <<<"$out")" = 1 ] || fail "more refused than $1 ($2): $out"
  # A refused record is not taken, so the other two files are not judged.
  if [ "$1" = LoginExeVersionInfo.ini ]; then
    [ "$(grep -cE '^(LauncherDlg.bmp|Login.exe): not judged \(no record\)$' <<<"$out")" = 2 ] ||
      fail "files judged without a record: $out"
  fi
  rm -rf "$dl" && cp -r "$state/good" "$dl"
  echo '{}' > "$state/rules.json"
}
takes() {  # takes WHAT: the site as it is now is taken whole
  local out
  out=$(check "$demo_key") || fail "check refused $1: $out"
  rm -rf "$dl" && cp -r "$state/good" "$dl"
  echo '{}' > "$state/rules.json"
}
cp "$dl/LauncherDlg.bmp.sig" "$dl/Login.exe.sig"
expect Login.exe signature
printf 'X' | dd of="$dl/Login.exe" bs=1 seek=1000 conv=notrunc status=none
kvn_sign_files "$dl/Login.exe"
expect Login.exe digest
printf 'X' >> "$dl/Login.exe"
kvn_sign_files "$dl/Login.exe"
expect Login.exe size
# A launcher cut short on the server: its signature no longer fits, but
# launchers refuse it on its length first.
truncate -s -1000 "$dl/Login.exe"
expect Login.exe size
# A transfer the server breaks off: not the file's fault.
echo '{"/download/Login.exe": {"truncate": 1000}}' > "$state/rules.json"
expect Login.exe fetch
# Content-Length as HTTP has it: digits, or identical ones repeated; a sign
# or lengths that differ are refused before the body, the same for each file.
echo '{"/download/LoginExeVersionInfo.ini": {"content_length": ["{n}", "{n}"]}, "/download/Login.exe": {"content_length": "{n}, {n}"}}' > "$state/rules.json"
takes "lengths given twice alike"
echo '{"/download/LoginExeVersionInfo.ini": {"content_length": "+{n}"}}' > "$state/rules.json"
expect LoginExeVersionInfo.ini fetch
echo '{"/download/LoginExeVersionInfo.ini": {"content_length": ["{n}", "7"]}}' > "$state/rules.json"
expect LoginExeVersionInfo.ini fetch
echo '{"/download/Login.exe": {"content_length": "+{n}"}}' > "$state/rules.json"
expect Login.exe fetch
echo '{"/download/LauncherDlg.bmp": {"content_length": "{n}, 1{n}"}}' > "$state/rules.json"
expect LauncherDlg.bmp fetch
sed -i 's/^Expires=.*/Expires=2020-01-01T00:00:00Z\r/' "$dl/LoginExeVersionInfo.ini"
kvn_sign_files "$dl/LoginExeVersionInfo.ini"
expect LoginExeVersionInfo.ini expiry
sed -i 's/^Expires=.*/Expires=tomorrow\r/' "$dl/LoginExeVersionInfo.ini"
kvn_sign_files "$dl/LoginExeVersionInfo.ini"
expect LoginExeVersionInfo.ini expiry
# A record announced at 100 MB, a record over 64 KiB with an honest length
# and without one (launchers take no body without a length), a launcher that
# runs past the size the record names, and a background size above the
# bitmap ceiling: none is read beyond its ceiling.
echo '{"/download/LoginExeVersionInfo.ini": {"content_length": 100000000}}' > "$state/rules.json"
expect LoginExeVersionInfo.ini ceiling
for i in $(seq 3000); do printf '; padding line %05d\r\n' "$i"; done >> "$dl/LoginExeVersionInfo.ini"
kvn_sign_files "$dl/LoginExeVersionInfo.ini"
cp "$dl/LoginExeVersionInfo.ini" "$dl/LoginExeVersionInfo.ini.sig" "$state/"
expect LoginExeVersionInfo.ini ceiling
cp "$state/LoginExeVersionInfo.ini" "$state/LoginExeVersionInfo.ini.sig" "$dl/"
echo '{"/download/LoginExeVersionInfo.ini": {"content_length": "missing"}}' > "$state/rules.json"
expect LoginExeVersionInfo.ini fetch
head -c 3000000 /dev/zero >> "$dl/Login.exe"
echo '{"/download/Login.exe": {"content_length": "missing"}}' > "$state/rules.json"
expect Login.exe size
sed -i 's/^DlgBackSize=.*/DlgBackSize=300000000\r/' "$dl/LoginExeVersionInfo.ini"
kvn_sign_files "$dl/LoginExeVersionInfo.ini"
expect LauncherDlg.bmp ceiling
# A signature longer than 64 bytes.
printf '%080d' 0 > "$dl/LauncherDlg.bmp.sig"
expect LauncherDlg.bmp signature
# A record that names no digest for the background.
sed -i '/^DlgBackSha256=/d' "$dl/LoginExeVersionInfo.ini"
kvn_sign_files "$dl/LoginExeVersionInfo.ini"
expect LauncherDlg.bmp digest
# A background that is not a whole bitmap, with its own digest and size.
head -c 40000 "$state/good/LauncherDlg.bmp" > "$dl/LauncherDlg.bmp"
printf '[VersionInfo]\r\nLoginExeVersionNumber=7\r\nDlgBackVersionNumber=3\r\nVersionNumber=120\r\n' > "$dl/LoginExeVersionInfo.ini"
"$tool" release "$secret" "$dl" >/dev/null 2>&1 && fail "release signed a cut bitmap"
sed -i "s/^DlgBackVersionNumber=3\r/&\nDlgBackSha256=$(sha256sum "$dl/LauncherDlg.bmp" | cut -d' ' -f1)\r\nDlgBackSize=40000\r\nLoginExeSha256=$exe_sum\r/" \
  "$dl/LoginExeVersionInfo.ini"
kvn_sign_files "$dl/LoginExeVersionInfo.ini" "$dl/LauncherDlg.bmp" "$dl/Login.exe"
expect LauncherDlg.bmp whole
# A server that is gone.
kill "${pids[-1]}"; wait "${pids[-1]}" 2>/dev/null || true
if out=$(check "$demo_key"); then fail "check took an unreachable server"; fi
grep -q '^LoginExeVersionInfo.ini: REFUSED (fetch)' <<<"$out" || fail "unreachable server not reported: $out"
if "$tool" check "$site" not-a-key >/dev/null 2>&1; then fail "check took a malformed key"; fi
echo "PASS: release and check"
