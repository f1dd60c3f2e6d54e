#!/usr/bin/env bash
# Wine benchmarks of the real quillfen.exe, pinned to one CPU (taskset -c 1),
# each pair of commands run interleaved; prints the medians and their ratio.
#
#   tests/bench/wine.sh idle [RUNS]      --enforce with no blacklist and no
#                                        policy key against a program that
#                                        does nothing (goal: 1.05x)
#   tests/bench/wine.sh removal [RUNS]   one interactive removal against a bare
#                                        scan, 2,000 device records (goal: 2.3x)
#   tests/bench/wine.sh pass [RUNS]      on 2,000 device records, against the
#                                        floor (a program that enumerates them
#                                        and reads name, class and id):
#                                        --enforce with 64 by-id entries in
#                                        force, none present (goal: 0.10x), and
#                                        the same with one of them by name
#                                        (goal: 1.02x)
#   tests/bench/wine.sh models|policy [RUNS]  that by-name pass with 64 model
#                                        rules, or every policy list full (5 x
#                                        128 values), against the floor (1.02x)
#
# Uses the prefix and the build of tests/wine/run.sh (build-win); run that
# first. Not part of the test command: timings are no test.
set -eu
export LANG=C.UTF-8
unset LC_ALL DISPLAY WAYLAND_DISPLAY
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=${QF_WIN_BUILD:-$ROOT/build-win}
export WINEPREFIX=$BUILD/wineprefix WINEDEBUG=-all WINEARCH=win64 WINEDLLOVERRIDES="schtasks.exe=n"
WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver64
[ -x "$WINESERVER" ] || WINESERVER=/usr/lib/wine/wineserver
[ -f "$WINEPREFIX/system.reg" ] || { echo "no Wine prefix: run tests/wine/run.sh first" >&2; exit 1; }
DRIVE_C=$WINEPREFIX/drive_c
B=$DRIVE_C/bench
mkdir -p "$B"
# QF_BENCH_EXE measures another build (an older one, say) in the same prefix.
cp "${QF_BENCH_EXE:-$BUILD/quillfen.exe}" "$B/quillfen.exe"
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"; "$WINESERVER" -k 2>/dev/null || true' EXIT
"$WINESERVER" -p 600  # one server for all runs, as on a running system

# time_ms INPUT EXE ARGS...: wall time of one pinned run, in milliseconds
# (three decimals: an idle run takes a few dozen).
time_ms() {
    local in=$1 t
    shift
    t=$(date +%s%N)
    (cd "$B" && taskset -c 1 "$WINE" "$@" <"$in" >/dev/null 2>&1) || true
    awk -v ns=$(($(date +%s%N) - t)) 'BEGIN { printf "%.3f\n", ns / 1e6 }'
}

median() { sort -n | awk '{ a[NR] = $1 } END { print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2 }'; }

# pair RUNS NAME_A INPUT_A ARGS_A... -- NAME_B INPUT_B ARGS_B...
pair() {
    local runs=$1 name_a=$2 in_a=$3
    shift 3
    local a=() b=()
    while [ "$1" != "--" ]; do a+=("$1"); shift; done
    shift
    local name_b=$1 in_b=$2
    shift 2
    b=("$@")
    : >"$WORK/a"
    : >"$WORK/b"
    time_ms "$in_a" "${a[@]}" >/dev/null  # warm the caches once
    time_ms "$in_b" "${b[@]}" >/dev/null
    for _ in $(seq 1 "$runs"); do
        time_ms "$in_a" "${a[@]}" >>"$WORK/a"
        time_ms "$in_b" "${b[@]}" >>"$WORK/b"
    done
    local ma mb
    ma=$(median <"$WORK/a")
    mb=$(median <"$WORK/b")
    printf '%-44s median %9s ms\n%-44s median %9s ms\nratio %s\n' "$name_a" "$ma" "$name_b" "$mb" \
        "$(awk -v a="$ma" -v b="$mb" 'BEGIN { printf "%.3f", a / b }')"
    # Each pair ran back to back: the median of their ratios does not follow
    # the machine's slow drifts, which move both medians apart.
    printf 'median of the pairs'"'"' ratios %s\n' "$(paste "$WORK/a" "$WORK/b" | awk '{ printf "%.4f\n", $1 / $2 }' | median)"
}

