# Installs the build into a scratch DESTDIR and checks what a user's machine would get: exactly
# the program, the command line with its manual page and completion, the records window with its
# desktop entry (when built), its record manager library, the desktop entry, the icon and the MIME
# types of data files; every binary's libraries resolve (ldd finds each one); every desktop entry
# validates.
#
#   cmake -DBUILD_DIR=... -DSTAGE=... -DPREFIX=/usr -DBINDIR=bin -DDATADIR=share
#         -DPRIVATE_LIBDIR=lib/varnok -DWITH_RECMAN=ON|OFF -DWITH_CLI=ON|OFF -DWITH_RECORDS=ON|OFF
#         -DWITH_RECORDS_MAN=ON|OFF -DMANDIR=share/man
#         -DDESKTOP_FILE_VALIDATE=...
#         -P CheckInstall.cmake

file(REMOVE_RECURSE "${STAGE}")
set(ENV{DESTDIR} "${STAGE}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed (${result}):\n${output}")
endif()

string(REGEX REPLACE "^/+" "" root "${PREFIX}")
set(expected
  "${root}/${BINDIR}/varnok"
  "${root}/${DATADIR}/applications/varnok.desktop"
  "${root}/${DATADIR}/icons/hicolor/scalable/apps/varnok.svg")
if(WITH_RECMAN)
  list(APPEND expected "${root}/${PRIVATE_LIBDIR}/libvarnok-recman.so")
endif()
if(WITH_CLI)
  list(APPEND expected
    "${root}/${BINDIR}/varnok-cli"
    "${root}/${MANDIR}/man1/varnok-cli.1.gz"
    "${root}/${DATADIR}/bash-completion/completions/varnok-cli")
endif()
list(APPEND expected "${root}/${DATADIR}/mime/packages/varnok.xml")
if(WITH_RECORDS)
  list(APPEND expected
    "${root}/${BINDIR}/varnok-records"
    "${root}/${DATADIR}/applications/varnok-records.desktop")
endif()
if(WITH_RECORDS_MAN)
  list(APPEND expected "${root}/${MANDIR}/man1/varnok-records.1.gz")
endif()
list(SORT expected)

file(GLOB_RECURSE installed LIST_DIRECTORIES false RELATIVE "${STAGE}" "${STAGE}/*")
list(SORT installed)
if(NOT installed STREQUAL expected)
  string(REPLACE ";" "\n  " got "${installed}")
  string(REPLACE ";" "\n  " want "${expected}")
  message(FATAL_ERROR "installed files differ from the expected ones.\nInstalled:\n  ${got}\n"
                      "Expected:\n  ${want}")
endif()

set(failures "")
foreach(file IN LISTS installed)
  file(READ "${STAGE}/${file}" magic LIMIT 4 HEX)
  if(NOT magic STREQUAL "7f454c46")
    continue()
  endif()
  # ldd of a binary under DESTDIR: its RPATH, relative to the binary, points inside DESTDIR too.
  execute_process(COMMAND ldd "${STAGE}/${file}"
    RESULT_VARIABLE result OUTPUT_VARIABLE libraries ERROR_VARIABLE libraries)
  if(NOT result EQUAL 0 OR libraries MATCHES "not found")
    string(APPEND failures "${file}: its libraries do not all resolve:\n${libraries}\n")
  endif()
endforeach()

if(NOT DESKTOP_FILE_VALIDATE)
  message(FATAL_ERROR "desktop-file-validate not found: install desktop-file-utils")
endif()
file(GLOB entries "${STAGE}/${root}/${DATADIR}/applications/*.desktop")
foreach(entry IN LISTS entries)
  execute_process(COMMAND "${DESKTOP_FILE_VALIDATE}" "${entry}"
    RESULT_VARIABLE result OUTPUT_VARIABLE report ERROR_VARIABLE report)
  if(NOT result EQUAL 0)
    cmake_path(GET entry FILENAME name)
    string(APPEND failures "${name} does not validate:\n${report}\n")
  endif()
endforeach()

if(failures)
  message(FATAL_ERROR "${failures}")
endif()
list(LENGTH installed count)
message(STATUS "${count} files installed; every binary's libraries resolve; every desktop entry validates")
