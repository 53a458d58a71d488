# Debian packages of the Linux tools (cpack, from a package build: see
# scripts/package.sh). Two packages, one per component:
#   ruvo-flash  the command-line updater, its udev rule, man page, completion
#   ruvo-pack   the publisher tool, with the nginx sample as an example
# Dependencies come from dpkg-shlibdeps, never written by hand; debug
# information goes into -dbgsym packages and the binaries are stripped.
if(WIN32)
  return()
endif()

set(RUVO_MAINTAINER "The RUVO authors <ruvo@example.org>")

# A changelog and a copyright file in each package's doc folder, as Debian
# asks of every package.
set(changelog_dir ${CMAKE_BINARY_DIR}/packaging/changelog)
string(TIMESTAMP changelog_date "%a, %d %b %Y 00:00:00 +0000" UTC)
foreach(package ruvo-flash ruvo-pack)
  file(MAKE_DIRECTORY ${changelog_dir}/${package})
  file(WRITE ${changelog_dir}/${package}/changelog.Debian
       "${package} (${PROJECT_VERSION}-1) unstable; urgency=medium\n\n"
       "  * Release ${PROJECT_VERSION}.\n\n"
       " -- ${RUVO_MAINTAINER}  ${changelog_date}\n")
  execute_process(COMMAND gzip -9nf ${changelog_dir}/${package}/changelog.Debian RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "gzip failed on the ${package} changelog")
  endif()
  install(FILES ${changelog_dir}/${package}/changelog.Debian.gz ${PROJECT_SOURCE_DIR}/packaging/debian/copyright
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${package})
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ruvo)
set(CPACK_PACKAGE_VENDOR "The RUVO authors")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${RUVO_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ruvo-flash ruvo-pack)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_DEBUGINFO_PACKAGE ON)
# The -dbgsym packages take the debug information out and strip the binaries.

set(CPACK_DEBIAN_RUVO-FLASH_PACKAGE_NAME ruvo-flash)
set(CPACK_DEBIAN_RUVO-FLASH_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_RUVO-FLASH_DESCRIPTION "firmware updater for RUVO USB devices (0416:F362)
ruvo-flash lists the RUVO devices plugged in, shows what the update server
offers for them and updates their firmware: one device or a whole bench at
once, with a progress bar or JSON events. Signed releases are checked before
anything is erased.

The package installs a udev rule that gives the user at the seat, and the
plugdev group, access to the device's hidraw node.")
set(CPACK_DEBIAN_RUVO-FLASH_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/packaging/debian/ruvo-flash/postinst ${PROJECT_SOURCE_DIR}/packaging/debian/ruvo-flash/postrm)

set(CPACK_DEBIAN_RUVO-PACK_PACKAGE_NAME ruvo-pack)
set(CPACK_DEBIAN_RUVO-PACK_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_RUVO-PACK_DESCRIPTION "publisher tool for RUVO firmware releases
ruvo-pack builds the catalogue and image packages of a RUVO firmware
release, checks them as the updaters do, signs release statements, and
publishes releases into a server folder that a web server such as nginx
serves (a sample configuration is included), with refresh and rollback.")

# A build that talks to the loopback test server is marked in its file names.
if(RUVO_UPDATE_BASE_URL MATCHES "^https?://(127\\.0\\.0\\.1|localhost)[:/]")
  set(not_for_release "-not-for-release")
else()
  set(not_for_release "")
endif()
execute_process(COMMAND dpkg --print-architecture OUTPUT_VARIABLE deb_arch OUTPUT_STRIP_TRAILING_WHITESPACE
                ERROR_QUIET)
if(deb_arch)
  foreach(package ruvo-flash ruvo-pack)
    string(TOUPPER ${package} upper)
    set(CPACK_DEBIAN_${upper}_FILE_NAME
        "${package}_${PROJECT_VERSION}-1_${deb_arch}${not_for_release}.deb")
  endforeach()
endif()

include(CPack)