# plant_records N: N device records, none of them blacklisted (one regedit).
plant_records() {
    {
        printf 'Windows Registry Editor Version 5.00\r\n\r\n'
        for i in $(seq 1 "$1"); do
            printf '[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Enum\\USB\\VID_BE%02X&PID_%04X\\%d]\r\n' $((i % 200)) "$i" "$i"
            printf '"FriendlyName"="Bench Device %d"\r\n"DeviceDesc"="x"\r\n"Class"="Camera"\r\n' "$i"
            printf '"ClassGUID"="{ca3e7ab9-b4c3-4ae6-8251-579ef933890f}"\r\n\r\n'
        done
    } | { printf '\xff\xfe'; iconv -f UTF-8 -t UTF-16LE; } >"$DRIVE_C/bench-devices.reg"
    "$WINE" regedit /s 'C:\bench-devices.reg' </dev/null >/dev/null 2>&1
}

unplant_records() {
    { printf 'Windows Registry Editor Version 5.00\r\n\r\n'
      for i in $(seq 1 "$1"); do
          printf '[-HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Enum\\USB\\VID_BE%02X&PID_%04X]\r\n' $((i % 200)) "$i"
      done; } | { printf '\xff\xfe'; iconv -f UTF-8 -t UTF-16LE; } >"$DRIVE_C/bench-clean.reg"
    "$WINE" regedit /s 'C:\bench-clean.reg' </dev/null >/dev/null 2>&1
}

# blacklist BYNAME_FIRST: 64 entries in force whose ids no device has; the
# first matches by name too when BYNAME_FIRST is 1 (a name no device has),
# with a model.
blacklist() {
    local until=$(($(date +%s) + 86400))
    {
        printf '# Quillfen 拉黑名单  (until\\tbyname\\tname\\tinst\\tcls)\r\n'
        for i in $(seq 0 63); do
            printf '%d\t%d\tno such camera %d\tUSB\\VID_FFFF&PID_%04d\\9&DEADBEEF&0&%d\tCamera\r\n' \
                "$until" $((i == 0 ? $1 : 0)) "$i" "$i" "$i"
        done
    } >"$B/blacklist.tsv"
    # The by-name entry's model: one device has its bus, vendor and product,
    # so the pass reads its hardware ids.
    printf '# Quillfen 型号  (inst\\tmodel\\tok|shared|builtin|unknown)\r\nUSB\\VID_FFFF&PID_0000\\9&DEADBEEF&0&0\tUSB\\VID_BE05&PID_0005&MI_00\tok\r\n' \
        >"$B/blacklist-models.tsv"
}

# rules: 64 model rules, each with the bus, vendor and product of a device.
rules() {
    awk -v until=$(($(date +%s) + 86400)) 'BEGIN { printf "# Quillfen 规则  (until\\tkind\\tid\\tblock\\tname)\r\n"
        for (i = 0; i < 64; i++) printf "%d\tmodel\tUSB\\VID_BE%02X&PID_%04X&MI_00\tok\tno such model %d\r\n", until, (i + 64) % 200, i + 64, i }' \
        >"$B/blacklist-rules.tsv"
}

# policy: every list of the policy key full, in force, none of which reaches
# a device; each model with the bus, vendor and product of a device.
policy() {
    awk 'BEGIN { printf "Windows Registry Editor Version 5.00\r\n"
        split("BlockedInstanceIDs BlockedModels BlockedNames ApprovedInstanceIDs ApprovedModels", l, " ")
        for (k = 1; k <= 5; k++) {
            printf "\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Policies\\Quillfen\\%s]\r\n", l[k]
            for (i = 0; i < 128; i++) {
                if (l[k] ~ /Models/) { j = i + 1 + (k == 5) * 128; v = sprintf("USB\\\\VID_BE%02X&PID_%04X&MI_00", j % 200, j) }
                else if (l[k] ~ /Names/) v = "no such policy camera " i
                else v = sprintf("USB\\\\VID_FFFE&PID_%04d\\\\%d&BEEF&0&%d", k, i, i)
                printf "\"%s\"=\"2099-12-31\"\r\n", v
            } } }' | { printf '\xff\xfe'; iconv -f UTF-8 -t UTF-16LE; } >"$DRIVE_C/bench-policy.reg"
    "$WINE" regedit /s 'C:\bench-policy.reg' </dev/null >/dev/null 2>&1
}

