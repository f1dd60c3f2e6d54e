#!/usr/bin/env bash
# Runs the Windows build of quillfen.exe under Wine against devices that are
# planted in the prefix's registry, with our own stand-ins for schtasks and
# pnputil, and compares screens, files and recorded command lines.
#
#   tests/wine/run.sh            build dir: build-win (override: QF_WIN_BUILD)
#
# Needs: cmake, the MinGW-w64 cross compiler, wine64, iconv; tmux for the
# console check (skipped without it). Prints "N passed, M failed" and exits
# non-zero when anything failed.

set -u
export LANG=C.UTF-8
unset LC_ALL DISPLAY WAYLAND_DISPLAY

ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=${QF_WIN_BUILD:-$ROOT/build-win}
PASS=0
FAIL=0
SKIP=0
T0_RUN=$(date +%s)

ok() { PASS=$((PASS + 1)); echo "ok    $1"; }
bad() {
    FAIL=$((FAIL + 1))
    echo "FAIL  $1"
    shift
    [ $# -gt 0 ] && printf '%s\n' "$@" | sed 's/^/      /'
    return 0
}
skip() { SKIP=$((SKIP + 1)); echo "skip  $1"; }
die() { echo "run.sh: $*" >&2; echo "$PASS passed, $((FAIL + 1)) failed"; exit 1; }

# ---- tools ---------------------------------------------------------------

WINE=""
for w in /usr/lib/wine/wine64 "$(command -v wine64 2>/dev/null)" "$(command -v wine 2>/dev/null)"; do
    if [ -n "$w" ] && [ -x "$w" ]; then WINE=$w; break; fi
done
[ -n "$WINE" ] || die "wine64 not found (Debian: apt-get install wine64)"
WINESERVER=""
for w in /usr/lib/wine/wineserver64 /usr/lib/wine/wineserver "$(command -v wineserver 2>/dev/null)"; do
    if [ -n "$w" ] && [ -x "$w" ]; then WINESERVER=$w; break; fi
done
[ -n "$WINESERVER" ] || die "wineserver not found"
CC=""
for c in x86_64-w64-mingw32-gcc-posix x86_64-w64-mingw32-gcc; do
    if command -v "$c" >/dev/null 2>&1; then CC=$c; break; fi
done
[ -n "$CC" ] || die "MinGW-w64 C compiler not found"
command -v iconv >/dev/null || die "iconv not found"

# ---- build -----------------------------------------------------------------

echo "== build"
mkdir -p "$BUILD"
cmake -S "$ROOT" -B "$BUILD" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64.cmake" \
    -DCMAKE_BUILD_TYPE=Release >"$BUILD/configure.log" 2>&1 || { cat "$BUILD/configure.log"; die "cmake configure failed"; }
cmake --build "$BUILD" -j2 >"$BUILD/build.log" 2>&1 || { tail -40 "$BUILD/build.log"; die "build failed"; }
EXE=$BUILD/quillfen.exe
[ -f "$EXE" ] || die "no $EXE"
mkdir -p "$BUILD/standins"
for p in schtasks pnputil planted; do
    "$CC" -O2 -Wall -static -o "$BUILD/standins/$p.exe" "$ROOT/tests/wine/standins/$p.c" \
        -lshell32 -ladvapi32 || die "stand-in $p failed to build"
done

# The executable stands alone and imports only KERNEL32 and the C runtime:
# the other system DLLs are loaded on first use, from the system directory.
imports=$(x86_64-w64-mingw32-objdump -p "$EXE" | sed -n 's/.*DLL Name: //p' | tr 'A-Z' 'a-z' | sort | tr '\n' ' ')
if [ "$imports" = "kernel32.dll msvcrt.dll " ]; then ok "exe imports only KERNEL32 and msvcrt ($imports)"; else bad "exe imports only KERNEL32 and msvcrt" "$imports"; fi

# The manifest (elevation, UTF-8 code page) and the version block are embedded.
man_ok=1
for t in '<assemblyIdentity name="Quillfen" version="1.0.0.0" processorArchitecture="amd64" type="win32"/>' \
         'level="requireAdministrator" uiAccess="false"' \
         '>UTF-8</activeCodePage>' '{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}' '{35138b9a-5d96-4fbd-8e2d-a2440225f93a}'; do
    strings -n 8 "$EXE" | grep -qF -- "$t" || { man_ok=0; bad "manifest embedded" "missing: $t"; }
done
for t in 'Quillfen' '2.0.0.0' 'Quillfen - scan and remove a named device with manual confirmation'; do
    strings -n 7 -el "$EXE" | grep -qxF -- "$t" || { man_ok=0; bad "version block embedded" "missing: $t"; }
done
[ $man_ok = 1 ] && ok "manifest and version block embedded"

# ---- prefix ----------------------------------------------------------------

export WINEPREFIX=$BUILD/wineprefix
export WINEDEBUG=-all
export WINEARCH=win64
# Our schtasks.exe replaces Wine's built-in one (which rejects /SC MINUTE).
export WINEDLLOVERRIDES="schtasks.exe=n"
DRIVE_C=$WINEPREFIX/drive_c
T=$BUILD/wine-work
rm -rf "$T"
mkdir -p "$T"

if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "== creating Wine prefix $WINEPREFIX"
    t=$(date +%s%N)
    "$WINE" wineboot -i </dev/null >"$T/wineboot.out" 2>&1
    "$WINESERVER" -w
    ms=$((($(date +%s%N) - t) / 1000000))
    echo "   prefix created in $((ms / 1000)).$(printf '%03d' $((ms % 1000))) s"
fi
[ -d "$DRIVE_C/windows/system32" ] || die "Wine prefix was not created"

cp "$BUILD/standins/schtasks.exe" "$BUILD/standins/pnputil.exe" "$DRIVE_C/windows/system32/"
QF=$DRIVE_C/qf
SI=$DRIVE_C/standin
LOG=$QF/device_cleanup_log.txt
mkdir -p "$QF" "$SI"
cp "$EXE" "$QF/quillfen.exe"

# Fresh data files and stand-in records; stand-ins exit with $1 / $2.
reset_state() {
    rm -f "$QF/blacklist.tsv" "$QF/device_cleanup_log.txt" "$QF"/*.tmp "$SI"/*
    echo "${1:-0}" >"$SI/schtasks.exit"
    echo "${2:-0}" >"$SI/pnputil.exit"
}

# ---- devices in the registry ---------------------------------------------

ENUM='HKEY_LOCAL_MACHINE\System\CurrentControlSet\Enum'
CAMERA_GUID='{ca3e7ab9-b4c3-4ae6-8251-579ef933890f}'

# Every device key the checks plant; each group starts by deleting them all.
TEST_DEV_KEYS=(
    'ROOT\QFCAM'
    'USB\VID_046D&PID_C31C' 'USB\VID_0BDA&PID_58B0' 'USB\VID_1234&PID_5678'
    'USB\VID_2222&PID_0002' 'USB\VID_AAAA&PID_0001'
    'USB\VID_0C45&PID_6366' 'USB\VID_0C45&PID_64AB' 'USB\VID_0C45&PID_64AC'
    'USB\VID_0C45&PID_64AD' 'USB\VID_0C45&PID_64AE' 'USB\VID_FFFF&PID_FFFF'
)

# One device: "instance id|friendly name|description|class"; a friendly
# name of "-" leaves the value out, "" writes an empty one. A name may hold
# \r and \n (written as escapes): it then goes in as hex(1), the only form
# regedit keeps control characters in.
reg_escape() { local s=${1//\\/\\\\}; printf '%s' "${s//\"/\\\"}"; }
reg_string() {
    case $1 in
    *'\r'* | *'\n'*) printf 'hex(1):%s' "$(printf "$1" | iconv -f UTF-8 -t UTF-16LE | od -An -v -tx1 | tr -s ' \n' ',' | sed 's/^,//')00,00" ;;
    *) printf '"%s"' "$(reg_escape "$1")" ;;
    esac
}

devices() {
    local f=$SI/devices.reg dev inst fn dd cls
    {
        printf 'Windows Registry Editor Version 5.00\r\n\r\n'
        for k in "${TEST_DEV_KEYS[@]}"; do printf '[-%s\\%s]\r\n\r\n' "$ENUM" "$k"; done
        for dev in "$@"; do
            IFS='|' read -r inst fn dd cls <<<"$dev"
            printf '[%s\\%s]\r\n' "$ENUM" "$inst"
            [ "$fn" != "-" ] && printf '"FriendlyName"=%s\r\n' "$(reg_string "$fn")"
            printf '"DeviceDesc"="%s"\r\n' "$(reg_escape "$dd")"
            printf '"Class"="%s"\r\n"ClassGUID"="%s"\r\n\r\n' "$cls" "$CAMERA_GUID"
        done
    } | { printf '\xff\xfe'; iconv -f UTF-8 -t UTF-16LE; } >"$f"
    "$WINE" regedit /s 'C:\standin\devices.reg' </dev/null >"$T/regedit.out" 2>&1
}

# ---- running the program ------------------------------------------------------

# qf INPUT ARGS...: runs C:\qf\quillfen.exe with standard input from the file
# INPUT (files only: Wine's helper processes inherit pipes and reads hang),
# output to $T/out.raw and $T/err; the exit code goes to RC. Redirected
# standard output is in the runtime's text mode, so every line ends in CR LF;
# $T/out is the same text with LF ends, which the checks compare.
qf() {
    local in=$1
    shift
    (cd "$QF" && timeout 120 "$WINE" 'C:\qf\quillfen.exe' "$@" <"$in" >"$T/out.raw" 2>"$T/err")
    RC=$?
    tr -d '\r' <"$T/out.raw" >"$T/out"
}
NOIN=$T/empty.in
: >"$NOIN"
input() { printf "$1" >"$T/in"; }

# same NAME EXPECTED_FILE ACTUAL_FILE
same() {
    if cmp -s "$2" "$3"; then ok "$1"; else bad "$1" "$(diff -u "$2" "$3" | head -40)"; fi
}
# has NAME FILE TEXT: FILE holds TEXT as a whole line (CR dropped), or at the
# end of a line after a prompt's "> " (typed answers are not echoed).
has() {
    if tr -d '\r' <"$2" | QF_TEXT=$3 awk 'BEGIN { t = ENVIRON["QF_TEXT"]; p = "> " t }
        $0 == t || (length($0) > length(p) && substr($0, length($0) - length(p) + 1) == p) { f = 1 }
        END { exit !f }'; then
        ok "$1"
    else
        bad "$1" "missing line: $3" "--- in $2:" "$(head -c 3000 "$2")"
    fi
}
hasnt() {
    if tr -d '\r' <"$2" | grep -qF -- "$3"; then bad "$1" "unexpected: $3"; else ok "$1"; fi
}
rc_is() { if [ "$RC" = "$2" ]; then ok "$1"; else bad "$1" "exit code $RC, expected $2" "$(head -c 2000 "$T/err")"; fi; }

# Expected screen pieces, byte for byte. Field widths count bytes.
row() { local LC_ALL=C; printf '  %-4d  %-4s  %-4s  %-6s  %-32s %-14s %s\n' "$@"; }
header() { local LC_ALL=C; printf '  序号  状态   保护  已拉黑  %-32s %-14s %s\n' '设备名' '类别' '实例ID'; }
DEF_KEYS_LINE='   匹配关键词：smart-camara smart-camera smartcamara smartcamera smart cam smartcam 智慧摄像机 智能摄像 '
banner() { # keyword line, risk text, blacklist count; line 4 is taken from $T/out
    printf '\n  ============================================================\n'
    printf '     Quillfen  v2   ·   扫描 / 手动删除 / 拉黑\n'
    sed -n 4p "$T/out"
    printf '  ============================================================\n'
    printf '%s\n' "$1"
    printf '   风险提示：%s\n' "$2"
    printf '   拉黑名单：%d 条在用\n\n' "$3"
}
closing() { printf '\n  日志：device_cleanup_log.txt    拉黑名单：blacklist.tsv\n  Vorin告辞，嗷呜——！\n\n'; }
builtin_note() { printf '\n  [标记] %d 个属于内置/系统设备（列标「锁」），删除前会额外问你一句是否承担风险\n' "$1"; }
credit_ok() {
    if sed -n 4p "$T/out" | grep -qE '^     [^ ].*'; then ok "$1"; else bad "$1" "line 4: $(sed -n 4p "$T/out")"; fi
}

# ---- a: scan table, keywords ----------------------------------------------

echo "== a: -s listing"
reset_state
DEV_A=(
    'ROOT\QFCAM\0000|SmartCam Loopback|Loopback|Image'
    'USB\VID_046D&PID_C31C\K1|Generic Keyboard|Keyboard|Keyboard'
    'USB\VID_0BDA&PID_58B0\SN001||HD Camera for Smart TV|Camera'
    'USB\VID_1234&PID_5678\0001|智能摄像头|USB 视频设备|Camera'
    'USB\VID_2222&PID_0002\7|智慧摄像头|智慧摄像头|Camera'
    'USB\VID_AAAA&PID_0001\5&1A2B&0&1|Smart-Camera Hub|USB Composite|USB'
)
devices "${DEV_A[@]}"
qf "$NOIN" -s
rc_is "a: -s exits 0" 0
credit_ok "a: credit line"
{
    banner "$DEF_KEYS_LINE" '开启（内置/系统设备会额外询问）' 0
    printf '  正在扫描设备...\n'
    header
    row 1 在场 锁 — 'SmartCam Loopback' Image 'ROOT\QFCAM\0000'
    row 2 在场 — — 'HD Camera for Smart TV' Camera 'USB\VID_0BDA&PID_58B0\SN001'
    row 3 在场 — — '智能摄像头' Camera 'USB\VID_1234&PID_5678\0001'
    row 4 在场 锁 — 'Smart-Camera Hub' USB 'USB\VID_AAAA&PID_0001\5&1A2B&0&1'
    builtin_note 2
    printf '\n'
    closing
} >"$T/expect"
same "a: -s screen (default keywords, fallback pair, built-in marks, empty friendly name)" "$T/expect" "$T/out"
sed 's/$/\r/' "$T/expect" >"$T/expect.crlf"
same "a: redirected output has CR LF line ends" "$T/expect.crlf" "$T/out.raw"

qf "$NOIN" -s -k '摄像头'
rc_is "a: -s -k 摄像头 exits 0" 0
{
    banner '   匹配关键词：摄像头（自定义）' '开启（内置/系统设备会额外询问）' 0
    printf '  正在扫描设备...\n'
    header
    row 1 在场 — — '智能摄像头' Camera 'USB\VID_1234&PID_5678\0001'
    row 2 在场 — — '智慧摄像头' Camera 'USB\VID_2222&PID_0002\7'
    printf '\n'
    closing
} >"$T/expect"
same "a: Chinese keyword from the command line" "$T/expect" "$T/out"

qf "$NOIN" --present-only --force -s -k CAMERA
rc_is "a: -k CAMERA exits 0" 0
{
    banner '   匹配关键词：camera（自定义）' '已关闭（--force）' 0
    printf '  正在扫描设备...\n'
    header
    row 1 在场 — — 'HD Camera for Smart TV' Camera 'USB\VID_0BDA&PID_58B0\SN001'
    row 2 在场 锁 — 'Smart-Camera Hub' USB 'USB\VID_AAAA&PID_0001\5&1A2B&0&1'
    builtin_note 1
    printf '\n'
    closing
} >"$T/expect"
same "a: ASCII keyword lower-cased, --force, --present-only" "$T/expect" "$T/out"

qf "$NOIN" -s -k 'no such device'
{
    banner '   匹配关键词：no such device（自定义）' '开启（内置/系统设备会额外询问）' 0
    printf '  正在扫描设备...\n  （没找到匹配的设备）\n\n'
    closing
} >"$T/expect"
same "a: nothing matched" "$T/expect" "$T/out"

# ---- c: scheduled task commands ----------------------------------------------

echo "== c: task commands"
SYS32='"C:\windows\system32'
# create_line EXE: the command that hands over the definition beside EXE.
create_line() {
    printf '%s\\schtasks.exe" /Create /TN "Quillfen-Enforce" /XML "%s\\Quillfen-Enforce.xml" /F\n' "$SYS32" "${1%\\*}"
}
# task_ok NAME EXE N events|timer: the N-th definition schtasks was handed is
# well-formed UTF-16 with every element for EXE, and none is left behind.
task_ok() {
    local why
    if why=$(python3 "$ROOT/tests/wine/check_task_xml.py" "$SI/task.$3.xml" "$2" "$4" 2>&1) &&
        ! ls "$DRIVE_C"/*/Quillfen-Enforce.xml "$DRIVE_C"/*/*/Quillfen-Enforce.xml >/dev/null 2>&1; then
        ok "$1"
    else
        bad "$1" "$why" "$(ls "$DRIVE_C"/*/Quillfen-Enforce.xml "$DRIVE_C"/*/*/Quillfen-Enforce.xml 2>/dev/null)"
    fi
}
DELETE_LINE="$SYS32\\schtasks.exe\" /Delete /TN \"Quillfen-Enforce\" /F"
pnputil_line() { local id; for id; do printf '%s\\pnputil.exe" /remove-device "%s"\n' "$SYS32" "$id"; done; }
# Under Wine every folder is writable by the user's own account, so the task
# is only created with --allow-unsafe-dir.
reset_state 0
qf "$NOIN" --install-task
rc_is "c: --install-task refused for a folder users can write" 1
has "c: the refusal on standard error" "$T/err" '✘ 未安装：C:\qf\quillfen.exe 可被普通用户修改，以 SYSTEM 运行会被用来提权。'
if [ ! -e "$SI/schtasks.log" ] && grep -q '] 拒绝安装后台任务 | C:\\qf\\quillfen.exe' "$LOG"; then ok "c: refused: schtasks never ran, the log says why"; else bad "c: refused: schtasks never ran, the log says why" "$(cat "$LOG" "$SI/schtasks.log" 2>&1)"; fi
for code in 0 1; do
    reset_state "$code"
    qf "$NOIN" --install-task --allow-unsafe-dir
    rc_is "c: --install-task --allow-unsafe-dir with schtasks exiting $code" "$code"
    task_ok "c: the definition is whole and deleted afterwards (exit $code)" 'C:\qf\quillfen.exe' 1 events
    qf "$NOIN" --remove-task --blist
    rc_is "c: --remove-task with schtasks exiting $code" "$code"
    # A failure is tried once more, without the device-event trigger.
    { create_line 'C:\qf\quillfen.exe'; [ $code = 1 ] && create_line 'C:\qf\quillfen.exe'; printf '%s\n' "$DELETE_LINE"; } >"$T/expect"
    same "c: schtasks received both command lines intact (exit $code)" "$T/expect" "$SI/schtasks.log"
    if [ $code = 0 ]; then want='后台任务装在不安全目录 | C:\qf\quillfen.exe'; else want=''; fi
    got=$(sed -E 's/^\[[^]]*\] //' "$LOG" 2>/dev/null | tr -d '\r')
    if [ ! -s "$T/out" ] && [ "$got" = "$want" ]; then ok "c: task commands print nothing, log only the unsafe folder"; else bad "c: task commands print nothing, log only the unsafe folder" "$(cat "$T/out")" "$got"; fi
done

# A system without the device event log refuses the trigger: the task is
# created again with the timer alone, and that counts as success.
reset_state 0
: >"$SI/schtasks.noevents"
qf "$NOIN" --install-task --allow-unsafe-dir
rc_is "c: the timer-only fallback succeeds" 0
task_ok "c: the first definition had the device-event trigger" 'C:\qf\quillfen.exe' 1 events
task_ok "c: the second one has the timer alone" 'C:\qf\quillfen.exe' 2 timer
cp "$SI/task.1.xml" "$BUILD/Quillfen-Enforce.as-written.xml"  # kept for reading

# A % in the program's path is refused with or without the option.
PCT='pct%OS%x'
mkdir -p "$DRIVE_C/$PCT"
cp "$EXE" "$DRIVE_C/$PCT/quillfen.exe"
for allow in "" --allow-unsafe-dir; do
    reset_state 0
    (cd "$QF" && timeout 60 "$WINE" "C:\\$PCT\\quillfen.exe" --install-task $allow <"$NOIN" >"$T/out" 2>"$T/err")
    RC=$?
    rc_is "c: a path with % refused ${allow:-without the option}" 1
    has "c: the % refusal ${allow:-without the option}" "$T/err" '✘ 未安装：程序路径含有 %，计划任务会把它当作环境变量展开；请换一个目录。'
    if [ ! -e "$SI/schtasks.log" ]; then ok "c: no schtasks for a % path"; else bad "c: no schtasks for a % path" "$(cat "$SI/schtasks.log")"; fi
done
rm -rf "${DRIVE_C:?}/$PCT"

# Programs planted beside the executable and in the current directory are
# never started: schtasks and pnputil come from the system directory only.
reset_state 0 0
devices 'USB\VID_1234&PID_5678\0001|智能摄像头|x|Camera'
mkdir -p "$DRIVE_C/cwd"
for d in "$QF" "$DRIVE_C/cwd"; do for p in cmd schtasks pnputil; do cp "$BUILD/standins/planted.exe" "$d/$p.exe"; done; done
input '1\ny\n\n'
(cd "$DRIVE_C/cwd" && timeout 60 "$WINE" 'C:\qf\quillfen.exe' --remove-task <"$NOIN" >"$T/out" 2>"$T/err" &&
    timeout 60 "$WINE" 'C:\qf\quillfen.exe' <"$T/in" >"$T/out" 2>"$T/err")
printf '%s\n' "$DELETE_LINE" >"$T/expect"
same "c: the real schtasks ran" "$T/expect" "$SI/schtasks.log"
pnputil_line 'USB\VID_1234&PID_5678\0001' >"$T/expect"
same "c: the real pnputil ran" "$T/expect" "$SI/pnputil.log"
if [ ! -e "$SI/planted.log" ]; then ok "c: no planted cmd, schtasks or pnputil ran"; else bad "c: no planted cmd, schtasks or pnputil ran" "$(cat "$SI/planted.log")"; fi
rm -f "$QF/cmd.exe" "$QF/schtasks.exe" "$QF/pnputil.exe"
rm -rf "$DRIVE_C/cwd"

# An idle pass loads no DLL beyond KERNEL32 and the C runtime.
reset_state
WINEDEBUG=+loaddll "$WINE" 'C:\qf\quillfen.exe' --enforce <"$NOIN" >"$T/out" 2>"$T/loaddll"
loaded=$(sed -n 's/.*Loaded L"[^"]*\\\([^"\\]*\)".*/\1/p' "$T/loaddll" | tr 'A-Z' 'a-z' | sort | tr '\n' ' ')
if [ "$loaded" = "kernel32.dll kernelbase.dll msvcrt.dll quillfen.exe " ]; then ok "c: an idle --enforce loads no other DLL"; else bad "c: an idle --enforce loads no other DLL" "$loaded"; fi

# --install-task wins over --remove-task; a path with blanks, Chinese
# characters, & and ^ reaches schtasks whole.
for ODD in 'Program Files/Quillfen 工具' 'R&D ^x (1)'; do
    reset_state 0
    mkdir -p "$DRIVE_C/$ODD"
    cp "$EXE" "$DRIVE_C/$ODD/quillfen.exe"
    WIN_ODD="C:\\${ODD//\//\\}\\quillfen.exe"
    (cd "$DRIVE_C/$ODD" && timeout 60 "$WINE" "$WIN_ODD" --remove-task --install-task --allow-unsafe-dir <"$NOIN" >"$T/out" 2>"$T/err")
    RC=$?
    rc_is "c: --install-task from $WIN_ODD" 0
    create_line "$WIN_ODD" >"$T/expect"
    same "c: $WIN_ODD reaches schtasks intact" "$T/expect" "$SI/schtasks.log"
    task_ok "c: the definition for $WIN_ODD names it intact" "$WIN_ODD" 1 events
done
rm -rf "$DRIVE_C/R&D ^x (1)"

# ---- d: removal through pnputil ------------------------------------------------

echo "== d: removal"
reset_state 0 0
DEV_D=(
    'USB\VID_0C45&PID_6366\P%PATH%|Smart Camera Percent|x|Camera'
    'USB\VID_0C45&PID_6366\Q"&CALC&"Z|Smart Camera Quote|x|Camera'
    'USB\VID_1234&PID_5678\0001|智能摄像头|x|Camera'
)
devices "${DEV_D[@]}"
# Device 3 and device 1 (removed, not blacklisted), then 2, which must be
# refused: a quote would end pnputil's argument early. A % is harmless now
# that no command interpreter stands between.
input '3,1,2\ny\n\ny\n\ny\n\n'
qf "$T/in"
rc_is "d: interactive run ends with 0 at the end of input" 0
pnputil_line 'USB\VID_1234&PID_5678\0001' 'USB\VID_0C45&PID_6366\P%PATH%' >"$T/expect"
same "d: pnputil by full path, ids with & and % intact, the quoted id never" "$T/expect" "$SI/pnputil.log"
has "d: removal reported" "$T/out" '  ✔ 已删除：智能摄像头'
has "d: id with % removed" "$T/out" '  ✔ 已删除：Smart Camera Percent'
has "d: id with quotes refused" "$T/out" '  ✘ 删除失败：Smart Camera Quote  （多半是权限不足，或设备正在被使用）'
has "d: summary" "$T/out" '  本轮结果：成功 2，失败 1，跳过 0'
if tr -d '\r' <"$QF/device_cleanup_log.txt" | grep -qE '^\[[0-9-]{10} [0-9:]{8}\] 已删除 \| 智能摄像头 \| USB\\VID_1234&PID_5678\\0001$'; then
    ok "d: log line 已删除 with name and id"
else
    bad "d: log line 已删除 with name and id" "$(cat "$QF/device_cleanup_log.txt")"
fi
if tr -d '\r' <"$QF/device_cleanup_log.txt" | grep -qF '] 删除失败 | Smart Camera Quote | USB\VID_0C45&PID_6366\Q"&CALC&"Z'; then
    ok "d: log line 删除失败 for the refused id"
else
    bad "d: log line 删除失败 for the refused id" "$(cat "$QF/device_cleanup_log.txt")"
fi
# The rescan after the dialogue no longer lists the removed device.
sed -n '/本轮结果/,$p' "$T/out" >"$T/after"
hasnt "d: removed device gone from the next table" "$T/after" '智能摄像头'
has "d: refused device still listed" "$T/after" "$(row 1 在场 — — 'Smart Camera Quote' Camera 'USB\VID_0C45&PID_6366\Q"&CALC&"Z')"

# pnputil failing counts as a failed removal.
reset_state 0 1
devices "${DEV_D[@]}"
input '3\ny\n\n'
qf "$T/in"
has "d: pnputil exit 1 is a failure" "$T/out" '  ✘ 删除失败：智能摄像头  （多半是权限不足，或设备正在被使用）'
has "d: summary after failure" "$T/out" '  本轮结果：成功 0，失败 1，跳过 0'

# A key planted in lower case is enumerated upper-cased; the stand-in deletes
# it whatever the case, and pnputil's 3010 (removed, restart pending) counts
# as a removal that a restart finishes.
reset_state 0 3010
devices 'usb\vid_0c45&pid_64ae\lc01|Smart Camera Lower|x|Camera'
input '1\ny\n\n'
qf "$T/in"
has "d: pnputil exit 3010 is a success that needs a restart" "$T/out" '  ✔ 已删除：Smart Camera Lower（重启电脑后完成）'
pnputil_line 'USB\VID_0C45&PID_64AE\LC01' >"$T/expect"
same "d: id of a lower-case key reaches pnputil" "$T/expect" "$SI/pnputil.log"
printf '0\n' >"$T/expect"
same "d: the device's key was deleted" "$T/expect" "$SI/pnputil.result"
sed -n '/本轮结果/,$p' "$T/out" >"$T/after"
hasnt "d: lower-case device gone from the next table" "$T/after" 'Smart Camera Lower'

# ---- e: prepared blacklist file, log -----------------------------------------

echo "== e: blacklist file and log"
reset_state
devices "${DEV_A[@]}"
NOW=$(date +%s)
KEEP="$((NOW + 7200))	1	智能摄像头	usb\\vid_1234&pid_5678\\0001	Camera"
{
    printf '# Quillfen 拉黑名单  (until\\tbyname\\tname\\tinst\\tcls)\n'
    printf '%s\n' "$KEEP"
    printf '%s\t0\told thing\tUSB\\VID_DEAD&PID_BEEF\\1\tCamera\n' "$((NOW - 10))"
} >"$QF/blacklist.tsv"
qf "$NOIN" -s
rc_is "e: -s with a blacklist exits 0" 0
has "e: banner counts the entry in force" "$T/out" '   拉黑名单：1 条在用'
has "e: 是 for the blacklisted id (other letter case)" "$T/out" "$(row 3 在场 — 是 '智能摄像头' Camera 'USB\VID_1234&PID_5678\0001')"
has "e: — for the others" "$T/out" "$(row 2 在场 — — 'HD Camera for Smart TV' Camera 'USB\VID_0BDA&PID_58B0\SN001')"
{
    printf '# Quillfen 拉黑名单  (until\\tbyname\\tname\\tinst\\tcls)\r\n'
    printf '%s\r\n' "$KEEP"
} >"$T/expect"
same "e: expired entry pruned, file rewritten with CR LF" "$T/expect" "$QF/blacklist.tsv"

n=$(grep -c '' "$LOG" 2>/dev/null || echo 0)
if [ "$n" = 1 ] && grep -qE $'^\\[[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\\] 扫描完成，命中 4 个设备\r$' "$LOG"; then
    ok "e: one scan line in the log, CR LF"
else
    bad "e: one scan line in the log, CR LF" "$(cat -A "$LOG" 2>/dev/null)"
fi
stamp=$(sed -n '1s/^\[\([^]]*\)\].*/\1/p' "$LOG")
ts=$(date -d "$stamp" +%s 2>/dev/null || echo 0)
if [ $((ts - NOW)) -ge -120 ] && [ $((ts - NOW)) -le 120 ]; then ok "e: log time is local now ($stamp)"; else bad "e: log time is local now" "$stamp vs $(date '+%F %T')"; fi
qf "$NOIN" -s
if [ "$(grep -c '' "$LOG")" = 2 ]; then ok "e: the log is appended to"; else bad "e: the log is appended to" "$(cat "$LOG")"; fi

# ---- f: the road of one device ---------------------------------------------------

echo "== f: remove, blacklist, task, enforce"
reset_state 0 0
DEV_F=(
    'USB\VID_0C45&PID_64AB\ROAD&01|Smart Camera Alpha|x|Camera'
    'USB\VID_0C45&PID_64AC\ROAD&02|SmartCam Beta|x|Camera'
)
devices "${DEV_F[@]}"
# Both devices: confirm, blacklist, 1 hour / 1 day, task yes / no.
input '1,2\ny\ny\n1\ny\ny\ny\n3\nn\n\n'
F0=$(date +%s)
qf "$T/in" --allow-unsafe-dir
F1=$(date +%s)
rc_is "f: dialogue run exits 0" 0
has "f: 1 hour chosen" "$T/out" '  ✔ 已选择：1 小时（约 0 天）'
has "f: 1 day chosen" "$T/out" '  ✔ 已选择：24 小时（约 1 天）'
if tr -d '\r' <"$T/out" | grep -qxE '  ✔ 已拉黑：Smart Camera Alpha（剩余 (59分钟|1小时0分)）'; then ok "f: blacklisted for an hour"; else bad "f: blacklisted for an hour" "$(grep 已拉黑 "$T/out")"; fi
if tr -d '\r' <"$T/out" | grep -qxE '  ✔ 已拉黑：SmartCam Beta（剩余 (23小时59分|1天0小时)）'; then ok "f: blacklisted for a day"; else bad "f: blacklisted for a day" "$(grep 已拉黑 "$T/out")"; fi
has "f: task installed from the offer" "$T/out" '  ✔ 后台任务已安装（设备一出现就检查，另每5分钟检查一次，重启有效）'
has "f: second offer declined" "$T/out" '  好的，随时可在菜单 b 里安装。'
create_line 'C:\qf\quillfen.exe' >"$T/expect"
same "f: schtasks got the creation command once" "$T/expect" "$SI/schtasks.log"
pnputil_line 'USB\VID_0C45&PID_64AB\ROAD&01' 'USB\VID_0C45&PID_64AC\ROAD&02' >"$T/expect"
same "f: pnputil got both ids" "$T/expect" "$SI/pnputil.log"

BL=$QF/blacklist.tsv
bl_ok=1
[ "$(head -1 "$BL")" = $'# Quillfen 拉黑名单  (until\\tbyname\\tname\\tinst\\tcls)\r' ] || bl_ok=0
[ "$(grep -c '' "$BL")" = 3 ] || bl_ok=0
[ "$(grep -c $'\r$' "$BL")" = 3 ] || bl_ok=0
IFS=$'\t' read -r u1 b1 n1 i1 c1 < <(sed -n 2p "$BL" | tr -d '\r')
IFS=$'\t' read -r u2 b2 n2 i2 c2 < <(sed -n 3p "$BL" | tr -d '\r')
[ "$b1 $n1 $i1 $c1" = '1 smart camera alpha USB\VID_0C45&PID_64AB\ROAD&01 Camera' ] || bl_ok=0
[ "$b2 $n2 $i2 $c2" = '1 smartcam beta USB\VID_0C45&PID_64AC\ROAD&02 Camera' ] || bl_ok=0
[ "${u1:-0}" -ge $((F0 + 3600)) ] && [ "${u1:-0}" -le $((F1 + 3600)) ] || bl_ok=0
[ "${u2:-0}" -ge $((F0 + 86400)) ] && [ "${u2:-0}" -le $((F1 + 86400)) ] || bl_ok=0
if [ $bl_ok = 1 ]; then ok "f: blacklist.tsv: header, two entries, expiry, lower-cased names, CR LF"; else bad "f: blacklist.tsv" "$(cat -A "$BL")" "window $F0..$F1"; fi
for m in '已删除 | Smart Camera Alpha | USB\VID_0C45&PID_64AB\ROAD&01' '拉黑 | Smart Camera Alpha | 3600秒' \
         '已删除 | SmartCam Beta | USB\VID_0C45&PID_64AC\ROAD&02' '拉黑 | SmartCam Beta | 86400秒'; do
    if tr -d '\r' <"$LOG" | grep -qF "] $m"; then ok "f: log: $m"; else bad "f: log: $m" "$(cat "$LOG")"; fi
done

qf "$NOIN" --blist
rc_is "f: --blist exits 0" 0
sed -E 's/剩余 (59分钟|1小时0分)$/剩余 <1h>/; s/剩余 (23小时59分|1天0小时)$/剩余 <1d>/' "$T/out" >"$T/blist"
{
    local_fmt() { local LC_ALL=C; printf '  %2d. %-30s %-14s %s\n     %s\n' "$@"; }
    printf '拉黑名单共 2 条：\n'
    local_fmt 1 'smart camera alpha' Camera '剩余 <1h>' 'USB\VID_0C45&PID_64AB\ROAD&01'
    local_fmt 2 'smartcam beta' Camera '剩余 <1d>' 'USB\VID_0C45&PID_64AC\ROAD&02'
} >"$T/expect"
same "f: --blist lists both entries" "$T/expect" "$T/blist"

# The devices come back, with a third one that matches entry 1 by name but
# whose id would break out of pnputil's quotes.
devices "${DEV_F[@]}" 'USB\VID_0C45&PID_64AD\"&EVIL&"|Smart Camera Alpha 2|x|Camera'
# Kept for reading after the run.
cp "$BL" "$T/f-blacklist.tsv"
cp "$LOG" "$T/f-dialogue-log.txt"
cp "$SI/schtasks.log" "$T/f-schtasks.log"
: >"$SI/pnputil.log"
: >"$LOG"
qf "$NOIN" --enforce
rc_is "f: --enforce exits 0" 0
if [ ! -s "$T/out" ]; then ok "f: --enforce prints nothing"; else bad "f: --enforce prints nothing" "$(cat "$T/out")"; fi
sed -E 's/^\[[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\] //' "$LOG" >"$T/log"
printf '%s\r\n' \
    '后台命中拉黑 | smart camera alpha | usb\vid_0c45&pid_64ab\road&01' \
    '后台已删除 | smart camera alpha' \
    '后台命中拉黑 | smart camera alpha 2 | usb\vid_0c45&pid_64ad\"&evil&"' \
    '后台删除失败 | smart camera alpha 2' \
    '后台命中拉黑 | smartcam beta | usb\vid_0c45&pid_64ac\road&02' \
    '后台已删除 | smartcam beta' >"$T/expect"
same "f: enforcement log lines" "$T/expect" "$T/log"
cp "$LOG" "$T/f-enforce-log.txt"
pnputil_line 'USB\VID_0C45&PID_64AB\ROAD&01' 'USB\VID_0C45&PID_64AC\ROAD&02' >"$T/expect"
same "f: enforcement ran pnputil for the two safe ids only" "$T/expect" "$SI/pnputil.log"
qf "$NOIN" -s
has "f: the refused device is still there, marked as reached by name" "$T/out" "$(row 1 在场 — 名 'Smart Camera Alpha 2' Camera 'USB\VID_0C45&PID_64AD\"&EVIL&"')"
hasnt "f: the enforced devices are gone" "$T/out" 'ROAD&0'

# ---- b: a real console -------------------------------------------------------

# ---- h: what the unattended pass removes ----------------------------------------------

echo "== h: the pass"
bl_entry() { # byname name inst: one live entry
    printf '# Quillfen 拉黑名单  (until\\tbyname\\tname\\tinst\\tcls)\r\n%s\t%s\t%s\t%s\tCamera\r\n' \
        "$(($(date +%s) + 3600))" "$1" "$2" "$3" >"$QF/blacklist.tsv"
}
# A built-in ROOT device sharing the entry's name stays; the USB one goes.
reset_state 0 0
devices 'ROOT\QFCAM\0000|Smart Cam|x|Image' 'USB\VID_0C45&PID_64AD\SC01|Smart Cam|x|Camera'
bl_entry 1 'smart cam' 'USB\VID_0000\NONE'
qf "$NOIN" --enforce
pnputil_line 'USB\VID_0C45&PID_64AD\SC01' >"$T/expect"
same "h: by name, only the device that is not built-in is removed" "$T/expect" "$SI/pnputil.log"
qf "$NOIN" -s
has "h: the built-in device is still there, never marked 名" "$T/out" "$(row 1 在场 锁 — 'Smart Cam' Image 'ROOT\QFCAM\0000')"

# 2,100 records, the blacklisted device enumerated after all of them.
reset_state 0 0
{
    printf 'Windows Registry Editor Version 5.00\r\n\r\n'
    for i in $(seq 1 2099); do
        printf '[%s\\USB\\VID_BE%02X&PID_%04X\\%d]\r\n"FriendlyName"="Filler %d"\r\n"DeviceDesc"="x"\r\n' \
            "$ENUM" $((i % 100)) "$i" "$i" "$i"
        printf '"Class"="Camera"\r\n"ClassGUID"="%s"\r\n\r\n' "$CAMERA_GUID"
    done
} | { printf '\xff\xfe'; iconv -f UTF-8 -t UTF-16LE; } >"$SI/filler.reg"
"$WINE" regedit /s 'C:\standin\filler.reg' </dev/null >"$T/regedit.out" 2>&1
devices 'USB\VID_FFFF&PID_FFFF\LAST|Smart Camera Last|x|Camera'
# The fillers really are devices: they fill a table of 2,000 on their own.
qf "$NOIN" -s -k filler
n=$(grep -c ' Filler [0-9]' "$T/out")
if [ "$n" = 2000 ]; then ok "h: the fillers alone fill a table of 2,000"; else bad "h: the fillers alone fill a table of 2,000" "$n"; fi
bl_entry 0 'smart camera last' 'USB\VID_FFFF&PID_FFFF\LAST'
qf "$NOIN" --enforce
pnputil_line 'USB\VID_FFFF&PID_FFFF\LAST' >"$T/expect"
same "h: a blacklisted device after 2,100 records is removed" "$T/expect" "$SI/pnputil.log"
{
    printf 'Windows Registry Editor Version 5.00\r\n\r\n'
    for i in $(seq 1 2099); do printf '[-%s\\USB\\VID_BE%02X&PID_%04X]\r\n' "$ENUM" $((i % 100)) "$i"; done
} | { printf '\xff\xfe'; iconv -f UTF-8 -t UTF-16LE; } >"$SI/filler.reg"
"$WINE" regedit /s 'C:\standin\filler.reg' </dev/null >"$T/regedit.out" 2>&1

# ---- g: the data files under concurrency, odd names and odd places ----------------

echo "== g: data files"
reset_state 0 0
devices "${DEV_A[@]}"
# 8 processes scanning 300 times each into one log, all at once.
{ for i in $(seq 1 299); do printf 'r\n'; done; printf 'q\n'; } >"$T/scans.in"
for i in 1 2 3 4 5 6 7 8; do
    (cd "$QF" && timeout 300 "$WINE" 'C:\qf\quillfen.exe' <"$T/scans.in" >"$T/scans.$i.out" 2>&1) &
done
wait
lines=$(grep -c '' "$QF/device_cleanup_log.txt")
whole=$(grep -cE $'^\\[[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\\] 扫描完成，命中 4 个设备\r$' "$QF/device_cleanup_log.txt")
if [ "$lines" = 2400 ] && [ "$whole" = 2400 ]; then ok "g: 8 x 300 concurrent scans leave 2400 whole log lines"; else bad "g: 8 x 300 concurrent scans leave 2400 whole log lines" "$lines lines, $whole whole"; fi
echo "   concurrent log: $lines lines, $whole whole (of 2400)"

# A device name with a line break cannot add a line of its own to the log.
reset_state 0 0
devices 'USB\VID_0C45&PID_64AB\CRLF|Smart Cam\r\n[2020-01-01 00:00:00] 清空拉黑名单|x|Camera'
input '1\ny\n\n'
qf "$T/in"
has "g: the name shows with blanks for its line break" "$T/out" '  ✔ 已删除：Smart Cam  [2020-01-01 00:00:00] 清空拉黑名单'
if [ "$(grep -c '' "$LOG")" = 3 ] && ! grep -q '^\[2020-01-01 00:00:00\]' "$LOG"; then ok "g: a device name with CR LF writes no extra log line"; else bad "g: a device name with CR LF writes no extra log line" "$(cat -A "$LOG")"; fi

# A blacklist that cannot be written: the failure, not a success.
reset_state 0 0
devices "${DEV_F[@]}"
mkdir "$QF/blacklist.tsv"
input '1\ny\ny\n1\nn\n\n'
qf "$T/in"
has "g: save error line" "$T/out" '  [错误] 拉黑名单写入失败（权限？）'
has "g: blacklisting reported as failed" "$T/out" '  ✘ 拉黑失败：Smart Camera Alpha（拉黑名单写入失败）'
hasnt "g: no success line" "$T/out" '已拉黑：'
if grep -q '] 拉黑失败 | Smart Camera Alpha' "$LOG" && ! grep -q '] 拉黑 |' "$LOG"; then ok "g: log says 拉黑失败"; else bad "g: log says 拉黑失败" "$(cat "$LOG")"; fi
rmdir "$QF/blacklist.tsv"

# Two folders of 50 Chinese characters and a long one under them: a path of
# well over 260 units, which the data files follow.
reset_state 0 0
devices "${DEV_F[@]}"
CN1=$(printf '甲%.0s' $(seq 1 50)); CN2=$(printf '乙%.0s' $(seq 1 50)); LONGDIR=$(printf 'L%.0s' $(seq 1 160))
DEEP="$DRIVE_C/$CN1/$CN2/$LONGDIR"
mkdir -p "$DEEP"
cp "$EXE" "$DEEP/quillfen.exe"
input '1\ny\ny\n1\nn\n\n'
(cd "$QF" && timeout 120 "$WINE" "C:\\$CN1\\$CN2\\$LONGDIR\\quillfen.exe" <"$T/in" >"$T/out" 2>"$T/err")
if [ -s "$DEEP/device_cleanup_log.txt" ] && grep -qF $'\tUSB\\VID_0C45&PID_64AB\\ROAD&01\t' "$DEEP/blacklist.tsv" &&
    [ ! -e "$QF/blacklist.tsv" ] && [ ! -e "$DRIVE_C/blacklist.tsv" ]; then
    ok "g: log and blacklist stay beside an executable with a 278-unit path"
else
    bad "g: log and blacklist stay beside an executable with a 278-unit path" "$(ls -a "$DEEP")" "$(tail -5 "$T/out")"
fi
rm -rf "${DRIVE_C:?}/$CN1"

echo "== b: console"
if ! command -v tmux >/dev/null 2>&1; then
    skip "b: console checks (no tmux)"
else
    reset_state
    devices "${DEV_A[@]}"
    TMUX_SOCK=qfwine$$
    tm() { tmux -L "$TMUX_SOCK" "$@"; }
    grab() { tm capture-pane -p -J -S - -t qf >"$T/screen" 2>/dev/null; }
    # wait_for TEXT COUNT: until COUNT lines of the screen hold TEXT (20 s).
    # The pane drops trailing blanks: the menu prompt shows as a line "  >".
    wait_for() {
        local i
        for i in $(seq 1 80); do
            grab
            [ "$(grep -cF -- "$1" "$T/screen")" -ge "$2" ] && return 0
            sleep 0.25
        done
        return 1
    }
    # menu prompts shown so far, with or without an answer typed after them
    wait_for_prompt() {
        local i
        for i in $(seq 1 80); do
            grab
            [ "$(grep -cE '^  >( |$)' "$T/screen")" -ge "$1" ] && return 0
            sleep 0.25
        done
        return 1
    }
    tm -f /dev/null new-session -d -s qf -x 200 -y 50 \
        "cd '$QF' && '$WINE' 'C:\\qf\\quillfen.exe' --install-task; '$WINE' 'C:\\qf\\quillfen.exe'; echo \"EXITED rc=\$?\"; sleep 300"
    tm set-option -t qf history-limit 5000 >/dev/null
    if wait_for_prompt 1; then ok "b: menu prompt reached in the console"; else bad "b: menu prompt reached in the console" "$(cat "$T/screen")"; fi
    has "b: standard error readable on the console" "$T/screen" '✘ 未安装：C:\qf\quillfen.exe 可被普通用户修改，以 SYSTEM 运行会被用来提权。'
    has "b: banner title readable" "$T/screen" '     Quillfen  v2   ·   扫描 / 手动删除 / 拉黑'
    has "b: keyword line readable" "$T/screen" "$(printf '%s' "$DEF_KEYS_LINE" | sed 's/ *$//')"
    if grep -F '智能摄像头' "$T/screen" | grep -qF 'USB\VID_1234&PID_5678\0001'; then ok "b: Chinese device name in the table"; else bad "b: Chinese device name in the table" "$(cat "$T/screen")"; fi
    if grep -qE 'Ã|â|ï¿½|�' "$T/screen"; then bad "b: no mojibake" "$(cat "$T/screen")"; else ok "b: no mojibake"; fi

    tm send-keys -t qf k Enter
    wait_for '（直接回车恢复默认）>' 1 || true
    tm send-keys -t qf -l '摄像头'
    tm send-keys -t qf Enter
    if wait_for '正在扫描设备...' 2; then ok "b: rescan after the keyword"; else bad "b: rescan after the keyword" "$(cat "$T/screen")"; fi
    wait_for_prompt 2 || true
    sed -n '/恢复默认/,$p' "$T/screen" >"$T/after"
    if grep -F '智能摄像头' "$T/after" | grep -qF 'USB\VID_1234&PID_5678\0001' && grep -qF '智慧摄像头' "$T/after" &&
        ! grep -qF 'SmartCam Loopback' "$T/after"; then
        ok "b: Chinese keyword typed in the console matches"
    else
        bad "b: Chinese keyword typed in the console matches" "$(cat "$T/after")"
    fi

    # A 301-byte line: the menu takes 255 bytes ("r..." = rescan), the next
    # menu prompt gets the rest (no digits: nothing selected).
    tm send-keys -t qf -l "r$(printf 'x%.0s' $(seq 1 300))"
    tm send-keys -t qf Enter
    if wait_for '没有选中任何设备。' 1 && wait_for '正在扫描设备...' 4; then
        ok "b: long console line served in pieces"
    else
        bad "b: long console line served in pieces" "$(tail -30 "$T/screen")"
    fi
    wait_for_prompt 4 || true
    tm send-keys -t qf q Enter
    if wait_for 'EXITED rc=0' 1; then ok "b: q ends with 0"; else bad "b: q ends with 0" "$(tail -20 "$T/screen")"; fi
    has "b: closing line readable" "$T/screen" '  Vorin告辞，嗷呜——！'
    tm kill-server 2>/dev/null
fi

"$WINESERVER" -k 2>/dev/null
echo "== Wine checks took $(($(date +%s) - T0_RUN)) s"
echo "$PASS passed, $FAIL failed, $SKIP skipped"
[ "$FAIL" = 0 ]
