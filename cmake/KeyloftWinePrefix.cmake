# A throwaway Wine prefix inside the build tree, made once per test run by a CTest fixture.
# Sets <name>_wine_environment in the caller for the tests that use it, which must also name
# FIXTURES_REQUIRED <name> and RESOURCE_LOCK <name>: they share the prefix's one registry.
include(KeyloftWine)
function(keyloft_wine_prefix_fixture name)
    if(NOT KEYLOFT_WINE)
        message(FATAL_ERROR "No Wine loader starts here (scripts/wine-loader): install wine64")
    endif()
    set(environment WINEPREFIX=${CMAKE_CURRENT_BINARY_DIR}/wineprefix WINEDEBUG=-all
        "WINEDLLOVERRIDES=mscoree,mshtml=")
    # wineboot brings an existing prefix up to date quickly.
    add_test(NAME ${name}.prefix COMMAND ${KEYLOFT_WINE} wineboot --init)
    set_tests_properties(${name}.prefix PROPERTIES
        ENVIRONMENT "${environment}" FIXTURES_SETUP ${name} RESOURCE_LOCK ${name} TIMEOUT 120)
    set(${name}_wine_environment "${environment}" PARENT_SCOPE)
endfunction()
