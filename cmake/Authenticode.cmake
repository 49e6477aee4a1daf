# The Authenticode signature of the shipped exe.
#
# With a code-signing certificate and its private key, PEM files (the key
# unencrypted), in the cache variables KELTO2_SIGN_CERT and KELTO2_SIGN_KEY,
# the build signs the exe with osslsigncode: SHA-256, the certificates of
# KELTO2_SIGN_CERT (the signer's first, then its chain) and, when
# KELTO2_SIGN_TIMESTAMP_URL names one, a time stamp from that RFC 3161
# server. Without a certificate the exe stays unsigned.
#
# The signature is appended to the linked exe and changes nothing else but
# the header's checksum and certificate table entry, so removing it gives
# back the bytes that a build of the same commit reproduces; the signing
# step checks that it does.
#
#   kelto2_authenticode_sign(<exe target>)
#
# This file also runs as a script (cmake -P) for the build step:
#   -DOSSLSIGNCODE= -DEXE= -DCERT= -DKEY= -DDESCRIPTION= [-DTIMESTAMP_URL=]

if(CMAKE_SCRIPT_MODE_FILE)
    set(signed ${EXE}.signed)
    set(restored ${EXE}.restored)
    file(REMOVE ${signed} ${restored})
    set(timestamp)
    if(TIMESTAMP_URL)
        set(timestamp -ts ${TIMESTAMP_URL})
    endif()
    execute_process(COMMAND ${OSSLSIGNCODE} sign -certs ${CERT} -key ${KEY} -h sha256
                            -n ${DESCRIPTION} ${timestamp} -in ${EXE} -out ${signed}
                    RESULT_VARIABLE failed OUTPUT_VARIABLE output ERROR_VARIABLE output)
    if(failed)
        file(REMOVE ${signed})
        message(FATAL_ERROR "Signing ${EXE} failed:\n${output}")
    endif()
    execute_process(COMMAND ${OSSLSIGNCODE} remove-signature -in ${signed} -out ${restored}
                    RESULT_VARIABLE failed OUTPUT_VARIABLE output ERROR_VARIABLE output)
    if(NOT failed)
        execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${EXE} ${restored}
                        RESULT_VARIABLE failed)
    endif()
    file(REMOVE ${restored})
    if(failed)
        file(REMOVE ${signed})
        message(FATAL_ERROR "The signature of ${EXE} does not come off cleanly:\n${output}")
    endif()
    file(RENAME ${signed} ${EXE})
    return()
endif()

include_guard(GLOBAL)
set(KELTO2_AUTHENTICODE_SCRIPT ${CMAKE_CURRENT_LIST_FILE})

set(KELTO2_SIGN_CERT "" CACHE FILEPATH
    "PEM code-signing certificate (then its chain) to sign Kelto2.exe with")
set(KELTO2_SIGN_KEY "" CACHE FILEPATH "Unencrypted PEM private key of KELTO2_SIGN_CERT")
set(KELTO2_SIGN_TIMESTAMP_URL "" CACHE STRING
    "RFC 3161 time stamp server for the signature (none when empty)")

function(kelto2_authenticode_sign target)
    if(NOT KELTO2_SIGN_CERT AND NOT KELTO2_SIGN_KEY)
        return()
    endif()
    foreach(var IN ITEMS KELTO2_SIGN_CERT KELTO2_SIGN_KEY)
        if(NOT ${var} OR NOT EXISTS ${${var}})
            message(FATAL_ERROR "Signing needs both KELTO2_SIGN_CERT and KELTO2_SIGN_KEY; "
                                "${var} is '${${var}}'")
        endif()
    endforeach()
    find_program(KELTO2_OSSLSIGNCODE osslsigncode)
    if(NOT KELTO2_OSSLSIGNCODE)
        message(FATAL_ERROR "Signing needs osslsigncode (scripts/install-deps.sh)")
    endif()
    # A new certificate or key at the same path signs again.
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS
                 ${KELTO2_SIGN_CERT} ${KELTO2_SIGN_KEY})
    add_custom_command(
        TARGET ${target} POST_BUILD
        COMMAND ${CMAKE_COMMAND} -DOSSLSIGNCODE=${KELTO2_OSSLSIGNCODE}
                -DEXE=$<TARGET_FILE:${target}> -DCERT=${KELTO2_SIGN_CERT}
                -DKEY=${KELTO2_SIGN_KEY} -DDESCRIPTION=${PROJECT_NAME}
                -DTIMESTAMP_URL=${KELTO2_SIGN_TIMESTAMP_URL} -P ${KELTO2_AUTHENTICODE_SCRIPT}
        VERBATIM)
    message(STATUS "${target} is signed with ${KELTO2_SIGN_CERT}")
endfunction()
