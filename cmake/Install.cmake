# Installation: the library with a versioned SONAME, its public headers under
# include/veskar (included as "engine/M_RSST.h", as inside the source tree), a
# CMake package (Veskar::Veskar), a pkg-config file, Dornick with a relative
# RPATH, its man page, the licence, and a Debian package through CPack.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# Every header a program needs to include any exported class; keep it in step
# with the headers' own includes (scripts/check-install.sh builds a program against them).
set(VESKAR_PUBLIC_HEADERS
  color/ColorElements.h
  color/MotionElements.h
  color/T_ColorConverter.h
  storage/Report.h
  storage/S_CImageStorage.h
  storage/S_ImageStorage.h
  storage/S_RegionStorage.h
  storage/T_Array.h
  storage/T_AtomicFile.h
  engine/M_RSST.h
  engine/PAM_RSST.h
  engine/Veskar.h
  engine/descriptors/CLUVColorModel.h
  engine/descriptors/CRSSTContour.h)
set(VESKAR_INCLUDE_DIR ${CMAKE_INSTALL_INCLUDEDIR}/veskar)

set_target_properties(Veskar PROPERTIES
  VERSION ${PROJECT_VERSION}
  SOVERSION ${PROJECT_VERSION_MAJOR})
target_include_directories(Veskar INTERFACE $<INSTALL_INTERFACE:${VESKAR_INCLUDE_DIR}>)
set_target_properties(Dornick PROPERTIES INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")

install(TARGETS Veskar EXPORT VeskarTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${VESKAR_INCLUDE_DIR})
install(TARGETS Dornick RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
foreach(header IN LISTS VESKAR_PUBLIC_HEADERS)
  get_filename_component(folder ${header} DIRECTORY)
  install(FILES ${PROJECT_SOURCE_DIR}/${header} DESTINATION ${VESKAR_INCLUDE_DIR}/${folder})
endforeach()
install(FILES ${PROJECT_BINARY_DIR}/veskar_export.h DESTINATION ${VESKAR_INCLUDE_DIR})
# The man page compressed and the licence as a copyright file, where Debian's
# tools look for them.
find_program(VESKAR_GZIP gzip REQUIRED)
set(VESKAR_MAN_PAGE ${PROJECT_BINARY_DIR}/Dornick.1.gz)
add_custom_command(OUTPUT ${VESKAR_MAN_PAGE}
  COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/docs/Dornick.1 ${PROJECT_BINARY_DIR}/Dornick.1
  COMMAND ${VESKAR_GZIP} -9 -n -f ${PROJECT_BINARY_DIR}/Dornick.1
  DEPENDS ${PROJECT_SOURCE_DIR}/docs/Dornick.1)
add_custom_target(veskar_man_page ALL DEPENDS ${VESKAR_MAN_PAGE})
install(FILES ${VESKAR_MAN_PAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
file(READ ${PROJECT_SOURCE_DIR}/LICENSE VESKAR_LICENSE_TEXT)
file(WRITE ${PROJECT_BINARY_DIR}/copyright
  "veskar: the Veskar library, its headers and the Dornick program.\n\n"
  "Copyright: the Veskar developers\nLicense: BSD-3-Clause\n\n${VESKAR_LICENSE_TEXT}")
install(FILES ${PROJECT_BINARY_DIR}/copyright DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/veskar)

set(VESKAR_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Veskar)
install(EXPORT VeskarTargets NAMESPACE Veskar:: DESTINATION ${VESKAR_CMAKE_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/VeskarConfig.cmake.in
  ${PROJECT_BINARY_DIR}/VeskarConfig.cmake INSTALL_DESTINATION ${VESKAR_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/VeskarConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/VeskarConfig.cmake ${PROJECT_BINARY_DIR}/VeskarConfigVersion.cmake
  DESTINATION ${VESKAR_CMAKE_DIR})

# The pkg-config file finds the prefix from its own place, so an installation may be moved
# (or made with cmake --install --prefix) without rewriting it.
file(RELATIVE_PATH VESKAR_PC_TO_PREFIX "/root/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/root")
string(REGEX REPLACE "/$" "" VESKAR_PC_TO_PREFIX "${VESKAR_PC_TO_PREFIX}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/veskar.pc.in ${PROJECT_BINARY_DIR}/veskar.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/veskar.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

set(CPACK_PACKAGE_NAME veskar)
set(CPACK_PACKAGE_VENDOR "Veskar developers")
set(CPACK_PACKAGE_CONTACT "Veskar developers <veskar@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Colour image segmentation library (Veskar) and its console program Dornick")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
# Dependencies (libMagickCore, libstdc++) read from the binaries themselves.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
