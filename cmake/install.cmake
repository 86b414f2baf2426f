# Installing and packaging.
#
# `cmake --install` puts the four programs in bin/, the three shared
# libraries (file with version number plus SONAME link) in lib/ and the
# manual pages, compressed as Debian does, in share/man/man1.  The programs
# find the libraries through their RUNPATH, which is relative to the program
# ($ORIGIN), so an installed tree works wherever it is put.
#
# The Debian packages are built from the same install by debian/rules
# (`make deb`): the programs and manual pages go in orvane, each library in
# the package named after its SONAME.
include_guard(GLOBAL)

# Directories made by the install are 0755 whatever the umask of whoever
# builds; so are they inside the package.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(ORVANE_PROGRAMS chronel segdump glossel sonlift)

install(TARGETS ${ORVANE_PROGRAMS}
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The installed programs' RUNPATH: the libraries relative to bin/, written
# over the build tree's (see the top-level CMakeLists.txt).
foreach(program IN LISTS ORVANE_PROGRAMS)
  install(CODE "file(RPATH_SET FILE \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${program}\"
                   NEW_RPATH \"${ORVANE_INSTALL_RUNPATH}\")")
endforeach()

# Only the run-time files: libosmer.so.1.0.0 and its SONAME link
# libosmer.so.1.  No headers are installed, so no libosmer.so link for
# linking against them either.  Shared libraries are not executable (0644),
# as Debian wants them.
install(TARGETS osmer telmar varden
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
                PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
                NAMELINK_SKIP)

# A library finds the libraries it needs beside itself (the programs'
# RUNPATH, relative to bin/, does not serve the libraries' own needs), in
# the build tree as in an installed one.
set_target_properties(osmer telmar varden PROPERTIES INSTALL_RPATH "$ORIGIN"
                      BUILD_WITH_INSTALL_RPATH ON)

# Manual pages: man/NAME.1 is compressed with gzip -9n (no name, no time
# stamp, so the same page always gives the same bytes) into the build tree.
set(ORVANE_MAN_PAGES)
foreach(program IN LISTS ORVANE_PROGRAMS)
  set(source ${PROJECT_SOURCE_DIR}/man/${program}.1)
  set(copy ${PROJECT_BINARY_DIR}/man/${program}.1)
  add_custom_command(
    OUTPUT ${copy}.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${source} ${copy}
    COMMAND gzip -9nf ${copy}
    DEPENDS ${source}
    COMMENT "Compressing manual page ${program}.1"
    VERBATIM)
  list(APPEND ORVANE_MAN_PAGES ${copy}.gz)
endforeach()
add_custom_target(orvane_man ALL DEPENDS ${ORVANE_MAN_PAGES})
install(FILES ${ORVANE_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The install test installs into a temporary prefix, which needs relative
# install directories (absolute ones would write outside that prefix).
if(ORVANE_TESTS AND NOT IS_ABSOLUTE "${CMAKE_INSTALL_BINDIR}"
   AND NOT IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}" AND NOT IS_ABSOLUTE "${CMAKE_INSTALL_MANDIR}")
  add_subdirectory(${PROJECT_SOURCE_DIR}/tests/install ${PROJECT_BINARY_DIR}/tests/install)
endif()
