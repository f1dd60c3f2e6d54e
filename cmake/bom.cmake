# Copies IN to OUT with a UTF-8 byte-order mark in front, for mc.exe, which
# takes the encoding of its input from the mark.
#   cmake -DIN=<file> -DOUT=<file> -P bom.cmake
file(READ "${IN}" text)
string(ASCII 239 187 191 bom)
file(WRITE "${OUT}" "${bom}${text}")
