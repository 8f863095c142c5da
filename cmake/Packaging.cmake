# Debian packages from one build (cpack -G DEB in the build folder; scripts/package-test.sh builds,
# checks, installs and purges them):
#   ostrel-common   the clients' machine-wide settings file (no library package may hold a file whose
#                   name stays the same from one soname to the next)
#   libostrel5      the shared libraries, the database driver modules and the authentication plug-ins
#   libostrel-dev   headers, the CMake package Ostrel and ostrel.pc
#   ostreld         the daemon, its systemd unit, /etc/ostrel/ostreld.conf and the system user
#   ostrel-tools    ostrel and ostrel-admin (with the schema files that init reads)
# Each install() of the tree names one of these as its component.

set(OSTREL_DEB_RELEASE 1)
set(OSTREL_DEB_VERSION ${PROJECT_VERSION}-${OSTREL_DEB_RELEASE})
set(OSTREL_DEB_MAINTAINER "Ostrel maintainers <maintainers@users.noreply.c-seed-a68a9d6c.example>")
set(OSTREL_DEB_DIR ${PROJECT_SOURCE_DIR}/packaging/debian)
set(OSTREL_DEB_PACKAGES ostrel-common libostrel5 libostrel-dev ostreld ostrel-tools)

# changelog.Debian.gz and copyright in every package's doc folder, compressed as Debian wants it
# (gzip -9n: no name or time stamp, so the same build gives the same bytes).
configure_file(${OSTREL_DEB_DIR}/changelog.in ${PROJECT_BINARY_DIR}/packaging/changelog.Debian @ONLY)
execute_process(COMMAND gzip -9n -c ${PROJECT_BINARY_DIR}/packaging/changelog.Debian
  OUTPUT_FILE ${PROJECT_BINARY_DIR}/packaging/changelog.Debian.gz RESULT_VARIABLE gzip_status)
if(NOT gzip_status EQUAL 0)
  message(FATAL_ERROR "gzip -9n of the Debian changelog failed")
endif()
foreach(package ${OSTREL_DEB_PACKAGES})
  install(FILES ${PROJECT_BINARY_DIR}/packaging/changelog.Debian.gz ${OSTREL_DEB_DIR}/copyright
    DESTINATION share/doc/${package} COMPONENT ${package})
endforeach()

