# Run at install time, after a component's files. The systemd unit names the installed paths rather
# than those the build was configured with. An install under /usr (the Debian packages, or
# cmake --install --prefix /usr) is fitted to the system: the libraries are on the loader's default
# path, so programs, modules and ostrel.pc lose their runpath; the configuration belongs in /etc,
# not /usr/etc.
# The unit names the paths the build was configured with; an install to another prefix
# (cmake --install --prefix) moves them. Made from the build's unit each time: this runs once per
# component, and a prefix that holds the one configured must not be added twice.
set(unit "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/lib/systemd/system/ostreld.service")
if(EXISTS "${unit}" AND EXISTS "${OSTREL_BUILT_UNIT}" AND NOT OSTREL_BUILD_PREFIX STREQUAL CMAKE_INSTALL_PREFIX)
  file(READ "${OSTREL_BUILT_UNIT}" text)
  if(OSTREL_BUILD_PREFIX STREQUAL "/usr")
    set(built_etc "/etc/ostrel/")
  else()
    set(built_etc "${OSTREL_BUILD_PREFIX}/etc/ostrel/")
  endif()
  if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
    set(etc "/etc/ostrel/")
  else()
    set(etc "${CMAKE_INSTALL_PREFIX}/etc/ostrel/")
  endif()
  string(REPLACE "${built_etc}" "${etc}" text "${text}")
  string(REPLACE "${OSTREL_BUILD_PREFIX}/bin/" "${CMAKE_INSTALL_PREFIX}/bin/" text "${text}")
  file(WRITE "${unit}" "${text}")
endif()

if(NOT CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  return()
endif()

foreach(file ${CMAKE_INSTALL_MANIFEST_FILES})
  if(file MATCHES "^/usr/(bin/[^/]+|lib/(ostrel/)?lib[^/]+\\.so(\\.[0-9.]+)?)$"
     AND NOT IS_SYMLINK "$ENV{DESTDIR}${file}")
    file(RPATH_REMOVE FILE "$ENV{DESTDIR}${file}")
  endif()
endforeach()

# A configuration file already in /etc is the administrator's: it stays as it is.
set(moved "")
foreach(folder ostrel ostreld)
  file(GLOB configs "$ENV{DESTDIR}/usr/etc/${folder}/*")
  foreach(config ${configs})
    get_filename_component(name "${config}" NAME)
    file(MAKE_DIRECTORY "$ENV{DESTDIR}/etc/${folder}")
    if(NOT EXISTS "$ENV{DESTDIR}/etc/${folder}/${name}")
      file(RENAME "${config}" "$ENV{DESTDIR}/etc/${folder}/${name}")
    endif()
  endforeach()
  if(configs)
    file(REMOVE_RECURSE "$ENV{DESTDIR}/usr/etc/${folder}")
    set(moved yes)
  endif()
endforeach()
# /usr/etc only when this emptied it: one that was there, empty, is another package's.
file(GLOB others "$ENV{DESTDIR}/usr/etc/*")
if(moved AND NOT others)
  file(REMOVE_RECURSE "$ENV{DESTDIR}/usr/etc")
endif()

# Programs built against the package find its libraries on the loader's default path: a runpath
# naming a system folder is one Debian forbids.
set(pc "$ENV{DESTDIR}/usr/lib/pkgconfig/ostrel.pc")
if(EXISTS "${pc}")
  file(READ "${pc}" text)
  string(REPLACE " -Wl,-rpath,\${libdir}" "" text "${text}")
  file(WRITE "${pc}" "${text}")
endif()
