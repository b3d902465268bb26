# The two downloads, built with everything else into build/packages/:
#   MorvanePiano-X.Y.Z-win32.zip   unpack anywhere and start the .exe there
#   MorvanePiano-X.Y.Z-setup.exe   per-machine installer (NSIS's makensis)
# Their names, the installer's texts and its version record all come from
# project() and PRODUCT_NAME in CMakeLists.txt, so a version bump is one edit.
# Both are rebuilt when the executable, a key sound or a document changes.

set(PACKAGE_VERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH})
set(PACKAGE_BASE ${PROJECT_NAME}-${PACKAGE_VERSION})
set(PACKAGE_DIR ${CMAKE_BINARY_DIR}/packages)
set(PACKAGE_ZIP ${PACKAGE_DIR}/${PACKAGE_BASE}-win32.zip)
set(PACKAGE_SETUP ${PACKAGE_DIR}/${PACKAGE_BASE}-setup.exe)
# What ships beside the executable, besides the keys folder.
set(PACKAGE_DOCS README.md LICENSE NOTICE)

list(TRANSFORM PACKAGE_DOCS PREPEND ${PROJECT_SOURCE_DIR}/ OUTPUT_VARIABLE package_docs_full)
list(TRANSFORM KEY_SOUNDS REPLACE "^.*/" "" OUTPUT_VARIABLE package_key_names)
list(SORT package_key_names)

# The zip: one top folder, its members named one by one so their order is
# fixed (a directory walk would follow the file system's order).
set(zip_top ${PACKAGE_BASE}-win32)
set(zip_root ${CMAKE_BINARY_DIR}/package-root)
file(MAKE_DIRECTORY ${zip_root})
list(TRANSFORM package_key_names PREPEND keys/ OUTPUT_VARIABLE zip_members)
list(PREPEND zip_members $<TARGET_FILE_NAME:MorvanePiano> ${PACKAGE_DOCS})
list(TRANSFORM zip_members PREPEND ${zip_top}/)
add_custom_command(OUTPUT ${PACKAGE_ZIP}
    COMMAND ${CMAKE_COMMAND} -E remove_directory ${zip_top}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${zip_top}/keys ${PACKAGE_DIR}
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:MorvanePiano> ${package_docs_full} ${zip_root}/${zip_top}
    COMMAND ${CMAKE_COMMAND} -E copy ${KEY_SOUNDS} ${zip_root}/${zip_top}/keys
    COMMAND ${CMAKE_COMMAND} -E tar cf ${PACKAGE_ZIP} --format=zip -- ${zip_members}
    WORKING_DIRECTORY ${zip_root}
    DEPENDS MorvanePiano ${KEY_SOUNDS} ${package_docs_full}
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
append_nsis_lines(nsh File "" ${package_docs_full})
string(APPEND nsh "  SetOutPath \"$INSTDIR\\keys\"\n")
append_nsis_lines(nsh File "${PROJECT_SOURCE_DIR}/keys/" ${package_key_names})
string(APPEND nsh "!macroend\n!macro REMOVE_FILES\n")
append_nsis_lines(nsh Delete "$INSTDIR\\keys\\" ${package_key_names})
string(APPEND nsh "  RMDir \"$INSTDIR\\keys\"\n")
append_nsis_lines(nsh Delete "$INSTDIR\\" ${PACKAGE_DOCS})
string(APPEND nsh "!macroend\n")
set(package_files_nsh ${CMAKE_BINARY_DIR}/generated/package_files.nsh)
file(GENERATE OUTPUT ${package_files_nsh} CONTENT "${nsh}")

find_program(MAKENSIS makensis)
if(MAKENSIS)
    add_custom_command(OUTPUT ${PACKAGE_SETUP}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${PACKAGE_DIR}
        COMMAND ${MAKENSIS} -V2 -INPUTCHARSET UTF8
            "-DPRODUCT_NAME=${PRODUCT_NAME}"
            -DAPP_ID=${PROJECT_NAME}
            -DVERSION=${PROJECT_VERSION}
            "-DPUBLISHER=${MAKER_NAME}"
            -DHOME_PAGE=${HOME_PAGE}
            -DEXE_PATH=$<TARGET_FILE:MorvanePiano>
            -DEXE_NAME=$<TARGET_FILE_NAME:MorvanePiano>
            -DICON=${PROJECT_SOURCE_DIR}/res/app.ico
            -DLICENSE_FILE=${PROJECT_SOURCE_DIR}/LICENSE
            -DFILE_LIST=${package_files_nsh}
            -DOUTFILE=${PACKAGE_SETUP}
            ${CMAKE_CURRENT_LIST_DIR}/installer.nsi
        DEPENDS MorvanePiano ${KEY_SOUNDS} ${package_docs_full} ${package_files_nsh}
            ${CMAKE_CURRENT_LIST_DIR}/installer.nsi ${PROJECT_SOURCE_DIR}/res/app.ico
        COMMENT "Building ${PACKAGE_BASE}-setup.exe"
        VERBATIM)
    add_custom_target(package_all ALL DEPENDS ${PACKAGE_ZIP} ${PACKAGE_SETUP})
else()
    message(WARNING "makensis not found: only the zip is packaged")
    add_custom_target(package_all ALL DEPENDS ${PACKAGE_ZIP})
endif()
