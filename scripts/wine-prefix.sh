#!/usr/bin/env bash
# Makes the Wine prefix $WINEPREFIX ready for Login.exe and its tests: a new
# prefix is created (without the Mono and Gecko installers), and every
# prefix gets the Chinese font once. Wine's dialog and message-box fonts
# (Tahoma behind "MS Shell Dlg") have no CJK glyphs, so the launcher's
# Chinese texts would show as empty boxes: those fonts are linked to
# WenQuanYi Micro Hei (fonts-wqy-microhei) for the glyphs they lack, and the
# usual Chinese font names are substituted by it. Micro Hei is drawn from
# outlines at every size; Zen Hei's embedded bitmap strikes, which Wine
# takes at dialog sizes, lose strokes (Latin letters too). A prefix done
# once carries a mark and is left alone, so callers may run this before
# every use.
set -eu
: "${WINEPREFIX:?WINEPREFIX must name the prefix}"
export WINEPREFIX WINEDEBUG=${WINEDEBUG:--all}
# The mark names the font, so a prefix linked to an earlier one is done again.
mark=$WINEPREFIX/.kvn-cjk-font-microhei
[ -e "$mark" ] && exit 0
if [ ! -e "$WINEPREFIX/system.reg" ]; then
  WINEDLLOVERRIDES="${WINEDLLOVERRIDES:+$WINEDLLOVERRIDES;}mscoree=;mshtml=" wineboot -i >/dev/null 2>&1 || true
fi
font=$(fc-match -f '%{file}' 'WenQuanYi Micro Hei:lang=zh-cn' 2>/dev/null || true)
case "$font" in
  */wqy-microhei.tt?) ;;
  *) echo "wine-prefix.sh: WenQuanYi Micro Hei is not installed (fonts-wqy-microhei); Chinese texts under Wine will not show" >&2
     exit 0 ;;
esac
reg=$(mktemp /tmp/kvn-fonts.XXXXXX.reg)
trap 'rm -f "$reg"' EXIT
# The registry file in UTF-16 (Chinese value names); the links are
# REG_MULTI_SZ lists of "file,face".
python3 - "$(basename "$font")" "$reg" <<'PY'
import sys
file, out = sys.argv[1], sys.argv[2]
face = "WenQuanYi Micro Hei"
root = r"HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion"
def multi(values):
    data = "".join(v + "\0" for v in values) + "\0"
    return "hex(7):" + ",".join("%02x" % b for b in data.encode("utf-16-le"))
lines = ["Windows Registry Editor Version 5.00", "", "[%s\\FontLink\\SystemLink]" % root]
for name in ("Tahoma", "MS Shell Dlg", "MS Shell Dlg 2", "Microsoft Sans Serif", "Segoe UI"):
    lines.append('"%s"=%s' % (name, multi([file + "," + face])))
lines += ["", "[%s\\FontSubstitutes]" % root]
for name in ("SimSun", "宋体", "NSimSun", "新宋体", "SimHei", "黑体", "Microsoft YaHei", "微软雅黑"):
    lines.append('"%s"="%s"' % (name, face))
open(out, "w", encoding="utf-16", newline="\r\n").write("\n".join(lines) + "\n")
PY
wine reg import "$(winepath -w "$reg")" >/dev/null 2>&1 || { echo "wine-prefix.sh: the font links were not written" >&2; exit 1; }
touch "$mark"
# Wine's processes of this set-up end before the caller's start: a desktop
# process started here without a display would serve the caller's windows.
wineserver -w
