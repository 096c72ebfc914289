# libdeflate and libspng, the PNG libraries, as the targets quorbin::deflate
# and quorbin::spng.
#
# On Debian they are the system's (libdeflate-dev, libspng-dev).  For Windows,
# for the fuzzers, which need them instrumented, and for the web page they are
# built here from Debian's source packages of the same versions
# (scripts/fetch-deb-sources.sh unpacks them into the build directory the
# first time).  libspng's zlib comes from libz-mingw-w64-dev on Windows, from
# the system for the fuzzers, and from Debian's zlib source package for the
# web page.  On Windows all three are linked statically: the executables
# still import only what Windows ships.
if(NOT WIN32 AND NOT QUORBIN_FUZZ AND NOT EMSCRIPTEN)
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
set(packages libdeflate libspng)
if(EMSCRIPTEN)
  list(APPEND packages zlib)
endif()
foreach(package ${packages})
  if(NOT EXISTS ${sources}/${package}/debian/control)
    message(STATUS "Fetching Debian's sources of ${packages} into ${sources}")
    execute_process(COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/../scripts/fetch-deb-sources.sh
                            ${sources} ${packages}
                    RESULT_VARIABLE fetched)
    if(NOT fetched EQUAL 0)
      message(FATAL_ERROR "could not fetch the sources of ${packages}")
    endif()
    break()
  endif()
endforeach()

# libdeflate has a plain Makefile: its library is lib/*.c and, on x86, lib/x86/*.c.
file(GLOB deflate_sources ${sources}/libdeflate/lib/*.c ${sources}/libdeflate/lib/x86/*.c)
add_library(deflate_static STATIC ${deflate_sources})
target_include_directories(deflate_static PUBLIC ${sources}/libdeflate)
add_library(quorbin::deflate ALIAS deflate_static)

# libspng is one source file over zlib.
if(WIN32)
  set(zlib ${CMAKE_FIND_ROOT_PATH}/lib/libz.a)
  set(zlib_include ${CMAKE_FIND_ROOT_PATH}/include)
elseif(EMSCRIPTEN)
  set(zlib_files adler32 compress crc32 deflate gzclose gzlib gzread gzwrite infback inffast inflate
                 inftrees trees uncompr zutil)
  list(TRANSFORM zlib_files PREPEND ${sources}/zlib/)
  list(TRANSFORM zlib_files APPEND .c)
  add_library(zlib_static STATIC ${zlib_files})
  target_compile_definitions(zlib_static PRIVATE HAVE_UNISTD_H)
  set(zlib zlib_static)
  set(zlib_include ${sources}/zlib)
else()
  find_package(ZLIB REQUIRED)
  set(zlib ZLIB::ZLIB m)
endif()
add_library(spng_static STATIC ${sources}/libspng/spng/spng.c)
target_compile_definitions(spng_static PUBLIC SPNG_STATIC)
if(EMSCRIPTEN) # no SIMD code for WebAssembly in libspng
  target_compile_definitions(spng_static PRIVATE SPNG_DISABLE_OPT)
endif()
target_include_directories(spng_static PUBLIC ${sources}/libspng/spng PRIVATE ${zlib_include})
target_link_libraries(spng_static PUBLIC ${zlib})
add_library(quorbin::spng ALIAS spng_static)
