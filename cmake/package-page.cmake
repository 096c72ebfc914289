# Run by CPack once the files are staged, before it packs them: the packages
# hold the web page, which is built here, or brought up to date with its
# sources (cmake --workflow --preset web builds and tests it), and put beside
# the programs' files.
# Without it no package is made.
set(page ${CPACK_QUORBIN_SOURCE}/build/web/quorbin.html)
set(failed 0)
if(NOT EXISTS ${CPACK_QUORBIN_SOURCE}/build/web/CMakeCache.txt)
  execute_process(COMMAND ${CMAKE_COMMAND} --preset web WORKING_DIRECTORY ${CPACK_QUORBIN_SOURCE}
                  RESULT_VARIABLE failed OUTPUT_QUIET)
endif()
if(NOT failed) # up to date with the sources, or built now
  execute_process(COMMAND ${CMAKE_COMMAND} --build --preset web --target page
                  WORKING_DIRECTORY ${CPACK_QUORBIN_SOURCE} RESULT_VARIABLE failed OUTPUT_QUIET)
endif()
if(failed OR NOT EXISTS ${page})
  message(FATAL_ERROR "The package holds the web page, which could not be built: it needs "
    "emscripten and npm (bash scripts/install-deps.sh emscripten npm), then "
    "cmake --workflow --preset web; pack again after that.")
endif()
file(COPY ${page}
     DESTINATION ${CPACK_TEMPORARY_DIRECTORY}/${CPACK_PACKAGING_INSTALL_PREFIX}/${CPACK_QUORBIN_PAGE_DIR})
