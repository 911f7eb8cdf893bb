# Authenticode signing of the shipped files: the programs, the installer with its uninstaller,
# and the MSI. Windows names the publisher of a signed program in its elevation prompt and
# SmartScreen trusts it sooner; an unsigned one shows "Unknown publisher".
#
# Signing is on when a certificate and its private key are given, as cache variables or, where
# the cache variable is empty, as environment variables of the same names when CMake runs:
#   KX7_SIGN_CERT               the code-signing certificate, with its intermediates (PEM or DER)
#   KX7_SIGN_KEY                its private key
#   KX7_SIGN_KEY_PASSWORD_FILE  optional: a file that holds the key's password
#   KX7_SIGN_TIMESTAMP_URL      optional: an RFC 3161 time-stamping service, so that signatures
#                               stay valid after the certificate expires
# Only the 32-bit build is shipped and signed; the x86_64 build exists for running tests.

set(KX7_SIGN_CERT "" CACHE FILEPATH "Code-signing certificate for the shipped files")
set(KX7_SIGN_KEY "" CACHE FILEPATH "Private key of KX7_SIGN_CERT")
set(KX7_SIGN_KEY_PASSWORD_FILE "" CACHE FILEPATH "File holding the password of KX7_SIGN_KEY")
set(KX7_SIGN_TIMESTAMP_URL "" CACHE STRING "RFC 3161 time-stamping service for the signatures")
foreach(name KX7_SIGN_CERT KX7_SIGN_KEY KX7_SIGN_KEY_PASSWORD_FILE KX7_SIGN_TIMESTAMP_URL)
    if("${${name}}" STREQUAL "" AND NOT "$ENV{${name}}" STREQUAL "")
        set(${name} "$ENV{${name}}")
    endif()
endforeach()

set(KX7_SIGN_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/kx7-sign.sh)
set(KX7_SIGN_DESCRIPTION "KX7 HostPair Auto Connector")

# kx7_sign_command(VAR CERT cert KEY key [PASSWORD_FILE file] [TIMESTAMP_URL url])
# Sets VAR to the command line that signs the file named after it in place.
function(kx7_sign_command var)
    cmake_parse_arguments(ARG "" "CERT;KEY;PASSWORD_FILE;TIMESTAMP_URL" "" ${ARGN})
    find_program(KX7_OSSLSIGNCODE osslsigncode REQUIRED)
    set(command sh ${KX7_SIGN_SCRIPT} --osslsigncode ${KX7_OSSLSIGNCODE} --cert ${ARG_CERT}
                --key ${ARG_KEY} --description ${KX7_SIGN_DESCRIPTION})
    if(ARG_PASSWORD_FILE)
        list(APPEND command --password-file ${ARG_PASSWORD_FILE})
    endif()
    if(ARG_TIMESTAMP_URL)
        list(APPEND command --timestamp ${ARG_TIMESTAMP_URL})
    endif()
    set(${var} ${command} PARENT_SCOPE)
endfunction()

# kx7_nsis_command_define(VAR NAME COMMAND...)
# Sets VAR to the makensis switch that defines NAME as COMMAND, each argument quoted for the
# shell that makensis runs it in, so that paths with spaces survive.
function(kx7_nsis_command_define var name)
    set(quoted)
    foreach(arg ${ARGN})
        string(APPEND quoted " \"${arg}\"")
    endforeach()
    string(STRIP "${quoted}" quoted)
    set(${var} "-D${name}=${quoted}" PARENT_SCOPE)
endfunction()

set(KX7_SIGNING OFF)
# The makensis switch that has the uninstaller signed before it is stored in the installer;
# empty in an unsigned build.
set(KX7_NSIS_SIGN_DEFINE)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    if(KX7_SIGN_CERT OR KX7_SIGN_KEY)
        message(STATUS "Unsigned build: the x86_64 build is for tests; only the 32-bit build is "
                       "signed")
    endif()