# No policy key, and nothing kept of an earlier one.
unpolicy() {
    "$WINE" reg delete 'HKLM\SOFTWARE\Policies\Quillfen' /f </dev/null >/dev/null 2>&1 || true
    "$WINE" reg delete 'HKLM\SOFTWARE\Quillfen\PolicySeen' /f </dev/null >/dev/null 2>&1 || true
}

case "${1:-}" in
idle)
    unpolicy
    printf 'int main(void) { return 0; }\n' >"$WORK/noop.c"
    x86_64-w64-mingw32-gcc -O2 -static -o "$B/noop.exe" "$WORK/noop.c"
    rm -f "$B/blacklist.tsv"
    : >"$WORK/empty"
    pair "${2:-41}" "quillfen --enforce (no blacklist)" "$WORK/empty" 'C:\bench\quillfen.exe' --enforce \
        -- "a program that does nothing" "$WORK/empty" 'C:\bench\noop.exe'
    ;;
removal)
    # 2,000 device records; the one to remove is the only match of its keyword.
    plant_records 2000
    echo 0 >"$DRIVE_C/standin/pnputil.exit" 2>/dev/null || { mkdir -p "$DRIVE_C/standin"; echo 0 >"$DRIVE_C/standin/pnputil.exit"; }
    printf '1\ny\n\n\nq\n' >"$WORK/remove.in"
    : >"$WORK/empty"
    # Every run removes the device, so each one first puts its key back.
    reg_again() { "$WINE" regedit /s 'C:\bench-devices.reg' </dev/null >/dev/null 2>&1; }
    runs=${2:-21}
    rm -f "$DRIVE_C/standin/pnputil.log"
    : >"$WORK/a"
    : >"$WORK/b"
    for _ in $(seq 1 "$runs"); do
        reg_again
        time_ms "$WORK/remove.in" 'C:\bench\quillfen.exe' -k 'bench device 1234' >>"$WORK/a"
        time_ms "$WORK/empty" 'C:\bench\quillfen.exe' -s -k 'bench device 1234' >>"$WORK/b"
    done
    # A run that removed nothing measured nothing.
    removed=$(grep -c 'remove-device' "$DRIVE_C/standin/pnputil.log" 2>/dev/null || true)
    [ "$removed" = "$runs" ] || { echo "only ${removed:-0} of $runs runs removed the device" >&2; exit 1; }
    ma=$(median <"$WORK/a")
    mb=$(median <"$WORK/b")
    printf '%-36s median %6s ms\n%-36s median %6s ms\nratio %s\n' "scan, remove, rescan" "$ma" "bare scan" "$mb" \
        "$(awk -v a="$ma" -v b="$mb" 'BEGIN { printf "%.2f", a / b }')"
    unplant_records 2000
    ;;
pass | models | policy)
    runs=${2:-21}
    x86_64-w64-mingw32-gcc -O2 -static -o "$B/floor.exe" "$ROOT/tests/bench/floor.c" -lsetupapi
    plant_records 2000
    : >"$WORK/empty"
    if [ "$1" = pass ]; then
        blacklist 0
        pair "$runs" "--enforce, 64 by-id entries, none present" "$WORK/empty" 'C:\bench\quillfen.exe' --enforce \
            -- "the floor (enumerate, read name/class/id)" "$WORK/empty" 'C:\bench\floor.exe'
    fi
    blacklist 1
    case $1 in models) rules; what=", 64 model rules" ;; policy) policy; what=", 5 x 128 policy values" ;; esac
    pair "$runs" "--enforce, the same with one by name${what:-}" "$WORK/empty" 'C:\bench\quillfen.exe' --enforce \
        -- "the floor (enumerate, read name/class/id)" "$WORK/empty" 'C:\bench\floor.exe'
    rm -f "$B/blacklist.tsv" "$B/blacklist-rules.tsv" "$B/policy-snapshot.tsv"
    unpolicy
    unplant_records 2000
    ;;
*)
    sed -n '2,22p' "$0"
    exit 2
    ;;
esac
