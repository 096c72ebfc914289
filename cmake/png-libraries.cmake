# libdeflate and libspng, the PNG libraries, as the targets quorbin::deflate
# and quorbin::spng.
#
# On Debian they are the system's (libdeflate-dev, libspng-dev).  For Windows,
# and for the fuzzers, which need them instrumented, they are built here from
# Debian's source packages of the same versions (scripts/fetch-deb-sources.sh
# unpacks them into the build directory the first time).  On Windows
# libspng's zlib comes from libz-mingw-w64-dev, and all three are linked
# statically: the executables still import only what Windows ships.
if(NOT WIN32 AND NOT QUORBIN_FUZZ)
  find_path(DEFLATE_INCLUDE_DIR libdeflate.h REQUIRED)
  find_library(DEFLATE_LIBRARY deflate REQUIRED)
  find_path(SPNG_INCLUDE_DIR spng.h REQUIRED)
  find_library(SPNG_LIBRARY spng REQUIRED)
  add_library(quorbin::deflate UNKNOWN IMPORTED)
  set_target_properties(quorbin::deflate PROPERTIES IMPORTED_LOCATION ${DEFLATE_LIBRARY}
                        INTERFACE_INCLUDE_DIRECTORIES ${DEFLATE_INCLUDE_DIR})
  add_library(quorbin::spng UNKNOWN IMPORTED)
  set_target_properties(quorbin::spng PROPERTIES IMPORTED_LOCATION ${SPNG_LIBRARY}
                        INTERFACE_INCLUDE_DIRECTORIES ${SPNG_INCLUDE_DIR})
  return()
endif()

set(sources ${CMAKE_BINARY_DIR}/deb-sources)
if(NOT EXISTS ${sources}/libdeflate/libdeflate.h OR NOT EXISTS ${sources}/libspng/spng/spng.c)
  message(STATUS "Fetching Debian's sources of libdeflate and libspng into ${sources}")
  execute_process(COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/../scripts/fetch-deb-sources.sh
                          ${sources} libdeflate libspng
                  RESULT_VARIABLE fetched)
  if(NOT fetched EQUAL 0)
    message(FATAL_ERROR "could not fetch the sources of libdeflate and libspng")
  endif()
endif()

# libdeflate has a plain Makefile: its library is lib/*.c and, on x86, lib/x86/*.c.
file(GLOB deflate_sources ${sources}/libdeflate/lib/*.c ${sources}/libdeflate/lib/x86/*.c)
add_library(deflate_static STATIC ${deflate_sources})
target_include_directories(deflate_static PUBLIC ${sources}/libdeflate)
add_library(quorbin::deflate ALIAS deflate_static)

# libspng's own CMake build; only its static library is built (its static
# part names the shared target too, so that one is defined, but not built).
if(WIN32)
  set(ZLIB_INCLUDE_DIR ${CMAKE_FIND_ROOT_PATH}/include CACHE PATH "" FORCE)
  set(ZLIB_LIBRARY ${CMAKE_FIND_ROOT_PATH}/lib/libz.a CACHE FILEPATH "" FORCE)
  set(zlib ${ZLIB_LIBRARY})
else()
  find_package(ZLIB REQUIRED)
  set(zlib ZLIB::ZLIB m)
endif()
set(BUILD_EXAMPLES OFF CACHE BOOL "" FORCE)
add_subdirectory(${sources}/libspng ${CMAKE_BINARY_DIR}/libspng EXCLUDE_FROM_ALL)
target_include_directories(spng_static INTERFACE ${sources}/libspng/spng)
target_link_libraries(spng_static INTERFACE ${zlib})
add_library(quorbin::spng ALIAS spng_static)
