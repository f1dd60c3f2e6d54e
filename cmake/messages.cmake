# The event log's message table: src/log/events.mc compiled into a
# MESSAGETABLE resource of the executable, which the source's EventMessageFile
# names. Event Viewer reads the texts from there.
#
# qf_message_table(TARGET MC_FILE) adds the generated resource script to
# TARGET's sources. The .mc file is UTF-8 without a byte-order mark.

function(qf_message_table target mc)
  get_filename_component(base "${mc}" NAME_WE)
  set(out "${CMAKE_CURRENT_BINARY_DIR}/messages")
  set(rc "${out}/${base}.rc")
  file(MAKE_DIRECTORY "${out}")
  if(MSVC)
    # mc.exe reads ANSI or UTF-16 unless the file starts with a byte-order
    # mark, which then decides ("Message Compiler (MC.exe)", -a and -u), and
    # it wants the input in the current directory: a copy with a UTF-8 mark
    # is made beside its output. -U: Unicode messages in the .bin files.
    # The SDK ships mc.exe in the folder of rc.exe.
    get_filename_component(rc_dir "${CMAKE_RC_COMPILER}" DIRECTORY)
    find_program(QF_MC NAMES mc HINTS "${rc_dir}")
    if(NOT QF_MC)
      message(FATAL_ERROR "mc.exe (Windows SDK) not found; set QF_MC")
    endif()
    add_custom_command(OUTPUT "${rc}"
      COMMAND ${CMAKE_COMMAND} -DIN=${mc} -DOUT=${out}/${base}.mc -P ${PROJECT_SOURCE_DIR}/cmake/bom.cmake
      COMMAND "${QF_MC}" -U -h "${out}" -r "${out}" "${base}.mc"
      WORKING_DIRECTORY "${out}"
      DEPENDS "${mc}" "${PROJECT_SOURCE_DIR}/cmake/bom.cmake"
      COMMENT "Compiling the message table with mc")
  else()
    # MinGW: windmc beside windres. -C 65001: the input is UTF-8;
    # -U: Unicode messages in the .bin files.
    string(REGEX REPLACE "windres([^/\\\\]*)$" "windmc\\1" windmc_guess "${CMAKE_RC_COMPILER}")
    find_program(QF_WINDMC NAMES "${windmc_guess}" windmc)
    if(NOT QF_WINDMC)
      message(FATAL_ERROR "windmc (binutils for MinGW-w64) not found; set QF_WINDMC")
    endif()
    add_custom_command(OUTPUT "${rc}"
      COMMAND "${QF_WINDMC}" -C 65001 -U -h "${out}" -r "${out}" "${mc}"
      DEPENDS "${mc}"
      COMMENT "Compiling the message table with windmc")
  endif()
  # The generated script names its .bin files without a folder.
  target_include_directories(${target} PRIVATE "${out}")
  target_sources(${target} PRIVATE "${rc}")
endfunction()
