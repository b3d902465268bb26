# The two downloads, built with everything else into build/packages/:
#   MorvanePiano-X.Y.Z-win32.zip   unpack anywhere and start the .exe there
#   MorvanePiano-X.Y.Z-setup.exe   per-machine installer (NSIS's makensis)
# Their names, the installer's texts and its version record all come from
# project() and PRODUCT_NAME in CMakeLists.txt, so a version bump is one edit.
# Both are rebuilt when the executable, a key sound or a document changes.
# Given a signing command, the build signs the executable, the uninstaller and
# the installer, and keeps each signature apart beside the downloads.

set(PACKAGE_VERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH})
set(PACKAGE_BASE ${PROJECT_NAME}-${PACKAGE_VERSION})
set(PACKAGE_DIR ${CMAKE_BINARY_DIR}/packages)
set(PACKAGE_ZIP ${PACKAGE_DIR}/${PACKAGE_BASE}-win32.zip)
set(PACKAGE_SETUP ${PACKAGE_DIR}/${PACKAGE_BASE}-setup.exe)
# What ships beside the executable, besides the keys folder: a guide for
# the player, in place of the repository's README for developers, in CRLF
# as a Windows text file is written; and the licences.
set(PACKAGE_DOCS README.txt LICENSE NOTICE)

# Signing. A release is signed by a command of the key holder's that signs,
# in place, the file named after it: tools/sign.sh with a PKCS#12 file or a
# PKCS#11 token, say, or signtool on Windows. The key, its password and any
# timestamp server stay with that command, outside the project. Each
# signature is kept apart too, as NAME.p7s beside the downloads, so that
# anyone can rebuild the release unsigned, attach them (ATTACH_SIGNATURES)
# and get the signed files byte for byte.
set(SIGN_COMMAND "$ENV{SIGN_COMMAND}" CACHE STRING
    "Command that signs, in place, the file named after it; empty for unsigned downloads")
set(ATTACH_SIGNATURES "" CACHE PATH
    "Folder of a signed release's detached signatures, attached in place of signing")
