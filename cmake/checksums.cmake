# Writes OUT, the SHA-256 of each of FILES (all in OUT's folder) in the form
# sha256sum -c reads; renamed into place, so a half-written list never stays.
#   cmake -DOUT=<file> "-DFILES=<file>|<file>..." -P checksums.cmake
string(REPLACE "|" ";" files "${FILES}")
set(text "")
foreach(f IN LISTS files)
  file(SHA256 "${f}" sum)
  get_filename_component(name "${f}" NAME)
  string(APPEND text "${sum}  ${name}\n")
endforeach()
file(WRITE "${OUT}.part" "${text}")
file(RENAME "${OUT}.part" "${OUT}")
