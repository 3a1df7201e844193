#!/bin/bash
# End to end under Wine: qrt.exe packs an author's folder, then installs the package twice
# into a sandboxed host folder registered as the host application's "AppPath" in the test
# prefix. The six folders receive their members, the second install changes no file, and
# the refresh flag is 1. Registry values the test wrote are removed again.
set -u
qrt=$1
top=$(cd "$(dirname "$0")/../.." && pwd)
. "$top/scripts/wine-env.sh"

work=$(mktemp -d)
app_key='HKLM\SOFTWARE\Brannic'
flag_key='HKCU\Software\Velnor\Tessaly\Orvane'
cleanup() {
    wine reg delete "$app_key" /f >/dev/null 2>&1
    wine reg delete 'HKCU\Software\Velnor' /f >/dev/null 2>&1
    rm -rf "$work"
}
trap cleanup EXIT

failures=0
check() {  # check DESCRIPTION COMMAND...
    local what=$1
    shift
    if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failures=$((failures + 1)); fi
}
winpath() { printf 'Z:%s' "${1//\//\\}"; }
snapshot() { (cd "$work/host" && find . -type f -printf '%p %s %T@\n' | sort && find . -type f -exec md5sum {} + | sort); }
flag() { wine reg query "$flag_key" /v ShouldUpdateCat 2>/dev/null | tr -d '\r' | awk '/ShouldUpdateCat/ {print $3}'; }

# An author's folder with members of all six kinds and a sample picture.
src=$work/src
kinds="Templates Backgrounds Borders Masks Textures Brushes"
for k in $kinds; do
    mkdir -p "$src/$k/Set One"
    printf '%s member\n' "$k" >"$src/$k/top-$k.dat"
    head -c 20000 /dev/urandom >"$src/$k/Set One/nested-$k.bin"
done
printf 'End-to-end package\n' >"$src/description.txt"
printf 'JPEG' >"$src/sample.jpg"
mkdir -p "$work/host"
for k in $kinds; do mkdir -p "$work/host/$k"; done

pkg=$(winpath "$work/pkg.qrt")
check "pack" wine "$qrt" pack "$(winpath "$src")" "$pkg"
check "verify" wine "$qrt" verify "$pkg"

# Without "AppPath" nothing is installed and no flag is set.
wine reg delete "$app_key" /f >/dev/null 2>&1
wine reg delete 'HKCU\Software\Velnor' /f >/dev/null 2>&1
check "install without AppPath fails" bash -c "! wine '$qrt' install '$pkg' >/dev/null 2>&1"
check "nothing installed" test -z "$(find "$work/host" -type f)"
check "no flag" test -z "$(flag)"

wine reg add 'HKLM\SOFTWARE\Brannic\Lumora\Orvane' /v AppPath /t REG_SZ /d "$(winpath "$work/host")\\" /f >/dev/null 2>&1
out=$(wine "$qrt" install "$pkg" 2>"$work/err")
check "install exits 0" test $? -eq 0
check "description printed" test "$out" = "End-to-end package"
for k in $kinds; do
    check "$k installed" cmp -s "$src/$k/top-$k.dat" "$work/host/$k/top-$k.dat"
    check "$k nested installed" cmp -s "$src/$k/Set One/nested-$k.bin" "$work/host/$k/Set One/nested-$k.bin"
done
check "sample not installed" test -z "$(find "$work/host" -name sample.jpg)"
check "flag is 1" test "$(flag)" = "0x1"

before=$(snapshot)
wine reg add "$flag_key" /v ShouldUpdateCat /t REG_DWORD /d 0 /f >/dev/null 2>&1
sleep 1
check "second install exits 0" wine "$qrt" install "$pkg"
check "second install changes no file" test "$before" = "$(snapshot)"
check "flag set again" test "$(flag)" = "0x1"

check "not a package" bash -c "! wine '$qrt' install '$(winpath "$src/sample.jpg")' >/dev/null 2>&1"

echo "$failures failure(s)"
[ "$failures" -eq 0 ]
