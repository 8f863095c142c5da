# Run at install time, after a component's files: an install under /usr (the Debian packages, or
# cmake --install --prefix /usr) is fitted to the system. The libraries are on the loader's default
# path, so programs and modules lose their RUNPATH; the configuration belongs in /etc, not /usr/etc,
# and the systemd unit names the installed paths rather than those the build was configured with.
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
file(GLOB configs "$ENV{DESTDIR}/usr/etc/ostrel/*")
foreach(config ${configs})
  get_filename_component(name "${config}" NAME)
  file(MAKE_DIRECTORY "$ENV{DESTDIR}/etc/ostrel")
  if(NOT EXISTS "$ENV{DESTDIR}/etc/ostrel/${name}")
    file(RENAME "${config}" "$ENV{DESTDIR}/etc/ostrel/${name}")
  endif()
endforeach()
if(configs)
  file(REMOVE_RECURSE "$ENV{DESTDIR}/usr/etc/ostrel")
  file(GLOB others "$ENV{DESTDIR}/usr/etc/*")
  if(NOT others)
    file(REMOVE_RECURSE "$ENV{DESTDIR}/usr/etc")
  endif()
endif()

set(unit "$ENV{DESTDIR}/usr/lib/systemd/system/ostreld.service")
if(EXISTS "${unit}" AND NOT OSTREL_BUILD_PREFIX STREQUAL "/usr")
  file(READ "${unit}" text)
  string(REPLACE "${OSTREL_BUILD_PREFIX}/etc/" "/etc/" text "${text}")
  string(REPLACE "${OSTREL_BUILD_PREFIX}/" "/usr/" text "${text}")
  file(WRITE "${unit}" "${text}")
endif()
