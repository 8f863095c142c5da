# Shared rules for every Ostrel library and program: warnings, output places,
# installation and the exported CMake package.

set_property(GLOBAL PROPERTY OSTREL_LIBRARIES "")

function(ostrel_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
  # clang also checks the locking that the code declares (Corvel/ThreadSafety.h).
  if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:-Wthread-safety>)
  endif()
endfunction()

# ostrel_add_library(NAME
#   SOURCES ...            sources of the library
#   HEADERS ...            public headers, installed under include/<HEADER_DIR>
#   HEADER_DIR dir         folder name under include/ (default: NAME)
#   INCLUDE_ROOT dir       directory that holds HEADER_DIR (default: the repository root)
#   PUBLIC_LIBS ...        libraries whose headers the public headers include
#   PRIVATE_LIBS ...       everything else)
function(ostrel_add_library name)
  cmake_parse_arguments(A "" "HEADER_DIR;INCLUDE_ROOT" "SOURCES;HEADERS;PUBLIC_LIBS;PRIVATE_LIBS" ${ARGN})
  if(NOT A_HEADER_DIR)
    set(A_HEADER_DIR ${name})
  endif()
  if(NOT A_INCLUDE_ROOT)
    set(A_INCLUDE_ROOT ${PROJECT_SOURCE_DIR})
  endif()
  add_library(${name} SHARED ${A_SOURCES})
  add_library(Ostrel::${name} ALIAS ${name})
  target_include_directories(${name} PUBLIC
    $<BUILD_INTERFACE:${A_INCLUDE_ROOT}>
    $<INSTALL_INTERFACE:include>)
  target_link_libraries(${name} PUBLIC ${A_PUBLIC_LIBS} PRIVATE ${A_PRIVATE_LIBS})
  set_target_properties(${name} PROPERTIES
    VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
  ostrel_warnings(${name})
  # The versioned files go with the run-time package, the unversioned link and the headers with the
  # development one (cmake/Packaging.cmake).
  install(TARGETS ${name} EXPORT OstrelTargets
    LIBRARY DESTINATION lib COMPONENT libostrel5 NAMELINK_COMPONENT libostrel-dev
    ARCHIVE DESTINATION lib COMPONENT libostrel-dev
    RUNTIME DESTINATION bin COMPONENT libostrel5)
  if(A_HEADERS)
    install(FILES ${A_HEADERS} DESTINATION include/${A_HEADER_DIR} COMPONENT libostrel-dev)
  endif()
  set_property(GLOBAL APPEND PROPERTY OSTREL_LIBRARIES ${name})
endfunction()

# A module loaded with the dynamic loader at run time (driver or plug-in): not
# linked by anybody, installed in lib/ostrel when INSTALL is given. It has no soname, so it stays out
# of the loader's directory; VeskDal and ostrel-admin look there first.
function(ostrel_add_module name)
  cmake_parse_arguments(A "INSTALL" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} MODULE ${A_SOURCES})
  target_link_libraries(${name} PRIVATE ${A_LIBS})
  ostrel_warnings(${name})
  if(A_INSTALL)
    install(TARGETS ${name} LIBRARY DESTINATION lib/ostrel COMPONENT libostrel5)
  endif()
endfunction()

function(ostrel_add_program name)
  cmake_parse_arguments(A "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  target_link_libraries(${name} PRIVATE ${A_LIBS})
  ostrel_warnings(${name})
  # The component is the folder's (CMAKE_INSTALL_DEFAULT_COMPONENT_NAME, set in the top CMakeLists.txt).
  install(TARGETS ${name} RUNTIME DESTINATION bin)
endfunction()

function(ostrel_install_package)
  include(CMakePackageConfigHelpers)
  install(EXPORT OstrelTargets NAMESPACE Ostrel:: DESTINATION lib/cmake/Ostrel COMPONENT libostrel-dev)
  configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/OstrelConfig.cmake.in
    ${PROJECT_BINARY_DIR}/OstrelConfig.cmake INSTALL_DESTINATION lib/cmake/Ostrel)
  write_basic_package_version_file(${PROJECT_BINARY_DIR}/OstrelConfigVersion.cmake
    VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
  install(FILES ${PROJECT_BINARY_DIR}/OstrelConfig.cmake ${PROJECT_BINARY_DIR}/OstrelConfigVersion.cmake
    DESTINATION lib/cmake/Ostrel COMPONENT libostrel-dev)

  # pkg-config: the public libraries, the ones that depend on others first.
  get_property(libs GLOBAL PROPERTY OSTREL_LIBRARIES)
  file(WRITE ${PROJECT_BINARY_DIR}/ostrel-libraries.txt "${libs}")
  list(REVERSE libs)
  set(OSTREL_PC_LIBS "")
  foreach(lib ${libs})
    string(APPEND OSTREL_PC_LIBS " -l${lib}")
  endforeach()
  configure_file(${PROJECT_SOURCE_DIR}/cmake/ostrel.pc.in ${PROJECT_BINARY_DIR}/ostrel.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/ostrel.pc DESTINATION lib/pkgconfig COMPONENT libostrel-dev)
endfunction()
