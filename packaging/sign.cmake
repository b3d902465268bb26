# Signs one file of the downloads in place, at the point of the build where
# it must be signed, and keeps its detached signature beside the downloads;
# or, rebuilding a signed release from its commit, attaches that release's
# signature to the file instead. Either way the file's signature is then
# checked, and a file whose signature does not hold stops the build.
# Usage: cmake -DSETTINGS=<file> -DFILE=<file> -DNAME=<name> -P sign.cmake
# FILE is the file to sign, NAME its name in the release (the uninstaller is
# signed as a temporary file). SETTINGS, which the build writes, sets
# SIGN_COMMAND (a list), ATTACH_SIGNATURES, SIGNATURE_DIR, OSSLSIGNCODE,
# OPENSSL, SOURCE_DATE_EPOCH, PRODUCT_NAME, MAKER_NAME and HOME_PAGE.
include(${SETTINGS})

# The check's temporary files, beside FILE: the signature as PEM, and the
# certificates it is checked against.
set(signature ${FILE}.signature.pem)
set(anchors ${FILE}.anchors.pem)

# Stops the build with `message`, first removing the check's temporary
# files: the installer's FILE sits beside the downloads.
function(stop message)
    file(REMOVE ${signature} ${anchors} ${anchors}.one)
    message(FATAL_ERROR "${message}")
endfunction()

# Writes to the anchors file every certificate that the signature's PEM file
# carries, each marked as trusted. Checked against these alone, a signature
# shows that it is whole and was made with the key of the certificate it
# names, whose chain it carries; whether the chain's root deserves trust is
# Windows' to judge, not this machine's.
function(write_carried_anchors subject)
    execute_process(COMMAND ${OPENSSL} pkcs7 -in ${signature} -print_certs
        OUTPUT_VARIABLE carried RESULT_VARIABLE failed ERROR_QUIET)
    string(REGEX MATCHALL "-----BEGIN CERTIFICATE-----[^-]+-----END CERTIFICATE-----"
        certificates "${carried}")
    if(failed OR NOT certificates)
        stop("${subject} is damaged or carries no certificate")
    endif()
    set(trusted "")
    foreach(certificate IN LISTS certificates)
        file(WRITE ${anchors}.one "${certificate}\n")
        # Explicitly trusted, an intermediate certificate ends a chain as a
        # root would: a signature need not carry its root.
        execute_process(COMMAND ${OPENSSL} x509 -in ${anchors}.one -addtrust anyExtendedKeyUsage
            OUTPUT_VARIABLE certificate)
        string(APPEND trusted "${certificate}")
    endforeach()
    file(REMOVE ${anchors}.one)
    file(WRITE ${anchors} "${trusted}")
endfunction()

# Stops the build unless FILE carries a signature that verifies against the
# certificates it carries, with SHA-256 digests (Windows no longer trusts
# SHA-1 signatures), by a certificate in the maker's name, which the guide
# names as the signer. `subject` says whose signature it is.
function(check_signature subject)
    execute_process(COMMAND ${OSSLSIGNCODE} extract-signature -pem -in ${FILE} -out ${signature}
        RESULT_VARIABLE failed OUTPUT_QUIET ERROR_QUIET)
    if(failed)
        stop("${NAME} carries no signature")
    endif()
    write_carried_anchors("${subject}")
    # Newer osslsigncode fetches the certificates' revocation lists from the
    # network unless told not to; a build judges the signature as it stands.
    execute_process(COMMAND ${OSSLSIGNCODE} verify --help OUTPUT_VARIABLE help ERROR_VARIABLE help)
    set(offline "")
    if(help MATCHES "-ignore-cdp")
        set(offline -ignore-cdp)
    endif()
    execute_process(COMMAND ${OSSLSIGNCODE} verify ${offline} -CAfile ${anchors} -in ${FILE}
        OUTPUT_VARIABLE report ERROR_VARIABLE errors RESULT_VARIABLE failed)
    file(REMOVE ${signature} ${anchors})
    if(failed)
        # osslsigncode's own words for what failed, without its whole report.
        string(REGEX MATCHALL "[^\n]*(MISMATCH|[Ee]rror|[Ff]ail)[^\n]*" reasons "${report}${errors}")
        list(JOIN reasons "\n" reasons)
        message(FATAL_ERROR "${subject} does not verify against the certificates it carries: it "
                            "is damaged, made for another file, or without its certificate's "
                            "chain.\n${reasons}")
    endif()
    # The file's digest and the signer's, which osslsigncode names alike.
    string(REGEX MATCHALL "Message digest algorithm *: *[A-Za-z0-9-]+" digests "${report}")
    list(TRANSFORM digests REPLACE "Message digest algorithm *: *" "")
    list(REMOVE_DUPLICATES digests)
    if(NOT digests STREQUAL "SHA256")
        message(FATAL_ERROR "${subject} has ${digests} digests, not SHA-256 alone")
    endif()
    string(REGEX MATCH "Signer #0:[ \t\r\n]+Subject: ([^\r\n]*)" signer "${report}")
    set(signer "${CMAKE_MATCH_1}")
    string(REGEX MATCH "/CN=([^/]*)" common_name "${signer}")
    set(common_name "${CMAKE_MATCH_1}")
    if(NOT common_name STREQUAL MAKER_NAME)
        message(FATAL_ERROR "${subject} is in the name of \"${common_name}\" (${signer}), "
                            "not of the maker, \"${MAKER_NAME}\", as the guide says")
    endif()
endfunction()

file(MAKE_DIRECTORY ${SIGNATURE_DIR})
set(signed ${FILE}.signed)
file(REMOVE ${signed})
if(ATTACH_SIGNATURES)
    # osslsigncode checks the file it wrote against this machine's trusted
    # roots, which need not hold the signer's, and fails if they do not: so
    # the file written is checked here instead, as a signed one is. Where
    # those roots do hold it, newer versions go on to fetch revocation lists
    # from the network, with no option to stop them; given no trusted
    # certificate at all, osslsigncode verifies no chain and goes nowhere.
    set(published ${ATTACH_SIGNATURES}/${NAME}.p7s)
    file(WRITE ${anchors} "")
    execute_process(COMMAND ${OSSLSIGNCODE} attach-signature -CAfile ${anchors}
        -TSA-CAfile ${anchors} -sigin ${published} -in ${FILE} -out ${signed}
        OUTPUT_VARIABLE report ERROR_VARIABLE errors)
    file(REMOVE ${anchors})
    if(NOT EXISTS ${signed})
        stop("the signature ${published} could not be attached to ${NAME}:\n${report}${errors}")
    endif()
    file(RENAME ${signed} ${FILE})
    check_signature("the signature ${published}, attached to ${NAME},")
    return()
endif()

execute_process(COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH}
        "SIGN_PRODUCT_NAME=${PRODUCT_NAME}" "SIGN_PRODUCT_URL=${HOME_PAGE}"
        ${SIGN_COMMAND} ${FILE}
    RESULT_VARIABLE failed)
if(failed)
    message(FATAL_ERROR "the signing command failed on ${NAME} (${failed})")
endif()
check_signature("the signature of ${NAME}")
file(REMOVE ${SIGNATURE_DIR}/${NAME}.p7s)
execute_process(COMMAND ${OSSLSIGNCODE} extract-signature
    -in ${FILE} -out ${SIGNATURE_DIR}/${NAME}.p7s
    OUTPUT_QUIET RESULT_VARIABLE failed)
if(failed)
    message(FATAL_ERROR "the signature of ${NAME} could not be kept apart")
endif()