find_program(OSSLSIGNCODE osslsigncode)
find_program(OPENSSL openssl)
set(signed OFF)
if(SIGN_COMMAND OR ATTACH_SIGNATURES)
    set(signed ON)
    # Every signature is checked where it is made, and kept apart.
    if(NOT OSSLSIGNCODE OR NOT OPENSSL)
        message(FATAL_ERROR "signing needs osslsigncode and openssl, which check each "
                            "signature and keep it apart; install them (tools/setup.sh does)")
    endif()
    separate_arguments(sign_command NATIVE_COMMAND "${SIGN_COMMAND}")
    set(sign_settings ${CMAKE_BINARY_DIR}/generated/signing.cmake)
    set(sign_script ${CMAKE_CURRENT_LIST_DIR}/sign.cmake)
    file(CONFIGURE OUTPUT ${sign_settings} CONTENT [==[
set(SIGN_COMMAND [[@sign_command@]])
set(ATTACH_SIGNATURES [[@ATTACH_SIGNATURES@]])
set(SIGNATURE_DIR [[@PACKAGE_DIR@]])
set(OSSLSIGNCODE [[@OSSLSIGNCODE@]])
set(OPENSSL [[@OPENSSL@]])
set(SOURCE_DATE_EPOCH @SOURCE_DATE_EPOCH@)
set(PRODUCT_NAME [[@PRODUCT_NAME@]])
set(MAKER_NAME [[@MAKER_NAME@]])
set(HOME_PAGE [[@HOME_PAGE@]])
]==] @ONLY)
endif()
# Only a build that signs keeps signatures beside its downloads.
if(NOT SIGN_COMMAND)
    file(GLOB stale_signatures ${PACKAGE_DIR}/*.p7s)
    if(stale_signatures)
        file(REMOVE ${stale_signatures})
    endif()
endif()

# The guide says whether the program and its installer are signed.
set(package_guide ${CMAKE_BINARY_DIR}/generated/README.txt)
if(signed)
    file(READ ${CMAKE_CURRENT_LIST_DIR}/signed.txt.in SIGNING_NOTE)
else()
    file(READ ${CMAKE_CURRENT_LIST_DIR}/unsigned.txt.in SIGNING_NOTE)
endif()
string(CONFIGURE "${SIGNING_NOTE}" SIGNING_NOTE @ONLY)
string(STRIP "${SIGNING_NOTE}" SIGNING_NOTE)
# configure_file ends the template's own lines in CRLF, not those of a value.
string(REPLACE "\n" "\r\n" SIGNING_NOTE "${SIGNING_NOTE}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/README.txt.in ${package_guide} @ONLY NEWLINE_STYLE CRLF)
set(package_docs_full ${package_guide} ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/NOTICE)
list(TRANSFORM KEY_SOUNDS REPLACE "^.*/" "" OUTPUT_VARIABLE package_key_names)
list(SORT package_key_names)

# Both downloads are made from one staged folder whose files carry fixed
# permissions and the build's one date (SOURCE_DATE_EPOCH), so that their
# bytes depend on the sources alone: not on the umask, the clock, the time
# zone, the user or the folder of the build. That needs the POSIX tools
# touch and chmod and Info-ZIP's zip, which CMake's own archiver cannot
# replace: its zip entries carry access times and user ids.
find_program(ZIP zip)
find_program(TOUCH touch)
find_program(CHMOD chmod)
if(NOT ZIP OR NOT TOUCH OR NOT CHMOD)
    message(WARNING "zip, touch or chmod not found: no packages are made")
    return()
endif()

set(zip_top ${PACKAGE_BASE}-win32)
set(stage_root ${CMAKE_BINARY_DIR}/package-root)
set(stage_top ${stage_root}/${zip_top})
set(stage_stamp ${stage_root}/staged.stamp)
file(MAKE_DIRECTORY ${stage_root})
# Named one by one so that the zip's order is fixed (a directory walk would
# follow the file system's order).
list(TRANSFORM package_key_names PREPEND keys/ OUTPUT_VARIABLE zip_members)
list(PREPEND zip_members $<TARGET_FILE_NAME:MorvanePiano> ${PACKAGE_DOCS})
list(TRANSFORM zip_members PREPEND ${zip_top}/)
# The uninstaller goes into the installer alone, so it is staged beside the
# zip's folder.
set(exe_name $<TARGET_FILE_NAME:MorvanePiano>)
set(uninstaller_name $<TARGET_FILE_NAME:MorvaneUninstall>)
# A signed release's programs are signed here, before either package takes them.
set(sign_programs "")
set(signing_inputs "")
if(signed)
    set(sign_programs
        COMMAND ${CMAKE_COMMAND} -DSETTINGS=${sign_settings}
            -DFILE=${stage_top}/${exe_name} -DNAME=${exe_name} -P ${sign_script}
        COMMAND ${CMAKE_COMMAND} -DSETTINGS=${sign_settings}
            -DFILE=${stage_root}/${uninstaller_name} -DNAME=${uninstaller_name} -P ${sign_script})
    set(signing_inputs ${sign_settings} ${sign_script})
endif()
# The key behind a signing command can change while its text stays the same
# (a new certificate in the same file or token), so a build that signs
# signs afresh each time, and builds the downloads again around the new
# signatures. The output is never made, so it is never up to date.
if(SIGN_COMMAND)
    set(sign_afresh ${stage_root}/sign-afresh)
    add_custom_command(OUTPUT ${sign_afresh} COMMAND ${CMAKE_COMMAND} -E echo "Signing afresh")
    set_source_files_properties(${sign_afresh} PROPERTIES SYMBOLIC TRUE)
    list(APPEND signing_inputs ${sign_afresh})
endif()
add_custom_command(OUTPUT ${stage_stamp}
    COMMAND ${CMAKE_COMMAND} -E remove_directory ${stage_top}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${stage_top}/keys
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:MorvanePiano> ${package_docs_full} ${stage_top}
    COMMAND ${CMAKE_COMMAND} -E copy ${KEY_SOUNDS} ${stage_top}/keys
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:MorvaneUninstall> ${stage_root}
    ${sign_programs}
    # The executable's mode is set outright, whatever the signing left it.
    COMMAND ${CHMOD} -R u=rwX,go=rX ${zip_top}
    COMMAND ${CHMOD} 755 ${zip_top}/${exe_name}
    COMMAND ${TOUCH} -d @${SOURCE_DATE_EPOCH} ${zip_members} ${zip_top}/keys ${zip_top}
        ${uninstaller_name}
    COMMAND ${CMAKE_COMMAND} -E touch ${stage_stamp}
    WORKING_DIRECTORY ${stage_root}
    DEPENDS MorvanePiano MorvaneUninstall ${KEY_SOUNDS} ${package_docs_full} ${signing_inputs}
    COMMENT "Staging the packages' files"
    VERBATIM)

# -X leaves out the user and group ids and extra time stamps, -D the folder
# entries; zip writes local times, hence UTC. It adds to an existing zip, so
# the old one goes first.
add_custom_command(OUTPUT ${PACKAGE_ZIP}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PACKAGE_DIR}
    COMMAND ${CMAKE_COMMAND} -E rm -f ${PACKAGE_ZIP}
    COMMAND ${CMAKE_COMMAND} -E env TZ=UTC ${ZIP} -q -X -D ${PACKAGE_ZIP} -- ${zip_members}
    WORKING_DIRECTORY ${stage_root}
    DEPENDS ${stage_stamp}
    COMMENT "Packing ${PACKAGE_BASE}-win32.zip"
    VERBATIM)

