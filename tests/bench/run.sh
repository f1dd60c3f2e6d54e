#!/bin/sh
# Builds the benchmarks (Release) into build-bench/, writes a machine of 2400
# present devices and 2000 records of absent ones, and a full blacklist that
# matches none of them (each entry with a model), and 64 model rules for
# the case that puts them in place, and runs them.
# Extra arguments go to the benchmark program (e.g. --benchmark_filter=Walk).
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
out="$root/build-bench"
cmake -S "$root/tests/bench" -B "$out" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$out" -j2 --target qf_bench >/dev/null

data="$out/data"
mkdir -p "$data"
now=1700000000
awk -v now="$now" -v exe="$data/quillfen.exe" 'BEGIN {
  OFS = "\t"
  print "clock", now
  print "exe", exe
  split("USB Composite Device|HID-compliant mouse|Intel(R) PCI Express Root Port #|Generic PnP Monitor|" \
        "Realtek High Definition Audio|USB 大容量存储设备|Bluetooth LE Generic Attribute Service|" \
        "WAN Miniport (IKEv2)|Microsoft Storage Spaces Controller|高精度事件计时器", names, "|")
  split("USB|HIDClass|System|Monitor|MEDIA|USB|Bluetooth|Net|SCSIAdapter|System", classes, "|")
  for (i = 0; i < 2400; i++) {
    k = i % 10 + 1
    name = names[k] " " i
    if (i % 50 == 7) name = "Smart Camera " i      # a few keyword hits for the scan
    if (i % 50 == 31) name = "智能摄像头 " i
    inst = sprintf("USB\\VID_%04X&PID_%04X\\%d&%08X&0&%d", i * 7 % 65536, i * 13 % 65536, i % 9, i * 2654435761 % 4294967296, i)
    print "dev", 1, name, "Device description " i, classes[k], inst
  }
  # 2,000 records of devices that are not attached, which the hourly walk
  # for records left on the PC goes through (none is reached).
  for (i = 0; i < 2000; i++)
    print "dev", 0, "Old device " i, "Device description", "USB", sprintf("USB\\VID_%04X&PID_0001\\%d", i, i)
}' > "$out/machine.txt"

# 64 live entries, by name and by id, none of which any device matches.
{
  printf '# Quillfen 拉黑名单  (until\\tbyname\\tname\\tinst\\tcls)\r\n'
  i=0
  while [ $i -lt 64 ]; do
    printf '%d\t1\tno such camera %d\tUSB\\VID_FFFF&PID_%04d\\9&DEADBEEF&0&%d\tCamera\r\n' $((now + 86400 + i)) $i $i $i
    i=$((i + 1))
  done
} > "$data/blacklist.tsv"

# Each with a model whose bus, vendor and product one device has, so
# that the pass reads that device's hardware ids (it holds none).
{
  printf '# Quillfen 型号  (inst\\tmodel\\tok|shared|builtin|unknown)\r\n'
  i=0
  while [ $i -lt 64 ]; do
    printf 'USB\\VID_FFFF&PID_%04d\\9&DEADBEEF&0&%d\tUSB\\VID_%04X&PID_%04X&MI_00\tok\r\n' $i $i $((i * 31 * 7 % 65536)) $((i * 31 * 13 % 65536))
    i=$((i + 1))
  done
} > "$data/blacklist-models.tsv"

# 64 model rules, put in place by the case that wants them, each with the
# bus, vendor and product of a device that no entry's model reaches.
awk -v until=$((now + 86400)) 'BEGIN { printf "# Quillfen 规则  (until\\tkind\\tid\\tblock\\tname)\r\n"
  for (i = 0; i < 64; i++) printf "%d\tmodel\tUSB\\VID_%04X&PID_%04X&MI_00\tok\tno such model %d\r\n", until, (i * 31 + 5) * 7, (i * 31 + 5) * 13, i }' \
  > "$data/rules-64.tsv"
rm -f "$data/blacklist-rules.tsv"

QUILLFEN_MACHINE="$out/machine.txt" "$out/qf_bench" "$@"
