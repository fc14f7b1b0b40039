# The program's identity as generated sources: program_identity.h for the program; keyloft.rc,
# the Windows version record, icon and manifest of Keyloft.exe, and keyloft-cli.rc, the manifest
# and icon of keyloft-cli.exe. The texts (comment, legal notice, home page) are carried
# exactly, whatever they hold: each is escaped for the literal it goes into.

# The body of a string literal: C's escapes for a backslash and a line break, which rc and windres
# read too, and `quote` for a quote (\" in C++; doubled in a resource script).
function(keyloft_literal out text quote)
    string(REPLACE "\\" "\\\\" text "${text}")
    string(REPLACE "\"" "${quote}" text "${text}")
    string(REPLACE "\n" "\\n" text "${text}")
    string(REPLACE "\r" "\\r" text "${text}")
    set(${out} "${text}" PARENT_SCOPE)
endfunction()

# Writes the files into `dir` from the project's version and KEYLOFT_COMMENT,
# KEYLOFT_LEGAL_NOTICE, KEYLOFT_HOMEPAGE, KEYLOFT_README_FROM_PROGRAM, KEYLOFT_APP_ID and
# KEYLOFT_ICON_FILE.
function(keyloft_identity_sources dir)
    # The text version has a two-digit minor and a four-digit revision: 1.2.1 is "1.02.0001".
    math(EXPR minor "100 + ${PROJECT_VERSION_MINOR}")
    math(EXPR revision "10000 + ${PROJECT_VERSION_PATCH}")
    string(SUBSTRING ${minor} 1 2 minor)
    string(SUBSTRING ${revision} 1 4 revision)
    set(KEYLOFT_VERSION_TEXT "${PROJECT_VERSION_MAJOR}.${minor}.${revision}")
    foreach(name COMMENT LEGAL_NOTICE HOMEPAGE README_FROM_PROGRAM APP_ID)
        keyloft_literal(KEYLOFT_CXX_${name} "${KEYLOFT_${name}}" "\\\"")
    endforeach()
    foreach(name COMMENT LEGAL_NOTICE)
        keyloft_literal(KEYLOFT_RC_${name} "${KEYLOFT_${name}}" "\"\"")
    endforeach()
    set(templates "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/../resources")
    configure_file("${templates}/program_identity.h.in" "${dir}/program_identity.h" @ONLY)
    set(KEYLOFT_MANIFEST_FILE "${dir}/keyloft.manifest")
    configure_file("${templates}/keyloft.manifest.in" "${KEYLOFT_MANIFEST_FILE}" @ONLY)
    configure_file("${templates}/keyloft.rc.in" "${dir}/keyloft.rc" @ONLY)
    configure_file("${templates}/keyloft-cli.rc.in" "${dir}/keyloft-cli.rc" @ONLY)
endfunction()
