# What the build ships: quillfen.exe and the MSI, with an Authenticode
# signature when a certificate is given, and SHA256SUMS beside them.
#
#   -DQUILLFEN_SIGN_PFX=<PKCS#12 file> -DQUILLFEN_SIGN_PASS_FILE=<file with its password>
#   [-DQUILLFEN_SIGN_TIMESTAMP=<RFC 3161 server URL>] [-DQUILLFEN_SIGN_URL=<product page>]
#
# osslsigncode (Debian: osslsigncode) reads the password from its file itself:
# a -D value would stay in CMakeCache.txt, and an argument shows in ps. The
# linker writes the exe into unsigned/, and the exe beside the packages is
# always made from that one, signed or copied: a rebuild never signs a signed
# file, and dropping the certificate gives an unsigned exe again.

set(QUILLFEN_SIGN_PFX "" CACHE FILEPATH "PKCS#12 file to sign quillfen.exe and the MSI with")
set(QUILLFEN_SIGN_PASS_FILE "" CACHE FILEPATH "File holding the password of QUILLFEN_SIGN_PFX")
set(QUILLFEN_SIGN_TIMESTAMP "" CACHE STRING "RFC 3161 timestamp server (optional)")
set(QUILLFEN_SIGN_URL "" CACHE STRING "Product page named in the signature (optional)")

set(QF_UNSIGNED_DIR "${CMAKE_BINARY_DIR}/unsigned")
set(QF_SHIPPED_EXE "${CMAKE_BINARY_DIR}/quillfen.exe")
set(QF_SIGN_SCRIPT "${CMAKE_CURRENT_LIST_DIR}/signfile.cmake")
set(QF_SUMS_SCRIPT "${CMAKE_CURRENT_LIST_DIR}/checksums.cmake")
set(QF_SIGN_SETTINGS "${CMAKE_BINARY_DIR}/sign-settings.cmake")
set_target_properties(quillfen PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${QF_UNSIGNED_DIR}")

set(QF_SIGN_DEPENDS "${QF_SIGN_SETTINGS}" "${QF_SIGN_SCRIPT}")
set(qf_sign_tool "")
if(QUILLFEN_SIGN_PFX)
  find_program(QF_OSSLSIGNCODE osslsigncode)
  if(NOT QF_OSSLSIGNCODE)
    message(FATAL_ERROR "QUILLFEN_SIGN_PFX is set, but osslsigncode is not found (Debian: osslsigncode)")
  endif()
  set(qf_sign_tool "${QF_OSSLSIGNCODE}")
  if(NOT QUILLFEN_SIGN_PASS_FILE)
    message(FATAL_ERROR "QUILLFEN_SIGN_PFX needs QUILLFEN_SIGN_PASS_FILE, the file holding its password")
  endif()
  foreach(v QUILLFEN_SIGN_PFX QUILLFEN_SIGN_PASS_FILE)
    # The signing runs in the build folder, not where cmake was started.
    if(NOT IS_ABSOLUTE "${${v}}")
      message(FATAL_ERROR "${v} must be an absolute path, not ${${v}}")
    endif()
  endforeach()
  if(NOT EXISTS "${QUILLFEN_SIGN_PFX}")
    message(FATAL_ERROR "QUILLFEN_SIGN_PFX: no such file: ${QUILLFEN_SIGN_PFX}")
  endif()
  # A renewed certificate in the same file signs again.
  list(APPEND QF_SIGN_DEPENDS "${QUILLFEN_SIGN_PFX}")
  message(STATUS "Signing quillfen.exe and the MSI with ${QUILLFEN_SIGN_PFX}")
else()
  message(STATUS "Unsigned build: quillfen.exe and the MSI carry no signature (QUILLFEN_SIGN_PFX not set)")
endif()

# What signfile.cmake signs with, rewritten only when it changes, so that only
# a change of certificate or server signs again.
set(qf_settings "set(OSSLSIGNCODE [==[${qf_sign_tool}]==])
set(PFX [==[${QUILLFEN_SIGN_PFX}]==])
set(PASS_FILE [==[${QUILLFEN_SIGN_PASS_FILE}]==])
set(TIMESTAMP [==[${QUILLFEN_SIGN_TIMESTAMP}]==])
set(URL [==[${QUILLFEN_SIGN_URL}]==])
")
set(qf_old "")
if(EXISTS "${QF_SIGN_SETTINGS}")
  file(READ "${QF_SIGN_SETTINGS}" qf_old)
endif()
if(NOT qf_old STREQUAL qf_settings)
  file(WRITE "${QF_SIGN_SETTINGS}" "${qf_settings}")
endif()

# qf_sign(IN OUT VAR): VAR is set to the commands that make OUT from IN,
# signed or copied.
function(qf_sign in out var)
  set(${var} COMMAND "${CMAKE_COMMAND}" "-DSETTINGS=${QF_SIGN_SETTINGS}" "-DIN=${in}" "-DOUT=${out}"
             -P "${QF_SIGN_SCRIPT}" PARENT_SCOPE)
endfunction()

qf_sign($<TARGET_FILE:quillfen> "${QF_SHIPPED_EXE}" qf_sign_exe)
add_custom_command(OUTPUT "${QF_SHIPPED_EXE}" ${qf_sign_exe}
  DEPENDS quillfen ${QF_SIGN_DEPENDS}
  COMMENT "Making ${QF_SHIPPED_EXE}"
  VERBATIM)
add_custom_target(shipped-exe ALL DEPENDS "${QF_SHIPPED_EXE}")

# qf_checksums(FILES <file>... TARGETS <target>...): SHA256SUMS beside the
# FILEs (all in the build directory), which the TARGETs make.
function(qf_checksums)
  cmake_parse_arguments(arg "" "" "FILES;TARGETS" ${ARGN})
  set(sums "${CMAKE_BINARY_DIR}/SHA256SUMS")
  string(REPLACE ";" "|" files "${arg_FILES}")
  add_custom_command(OUTPUT "${sums}"
    COMMAND "${CMAKE_COMMAND}" "-DOUT=${sums}" "-DFILES=${files}" -P "${QF_SUMS_SCRIPT}"
    DEPENDS ${arg_FILES} "${QF_SUMS_SCRIPT}"
    COMMENT "Writing ${sums}"
    VERBATIM)
  add_custom_target(checksums ALL DEPENDS "${sums}")
  add_dependencies(checksums ${arg_TARGETS})
endfunction()
