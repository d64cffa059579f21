# Writes toolchain.txt into the build folder: what a third party needs to
# rebuild this installer byte for byte (README, "Reproducing a release"). A
# publisher keeps it with the published installer and the release keys.

set(kestrelume_record "Kestrelume installer build\n")
execute_process(COMMAND git -C ${CMAKE_SOURCE_DIR} rev-parse HEAD
  OUTPUT_VARIABLE kestrelume_commit OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
execute_process(COMMAND git -C ${CMAKE_SOURCE_DIR} status --porcelain --untracked-files=no
  OUTPUT_VARIABLE kestrelume_dirty OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
if(kestrelume_dirty)
  set(kestrelume_commit "${kestrelume_commit} (with uncommitted changes: not reproducible from the commit)")
endif()
string(APPEND kestrelume_record "source commit: ${kestrelume_commit}\n")
string(APPEND kestrelume_record "build type: ${CMAKE_BUILD_TYPE}\n")
string(APPEND kestrelume_record "trusted keys: ${KESTRELUME_TRUSTED_KEYS}\n")
string(APPEND kestrelume_record "download host: ${KESTRELUME_DOWNLOAD_HOST}\nwebsite host: ${KESTRELUME_WEBSITE_HOST}\n")
if(EXISTS /etc/os-release)
  file(STRINGS /etc/os-release kestrelume_os REGEX "^PRETTY_NAME=")
  string(REGEX REPLACE "^PRETTY_NAME=\"?([^\"]*)\"?$" "\\1" kestrelume_os "${kestrelume_os}")
  string(APPEND kestrelume_record "system: ${kestrelume_os}\n")
endif()
string(APPEND kestrelume_record "compiler: ${CMAKE_CXX_COMPILER_ID} ${CMAKE_CXX_COMPILER_VERSION} (${CMAKE_CXX_COMPILER})\n")
string(APPEND kestrelume_record "cmake: ${CMAKE_VERSION}\n")
find_program(kestrelume_dpkg_query dpkg-query)
if(kestrelume_dpkg_query)
  execute_process(COMMAND ${kestrelume_dpkg_query} -W -f=\${Package}=\${Version}\\n
      g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix gcc-mingw-w64-base binutils-mingw-w64-x86-64
      mingw-w64-x86-64-dev mingw-w64-common cmake
    OUTPUT_VARIABLE kestrelume_packages ERROR_QUIET)
  string(APPEND kestrelume_record "Debian packages:\n${kestrelume_packages}")
endif()
file(WRITE ${CMAKE_BINARY_DIR}/toolchain.txt "${kestrelume_record}")
