# The Windows Installer package, made from resources/quillfen.wxs with wixl
# (Debian: wixl) and msibuild (Debian: msitools) where both are found, so
# that a build without them (MSVC on Windows) still works.
#
# qf_msi(TARGET OUTPUT VERSION INSTALL_TASK_ARGS [ALL] [SHIPPED]) packages the
# shipped exe of sign.cmake and the administrative template (QF_POLICY_FILES,
# target policy-definitions) as OUTPUT; a SHIPPED package is signed like that
# exe. Every version gets its own product code, derived from it, so that a
# detection rule can name it; the upgrade code never changes.

set(QF_UPGRADE_CODE "E7106C48-5E70-4890-A3C7-3EDEA7B6292B")
set(QF_MSI_CMAKE "${CMAKE_CURRENT_LIST_FILE}")

function(qf_msi target out version args)
  cmake_parse_arguments(opt "ALL;SHIPPED" "" "" ${ARGN})
  set(made "${out}")
  set(sign "")
  set(sign_deps "")
  if(opt_SHIPPED)
    get_filename_component(name "${out}" NAME)
    set(made "${QF_UNSIGNED_DIR}/${name}")
    qf_sign("${made}" "${out}" sign)
    set(sign_deps ${QF_SIGN_DEPENDS})
  endif()
  string(UUID code NAMESPACE ${QF_UPGRADE_CODE} NAME "quillfen-${version}-x64" TYPE SHA1 UPPER)
  set(wxs "${PROJECT_SOURCE_DIR}/resources/quillfen.wxs")
  add_custom_command(OUTPUT "${out}"
    COMMAND "${QF_WIXL}" -a x64 -D Version=${version} -D ProductCode=${code}
            -D UpgradeCode=${QF_UPGRADE_CODE} -D Exe=quillfen.exe
            -D "InstallTaskArgs=${args}" -o "${made}" "${wxs}"
    # What wixl 0.101 drops: the rollback action's type (an exe installed with
    # the product 18, exit code ignored 64, rollback 256, deferred 1024, no
    # impersonation 2048), the condition of the NOTASK memory, NOTASK among
    # the properties a managed installation passes on, and the short names
    # Windows Installer wants beside every name that is not 8.3.
    COMMAND "${QF_MSIBUILD}" "${made}" -q "UPDATE CustomAction SET Type=3410 WHERE Action='RollbackTask'"
    COMMAND "${QF_MSIBUILD}" "${made}" -q
            "UPDATE Component SET Condition='NOTASK=\"1\"' WHERE Component='NoTaskMemory'"
    COMMAND "${QF_MSIBUILD}" "${made}" -q
            "UPDATE Property SET Value='NOTASK;WIX_DOWNGRADE_DETECTED;WIX_UPGRADE_DETECTED' WHERE Property='SecureCustomProperties'"
    COMMAND "${QF_MSIBUILD}" "${made}" -q
            "UPDATE Directory SET DefaultDir='policy~1|PolicyDefinitions' WHERE Directory='POLICYDIR'"
    COMMAND "${QF_MSIBUILD}" "${made}" -q
            "UPDATE File SET FileName='quillf~1.adm|quillfen.admx' WHERE File='QuillfenAdmx'"
    COMMAND "${QF_MSIBUILD}" "${made}" -q
            "UPDATE File SET FileName='quillf~1.adm|quillfen.adml' WHERE File='QuillfenAdmlEnglish' OR File='QuillfenAdmlChinese'"
    ${sign}
    # wixl looks for the files in its working directory only.
    WORKING_DIRECTORY "${CMAKE_BINARY_DIR}"
    DEPENDS "${QF_SHIPPED_EXE}" ${QF_POLICY_FILES} "${wxs}" "${QF_MSI_CMAKE}" ${sign_deps}
    COMMENT "Building ${out}"
    VERBATIM)
  set(all "")
  if(opt_ALL)
    set(all ALL)
  endif()
  add_custom_target(${target} ${all} DEPENDS "${out}")
  add_dependencies(${target} shipped-exe policy-definitions)
  set(QF_PRODUCT_CODE ${code} PARENT_SCOPE)
endfunction()

set(QF_SHIPPED_MSI "")
find_program(QF_WIXL wixl)
find_program(QF_MSIBUILD msibuild)
if(QF_WIXL AND QF_MSIBUILD AND CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(QF_SHIPPED_MSI "${CMAKE_BINARY_DIR}/quillfen-${PROJECT_VERSION}-x64.msi")
  qf_msi(msi "${QF_SHIPPED_MSI}" ${PROJECT_VERSION} "--install-task" ALL SHIPPED)
  message(STATUS "MSI package quillfen-${PROJECT_VERSION}-x64.msi, product code {${QF_PRODUCT_CODE}}")
  # For the Wine checks only, never shipped: Wine counts every folder as
  # writable by ordinary users, so these create the task anyway; one has a
  # lower version, to upgrade from.
  qf_msi(msi-test-current "${CMAKE_BINARY_DIR}/msi-test/quillfen-${PROJECT_VERSION}-x64.msi"
         ${PROJECT_VERSION} "--install-task --allow-unsafe-dir")
  qf_msi(msi-test-older "${CMAKE_BINARY_DIR}/msi-test/quillfen-1.0.0-x64.msi"
         1.0.0 "--install-task --allow-unsafe-dir")
  add_custom_target(msi-test-packages DEPENDS msi-test-current msi-test-older)
  file(MAKE_DIRECTORY "${CMAKE_BINARY_DIR}/msi-test")
elseif(QF_WIXL OR QF_MSIBUILD)
  message(STATUS "No MSI package: it needs both wixl and msibuild (Debian: wixl, msitools)")
endif()