elseif(KX7_SIGN_CERT OR KX7_SIGN_KEY)
    foreach(name KX7_SIGN_CERT KX7_SIGN_KEY)
        if("${${name}}" STREQUAL "")
            message(FATAL_ERROR "Signing needs both KX7_SIGN_CERT and KX7_SIGN_KEY; ${name} is "
                                "not set")
        endif()
    endforeach()
    foreach(name KX7_SIGN_CERT KX7_SIGN_KEY KX7_SIGN_KEY_PASSWORD_FILE)
        # The signing runs in the build tree, so a relative path would name another file there.
        if("${${name}}" STREQUAL "")
            continue()
        elseif(NOT IS_ABSOLUTE "${${name}}")
            message(FATAL_ERROR "${name} must be an absolute path: ${${name}}")
        elseif(NOT EXISTS "${${name}}")
            message(FATAL_ERROR "${name}: no such file: ${${name}}")
        endif()
    endforeach()
    set(KX7_SIGNING ON)
    kx7_sign_command(KX7_SIGN_COMMAND CERT ${KX7_SIGN_CERT} KEY ${KX7_SIGN_KEY}
                     PASSWORD_FILE ${KX7_SIGN_KEY_PASSWORD_FILE}
                     TIMESTAMP_URL ${KX7_SIGN_TIMESTAMP_URL})
    kx7_nsis_command_define(KX7_NSIS_SIGN_DEFINE SIGN_UNINSTALLER ${KX7_SIGN_COMMAND})
    set(timestamp "no timestamp")
    if(KX7_SIGN_TIMESTAMP_URL)
        set(timestamp "timestamped by ${KX7_SIGN_TIMESTAMP_URL}")
    endif()
    message(STATUS "Signed build: the shipped files are signed with ${KX7_SIGN_CERT} "
                   "(SHA-256, ${timestamp})")
else()
    message(STATUS "Unsigned build: no signing certificate given (set KX7_SIGN_CERT and "
                   "KX7_SIGN_KEY to sign)")
endif()

# What the signed files depend on besides their inputs: switching signing on or off, or to
# another certificate, makes them again, signed accordingly. Written only when it changes.
set(KX7_SIGN_STAMP ${CMAKE_BINARY_DIR}/kx7-signing.txt)
set(stamp_text "unsigned\n")
if(KX7_SIGNING)
    string(JOIN "\n" stamp_text ${KX7_SIGN_COMMAND} "")
endif()
file(CONFIGURE OUTPUT ${KX7_SIGN_STAMP} CONTENT "${stamp_text}")
set(KX7_SIGN_DEPENDS ${KX7_SIGN_STAMP})
if(KX7_SIGNING)
    list(APPEND KX7_SIGN_DEPENDS ${KX7_SIGN_SCRIPT} ${KX7_SIGN_CERT} ${KX7_SIGN_KEY})
endif()

# kx7_sign_target(TARGET)
# Signs the executable TARGET in place each time it is linked.
function(kx7_sign_target target)
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${KX7_SIGN_DEPENDS})
    if(KX7_SIGNING)
        add_custom_command(TARGET ${target} POST_BUILD
                           COMMAND ${KX7_SIGN_COMMAND} $<TARGET_FILE:${target}>
                           VERBATIM)
    endif()
endfunction()

# kx7_sign_output(FILE)
# Signs FILE, the output of an add_custom_command() of the calling directory, right after that
# command has made it.
function(kx7_sign_output file)
    if(KX7_SIGNING)
        add_custom_command(OUTPUT ${file} APPEND
                           COMMAND ${KX7_SIGN_COMMAND} ${file}
                           DEPENDS ${KX7_SIGN_DEPENDS})
    else()
        add_custom_command(OUTPUT ${file} APPEND DEPENDS ${KX7_SIGN_DEPENDS})
    endif()
endfunction()
