# Installation (make install PREFIX=..., or cmake --install build --prefix ...) and the Debian
# package (make package: CPack installs the same rules into /usr):
#
#   lib/kvo/              the programs, kept together: each finds the others in its own folder
#   bin/KVOProcess        a link to lib/kvo/KVOProcess, for the operator's PATH
#   share/kvo/examples/   commented samples of console.ini and ZRT.ini
#   share/doc/kvo/        the README
#   the service unit      /lib/systemd/system/kvo.service when installed into /usr (the
#                         package); under any other prefix share/kvo/kvo.service, for
#                         `systemctl link`
#
# Nothing is installed into /etc: the operator's configuration there is never touched.

get_property(kvo_programs GLOBAL PROPERTY KVO_PROGRAMS)
install(TARGETS ${kvo_programs} RUNTIME DESTINATION lib/kvo)
install(FILES packaging/console.ini packaging/ZRT.ini DESTINATION share/kvo/examples)
install(FILES README.md DESTINATION share/doc/kvo)
install(CODE "set(kvo_unit_template \"${CMAKE_SOURCE_DIR}/packaging/kvo.service.in\")")
install(CODE [[
  file(MAKE_DIRECTORY "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/bin")
  file(CREATE_LINK ../lib/kvo/KVOProcess "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/bin/KVOProcess" SYMBOLIC)
  message(STATUS "Installing: $ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/bin/KVOProcess")

  if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
    set(unit_dir "/lib/systemd/system")
  else()
    set(unit_dir "${CMAKE_INSTALL_PREFIX}/share/kvo")
  endif()
  file(READ "${kvo_unit_template}" unit)
  string(REPLACE "@PREFIX@" "${CMAKE_INSTALL_PREFIX}" unit "${unit}")
  file(WRITE "$ENV{DESTDIR}${unit_dir}/kvo.service" "${unit}")
  message(STATUS "Installing: $ENV{DESTDIR}${unit_dir}/kvo.service")
]])

# The package's version moves with every commit, so that installing a newer build's package
# upgrades the one installed.
execute_process(COMMAND git rev-list --count HEAD WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
                OUTPUT_VARIABLE kvo_commits OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
if(kvo_commits)
  string(APPEND CPACK_PACKAGE_VERSION "+${kvo_commits}")
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kvo)
# The install rules see the real prefix (/usr) and place the unit by it.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "KVO searchable attachments <root@localhost>")
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "makes the scanned attachments of a practice database searchable")
set(CPACK_PACKAGE_DESCRIPTION "A batch service that takes each attachment (PDF, TIFF and fax files, BMP, JPEG, GIF) \
listed in the host's practice-management database, recognises its pages with Tesseract and stores a \
searchable PDF beside it, keeping its work queue in the host's SQL Server database.")
# The shared libraries the programs link come from dpkg-shlibdeps; these are what they run or
# read at run time.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "adduser, ghostscript, tesseract-ocr-eng, tesseract-ocr-osd, tdsodbc, unixodbc, fonts-liberation, fonts-urw-base35")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_SOURCE_DIR}/packaging/debian/postinst
    ${CMAKE_SOURCE_DIR}/packaging/debian/prerm
    ${CMAKE_SOURCE_DIR}/packaging/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
