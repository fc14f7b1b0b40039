# The one place that decides how the build starts 64-bit Windows programs (the cross build's
# emulator, the tests' prefixes, Wine's own reg and regedit): KEYLOFT_WINE, the loader that
# scripts/wine-loader finds starting on this machine, empty when none does. Debian's `wine` picks
# the 32-bit loader once wine32:i386 is installed, which a kernel without 32-bit support cannot
# run; the 64-bit loader beside it then still works. KEYLOFT_RUNS_32BIT says whether 32-bit
# programs run here at all (scripts/runs-32bit), for the cases that need a 32-bit prefix.
get_filename_component(KEYLOFT_SCRIPTS_DIR "${CMAKE_CURRENT_LIST_DIR}/../scripts" ABSOLUTE)
execute_process(COMMAND "${KEYLOFT_SCRIPTS_DIR}/wine-loader"
    OUTPUT_VARIABLE KEYLOFT_WINE OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET
    RESULT_VARIABLE wine_found TIMEOUT 60)
if(NOT wine_found EQUAL 0)
    set(KEYLOFT_WINE "")
endif()
if(NOT KEYLOFT_WINE_SAID STREQUAL "${KEYLOFT_WINE}")
    message(STATUS "Wine loader for 64-bit programs: ${KEYLOFT_WINE}")
    set(KEYLOFT_WINE_SAID "${KEYLOFT_WINE}" CACHE INTERNAL "")
endif()
set(KEYLOFT_RUNS_32BIT_PROBE "${KEYLOFT_SCRIPTS_DIR}/runs-32bit")
