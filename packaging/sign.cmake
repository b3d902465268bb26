# Signs one file of the downloads in place, at the point of the build where
# it must be signed, and keeps its detached signature beside the downloads;
# or, rebuilding a signed release from its commit, attaches that release's
# signature to the file instead.
# Usage: cmake -DSETTINGS=<file> -DFILE=<file> -DNAME=<name> -P sign.cmake
# FILE is the file to sign, NAME its name in the release (the uninstaller is
# signed as a temporary file). SETTINGS, which the build writes, sets
# SIGN_COMMAND (a list), ATTACH_SIGNATURES, SIGNATURE_DIR, OSSLSIGNCODE,
# SOURCE_DATE_EPOCH, PRODUCT_NAME and HOME_PAGE.
include(${SETTINGS})
file(MAKE_DIRECTORY ${SIGNATURE_DIR})
set(signed ${FILE}.signed)
file(REMOVE ${signed})
if(ATTACH_SIGNATURES)
    # osslsigncode then verifies the file it wrote against this machine's
    # trusted certificates, and fails where the signer's root is not among
    # them: whether the file is the release's is for a comparison of the
    # two to say, so the file written is all that counts here.
    execute_process(COMMAND ${OSSLSIGNCODE} attach-signature
        -sigin ${ATTACH_SIGNATURES}/${NAME}.p7s -in ${FILE} -out ${signed}
        OUTPUT_QUIET ERROR_QUIET)
    if(NOT EXISTS ${signed})
        message(FATAL_ERROR "could not attach ${ATTACH_SIGNATURES}/${NAME}.p7s to ${NAME}")
    endif()
    file(RENAME ${signed} ${FILE})
    return()
endif()

execute_process(COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH}
        "SIGN_PRODUCT_NAME=${PRODUCT_NAME}" "SIGN_PRODUCT_URL=${HOME_PAGE}"
        ${SIGN_COMMAND} ${FILE}
    RESULT_VARIABLE failed)
if(failed)
    message(FATAL_ERROR "the signing command failed on ${NAME} (${failed})")
endif()
if(OSSLSIGNCODE)
    file(REMOVE ${SIGNATURE_DIR}/${NAME}.p7s)
    execute_process(COMMAND ${OSSLSIGNCODE} extract-signature
        -in ${FILE} -out ${SIGNATURE_DIR}/${NAME}.p7s
        OUTPUT_QUIET RESULT_VARIABLE failed)
    if(failed)
        message(FATAL_ERROR "no signature found in ${NAME} after signing it")
    endif()
endif()
