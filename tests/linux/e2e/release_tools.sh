#!/usr/bin/env bash
# The operator's release tools end to end: `kvn_sign release` fills in and
# signs a download folder (the record keeps its numbers, other lines and
# line ends; digests, sizes and the expiry are set), and `kvn_sign check`
# judges a deployed download server (the local stand-in) as launchers do:
# a good site passes; a wrong signature, digest or size, an expired record
# and files above their ceilings are each refused with their reason.
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
value_of() { sed -n "s/^$1=//p" "$dl/LoginExeVersionInfo.ini" | tr -d '\r'; }

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

# ---------------------------------------------------------------- check

rm -rf "$dl" && cp -r "$state/good" "$dl"
echo '{}' > "$state/rules.json"
kvn_start_server --root "$state/site" --rules "$state/rules.json"
check() { "$tool" check "$site/" "$@" 2>&1; }

out=$(check "$demo_key") || fail "check refused a good site: $out"
[ "$(grep -c ': taken' <<<"$out")" = 3 ] || fail "check did not take all three files: $out"
out=$(check "$other_key,$demo_key") || fail "check with a key list refused a good site: $out"
if out=$(check "$other_key"); then fail "check took files signed with another key"; fi
[ "$(grep -c 'REFUSED (signature)' <<<"$out")" = 3 ] || fail "wrong key not reported for each file: $out"
if out=$(check AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA=); then fail "check took files under a degenerate key"; fi
[ "$(grep -c 'REFUSED (signature)' <<<"$out")" = 3 ] || fail "degenerate key not reported for each file: $out"

# Each case changes the good site, expects one verdict, and restores it.
# The launcher is signed anew after each change, so only its rule breaks.
expect() {  # expect FILE REASON
  local out
  if out=$(check "$demo_key"); then fail "check took a site with a bad $1 ($2)"; fi
  grep -q "^$1: REFUSED ($2)" <<<"$out" || fail "$1 not refused for $2: $out"
  # (Without a record the other two files have nothing to be held to.)
  [ "$(grep -v 'REFUSED (record)' <<<"$out" | grep -c 'REFUSED')" = 1 ] || fail "more refused than $1 ($2): $out"
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
sed -i 's/^Expires=.*/Expires=2020-01-01T00:00:00Z\r/' "$dl/LoginExeVersionInfo.ini"
kvn_sign_files "$dl/LoginExeVersionInfo.ini"
expect LoginExeVersionInfo.ini expiry
sed -i 's/^Expires=.*/Expires=tomorrow\r/' "$dl/LoginExeVersionInfo.ini"
kvn_sign_files "$dl/LoginExeVersionInfo.ini"
expect LoginExeVersionInfo.ini expiry
# A record announced at 100 MB, a record that runs past 64 KiB without a
# length, a launcher that runs past the size the record names, and a
# background size above the bitmap ceiling: none is read beyond its ceiling.
echo '{"/download/LoginExeVersionInfo.ini": {"content_length": 100000000}}' > "$state/rules.json"
expect LoginExeVersionInfo.ini ceiling
for i in $(seq 3000); do printf '; padding line %05d\r\n' "$i"; done >> "$dl/LoginExeVersionInfo.ini"
kvn_sign_files "$dl/LoginExeVersionInfo.ini"
echo '{"/download/LoginExeVersionInfo.ini": {"content_length": "missing"}}' > "$state/rules.json"
expect LoginExeVersionInfo.ini ceiling
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