# The installer installs and removes its files by name: the list is written
# here, from the same key list the stage uses, as two NSIS macros.
# Appends to variable `out` one NSIS line per item: `command "<prefix>item"`.
function(append_nsis_lines out command prefix)
    set(items ${ARGN})
    list(TRANSFORM items PREPEND "  ${command} \"${prefix}")
    list(TRANSFORM items APPEND "\"\n")
    string(JOIN "" lines ${items})
    set(${out} "${${out}}${lines}" PARENT_SCOPE)
endfunction()

set(nsh "!macro INSTALL_FILES\n  SetOutPath \"$INSTDIR\"\n")
append_nsis_lines(nsh File "${stage_top}/" ${PACKAGE_DOCS})
string(APPEND nsh "  SetOutPath \"$INSTDIR\\keys\"\n")
append_nsis_lines(nsh File "${stage_top}/keys/" ${package_key_names})
string(APPEND nsh "!macroend\n!macro CHECK_FILES un\n")
append_nsis_lines(nsh "!insertmacro CHECK_FILE \"\${un}\"" "$INSTDIR\\" ${PACKAGE_DOCS})
append_nsis_lines(nsh "!insertmacro CHECK_FILE \"\${un}\"" "$INSTDIR\\keys\\" ${package_key_names})
string(APPEND nsh "!macroend\n!macro REMOVE_FILES\n")
append_nsis_lines(nsh Delete "$INSTDIR\\keys\\" ${package_key_names})
append_nsis_lines(nsh Delete "$INSTDIR\\" ${PACKAGE_DOCS})
string(APPEND nsh "!macroend\n")
set(package_files_nsh ${CMAKE_BINARY_DIR}/generated/package_files.nsh)
file(GENERATE OUTPUT ${package_files_nsh} CONTENT "${nsh}")

find_program(MAKENSIS makensis)
if(MAKENSIS)
    # A signed release's remover is signed as NSIS builds it, before the
    # installer takes it in, and the installer last.
    set(nsis_signing "")
    if(signed)
        set(nsis_signing -DCMAKE=${CMAKE_COMMAND} -DSIGN_SETTINGS=${sign_settings}
            -DSIGN_SCRIPT=${sign_script} -DSETUP_NAME=${PACKAGE_BASE}-setup.exe)
    endif()
    add_custom_command(OUTPUT ${PACKAGE_SETUP}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${PACKAGE_DIR}
        COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH}
            ${MAKENSIS} -V2 -INPUTCHARSET UTF8
            "-DPRODUCT_NAME=${PRODUCT_NAME}"
            -DAPP_ID=${PROJECT_NAME}
            -DVERSION=${PROJECT_VERSION}
            "-DPUBLISHER=${MAKER_NAME}"
            -DHOME_PAGE=${HOME_PAGE}
            -DWINDOW_CLASS=${WINDOW_CLASS_NAME}
            -DEXE_PATH=${stage_top}/$<TARGET_FILE_NAME:MorvanePiano>
            -DEXE_NAME=$<TARGET_FILE_NAME:MorvanePiano>
            -DUNINSTALLER_PATH=${stage_root}/${uninstaller_name}
            -DUNINSTALLER=${uninstaller_name}
            -DREMOVER=${REMOVER_NAME}
            -DICON=${PROJECT_SOURCE_DIR}/res/app.ico
            -DLICENSE_FILE=${PROJECT_SOURCE_DIR}/LICENSE
            -DFILE_LIST=${package_files_nsh}
            -DOUTFILE=${PACKAGE_SETUP}
            ${nsis_signing}
            ${CMAKE_CURRENT_LIST_DIR}/installer.nsi
        DEPENDS ${stage_stamp} ${package_files_nsh} ${CMAKE_CURRENT_LIST_DIR}/installer.nsi
            ${CMAKE_CURRENT_LIST_DIR}/files_in_use.nsh ${CMAKE_CURRENT_LIST_DIR}/install_folder.nsh
            ${PROJECT_SOURCE_DIR}/res/app.ico
            ${signing_inputs}
        COMMENT "Building ${PACKAGE_BASE}-setup.exe"
        VERBATIM)
    set(packages ${PACKAGE_ZIP} ${PACKAGE_SETUP})
else()
    message(WARNING "makensis not found: only the zip is packaged")
    set(packages ${PACKAGE_ZIP})
endif()

# SHA256SUMS beside the downloads, for `sha256sum -c` or a comparison with
# `certutil -hashfile FILE SHA256` on Windows.
set(package_sums ${PACKAGE_DIR}/SHA256SUMS)
add_custom_command(OUTPUT ${package_sums}
    COMMAND ${CMAKE_COMMAND} "-DFILES=${packages}" -DOUTPUT=${package_sums}
        -P ${CMAKE_CURRENT_LIST_DIR}/checksums.cmake
    DEPENDS ${packages} ${CMAKE_CURRENT_LIST_DIR}/checksums.cmake
    COMMENT "Writing SHA256SUMS"
    VERBATIM)
add_custom_target(package_all ALL DEPENDS ${packages} ${package_sums})
