# The version is written in several places that no build step derives from the project's: the
# newest entry of CHANGELOG.md, of debian/changelog and of the metainfo's releases, and the man
# pages' headers. Each must name the project's version.
# Usage: cmake -DVERSION=X.Y.Z -DSOURCE_DIR=DIR -P versions_agree.cmake
set(failed FALSE)
function(expect what pattern file)
    file(READ "${SOURCE_DIR}/${file}" text)
    if(NOT text MATCHES "${pattern}")
        message(SEND_ERROR "${file}: no ${what} found")
    elseif(NOT CMAKE_MATCH_1 STREQUAL VERSION)
        message(SEND_ERROR "${file}: ${what} is ${CMAKE_MATCH_1}, the project's is ${VERSION}")
    endif()
endfunction()
expect("first release heading" "\n## \\[?([0-9.]+)" CHANGELOG.md)
expect("newest entry" "^keyloft \\(([^)]+)\\)" debian/changelog)
expect("newest release" "<release version=\"([^\"]+)\"" desktop/keyloft.metainfo.xml.in)
expect("version in the header" "\\.TH [^\n]*\"Keyloft ([^\"]+)\"" share/man/man1/keyloft.1)
expect("version in the header" "\\.TH [^\n]*\"Keyloft ([^\"]+)\"" share/man/man1/keyloft-cli.1)