# Installed under /usr, the programs and modules find the libraries on the loader's default path, so
# they carry no RUNPATH (Debian forbids one there), and the configuration goes to /etc.
foreach(package ${OSTREL_DEB_PACKAGES})
  install(CODE "set(OSTREL_BUILD_PREFIX \"${CMAKE_INSTALL_PREFIX}\")
set(OSTREL_BUILT_UNIT \"${PROJECT_BINARY_DIR}/daemon/ostreld.service\")" COMPONENT ${package})
  install(SCRIPT ${PROJECT_SOURCE_DIR}/cmake/InstallUnderUsr.cmake COMPONENT ${package})
endforeach()

# cpack packs what the build made; it does not build the whole tree (tests and benchmarks included)
# first. The programs, libraries and modules are built by the time anyone packs.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ostrel)
set(CPACK_PACKAGE_VENDOR "The Ostrel developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${OSTREL_DEB_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_PREFIX /usr)
# Staged with DESTDIR and the prefix /usr itself, so that the install rules see the real prefix
# (cmake/InstallUnderUsr.cmake) and /etc/ostrel, outside it, lands in the package too.
set(CPACK_SET_DESTDIR ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ${OSTREL_DEB_PACKAGES})
set(CPACK_COMPONENTS_GROUPING IGNORE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${OSTREL_DEB_RELEASE})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The shlibs file of libostrel5 (only it has libraries with a soname): programs built against it need
# this version or a later one of the same soname.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The programs and modules need Ostrel's own libraries, which are in no installed package yet:
# dpkg-shlibdeps finds them in the build, and the dependency on them is the component's, libostrel5
# of the same version.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/lib)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)

set(CPACK_DEBIAN_LIBOSTREL5_PACKAGE_NAME libostrel5)
set(CPACK_DEBIAN_LIBOSTREL5_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_OSTREL-COMMON_PACKAGE_NAME ostrel-common)
set(CPACK_DEBIAN_OSTREL-COMMON_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_OSTREL-COMMON_PACKAGE_ARCHITECTURE all)
set(CPACK_DEBIAN_OSTREL-COMMON_PACKAGE_SHLIBDEPS OFF)
set(CPACK_DEBIAN_OSTREL-COMMON_PACKAGE_CONTROL_EXTRA ${OSTREL_DEB_DIR}/ostrel-common/conffiles)
set(CPACK_COMPONENT_OSTREL-COMMON_DESCRIPTION "Ostrel authentication and authorisation framework - common files
Ostrel answers two questions for applications: is this user who he
claims to be, and which roles and permissions does he hold for a product.
.
This package holds the clients' machine-wide settings file
/etc/ostreld/rcostrel, with no setting in it yet: root's
\"ostrel config --set-service HOST\" fills it in.")

set(CPACK_DEBIAN_LIBOSTREL5_PACKAGE_CONTROL_EXTRA ${OSTREL_DEB_DIR}/libostrel5/triggers)
set(CPACK_COMPONENT_LIBOSTREL5_DEPENDS ostrel-common)
set(CPACK_COMPONENT_LIBOSTREL5_DESCRIPTION "Ostrel authentication and authorisation framework - libraries
Ostrel answers two questions for applications: is this user who he
claims to be, and which roles and permissions does he hold for a product.
.
This package holds the shared libraries (model, database access, XML
client, client settings, C API), the database driver modules for SQLite,
PostgreSQL and MariaDB/MySQL and the SQL password and LDAP directory
authentication plug-ins.")

set(CPACK_DEBIAN_LIBOSTREL-DEV_PACKAGE_NAME libostrel-dev)
set(CPACK_DEBIAN_LIBOSTREL-DEV_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_LIBOSTREL-DEV_DEPENDS libostrel5)
# The crypto layer's header declares its bridges to OpenSSL's numbers.
set(CPACK_DEBIAN_LIBOSTREL-DEV_PACKAGE_DEPENDS "libssl-dev")
set(CPACK_COMPONENT_LIBOSTREL-DEV_DESCRIPTION "Ostrel authentication and authorisation framework - development files
Ostrel answers two questions for applications: is this user who he
claims to be, and which roles and permissions does he hold for a product.
.
This package holds the headers, the CMake package Ostrel and the
pkg-config file ostrel.pc.")

set(CPACK_DEBIAN_OSTRELD_PACKAGE_NAME ostreld)
set(CPACK_DEBIAN_OSTRELD_PACKAGE_SECTION net)
set(CPACK_DEBIAN_OSTRELD_PACKAGE_DEPENDS "adduser")
set(CPACK_COMPONENT_OSTRELD_DEPENDS libostrel5)
set(CPACK_DEBIAN_OSTRELD_PACKAGE_CONTROL_EXTRA ${OSTREL_DEB_DIR}/ostreld/conffiles
  ${OSTREL_DEB_DIR}/ostreld/postinst ${OSTREL_DEB_DIR}/ostreld/prerm ${OSTREL_DEB_DIR}/ostreld/postrm)
set(CPACK_COMPONENT_OSTRELD_DESCRIPTION "Ostrel authentication and authorisation daemon
ostreld serves Ostrel's clients: it loads the organisational model from
an SQLite, PostgreSQL or MariaDB/MySQL database and answers logins,
session and authorisation requests over TLS, TCP or unix sockets.
.
The package holds the daemon, its systemd unit and its configuration file
/etc/ostrel/ostreld.conf, and makes the system user ostrel with the state
folder /var/lib/ostrel.")

set(CPACK_DEBIAN_OSTREL-TOOLS_PACKAGE_NAME ostrel-tools)
set(CPACK_DEBIAN_OSTREL-TOOLS_PACKAGE_SECTION admin)
set(CPACK_COMPONENT_OSTREL-TOOLS_DEPENDS libostrel5)
set(CPACK_COMPONENT_OSTREL-TOOLS_DESCRIPTION "Ostrel authentication and authorisation tools
ostrel logs a user in through ostreld and tests the roles and permissions
his session holds; ostrel-admin creates the database schema and
administers customers, domains, users, teams, products, roles,
permissions, grants and profiles.")

include(CPack)
