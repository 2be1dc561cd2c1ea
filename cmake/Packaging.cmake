# Desktop entry, metainfo, icons, manual pages, copyright and changelog,
# device access rule and the Debian package. Everything installed here belongs
# to the component "utility", next to the executables (app/ and cli/).
include(GNUInstallDirs)

set(ZARN_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)

# Installs a text compressed as Debian installs manual pages and changelogs:
# gzip -9, and -n so that neither the name nor the time goes in and the
# package comes out the same on every build.
file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/gzipped)
function(zarn_install_gzipped source destination)
  get_filename_component(name ${source} NAME)
  set(gzipped ${PROJECT_BINARY_DIR}/gzipped/${name}.gz)
  add_custom_command(OUTPUT ${gzipped}
    COMMAND gzip -9 -n -c ${source} > ${gzipped}
    DEPENDS ${source} VERBATIM)
  add_custom_target(zarn-gzipped-${name} ALL DEPENDS ${gzipped})
  install(FILES ${gzipped} DESTINATION ${destination} COMPONENT utility)
endfunction()

zarn_install_gzipped(${ZARN_PACKAGING_DIR}/man/zarn-update-utility.1 ${CMAKE_INSTALL_MANDIR}/man1)
zarn_install_gzipped(${ZARN_PACKAGING_DIR}/man/zarn-update.1 ${CMAKE_INSTALL_MANDIR}/man1)
# A native package: the changelog is changelog.gz, beside the copyright file.
set(ZARN_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/zarn-update-utility)
zarn_install_gzipped(${ZARN_PACKAGING_DIR}/debian/changelog ${ZARN_DOC_DIR})
install(FILES ${ZARN_PACKAGING_DIR}/debian/copyright DESTINATION ${ZARN_DOC_DIR} COMPONENT utility)

install(FILES ${ZARN_PACKAGING_DIR}/zarn-update-utility.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT utility)
install(FILES ${ZARN_PACKAGING_DIR}/example.velmora.zarn_update_utility.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT utility)

# The PNGs are rendered from the SVG by packaging/make-icons.sh; the same
# sizes are compiled into the program as its fallback icon (app/icons.qrc).
foreach(size 16 22 24 32 48 64 128 256)
  install(FILES ${ZARN_PACKAGING_DIR}/icons/zarn-update-utility-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME zarn-update-utility.png COMPONENT utility)
endforeach()
install(FILES ${ZARN_PACKAGING_DIR}/icons/zarn-update-utility.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT utility)

# A stripped install (cmake --install --strip, or CPack with
# CPACK_STRIP_FILES) still has the compiler's .comment and .note sections,
# which Debian's own packages drop as well. Runs after the executables are
# installed and stripped, since this file comes after app/ and cli/.
install(CODE "set(ZARN_STRIP \"${CMAKE_STRIP}\")\nset(ZARN_BINDIR \"${CMAKE_INSTALL_BINDIR}\")" COMPONENT utility)
install(CODE [[
  if(CMAKE_INSTALL_DO_STRIP)
    foreach(program zarn-update-utility zarn-update)
      execute_process(COMMAND "${ZARN_STRIP}" --remove-section=.comment --remove-section=.note
                              "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${ZARN_BINDIR}/${program}"
                      RESULT_VARIABLE failed)
      if(NOT failed EQUAL 0)
        message(FATAL_ERROR "${ZARN_STRIP} could not remove the notes of ${program}")
      endif()
    endforeach()
  endif()
]] COMPONENT utility)

# udev reads lib/udev/rules.d under /usr and /usr/local alike; the multiarch
# library directory would not do here.
install(FILES ${ZARN_PACKAGING_DIR}/60-zarn.rules DESTINATION lib/udev/rules.d COMPONENT utility)

# Where a site puts the certificates it trusts for update files, and where a
# release ships its own: created empty, read by the utility at these fixed
# places whatever the install prefix (provenance/provenance.cpp).
install(DIRECTORY DESTINATION /etc/zarn-update-utility/trusted COMPONENT utility)
install(DIRECTORY DESTINATION /usr/share/zarn-update-utility/trusted COMPONENT utility)
# lintian notes the empty directory under /usr/share; it is meant to be empty.
install(FILES ${ZARN_PACKAGING_DIR}/debian/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
        RENAME zarn-update-utility COMPONENT utility)

# The journal of the flash, where both programs keep every operator's updates
# for every other one and for root at boot: the group zarn's, set-group-ID, so
# that what any member makes in it stays the group's. A plain install makes it
# here; the Debian package makes it in its maintainer scripts instead (and
# removes it on purge only), so it is not among the package's files, and an
# install into DESTDIR leaves it to whoever packages that.
install(CODE [[
  set(journal /var/lib/zarn-update-utility)
  if("$ENV{DESTDIR}" STREQUAL "")
    file(MAKE_DIRECTORY ${journal})
    execute_process(COMMAND getent group zarn OUTPUT_QUIET RESULT_VARIABLE no_group)
    if(no_group)
      # Root's alone: other users' programs say so and keep a history of their own.
      message(WARNING "There is no group zarn: ${journal} is written by root alone. "
                      "Create the group (groupadd --system zarn) and install again.")
      set(owners root:root)
      set(mode 0755)
    else()
      set(owners root:zarn)
      set(mode 2770)
    endif()
    # The history root kept there in earlier releases goes to the group too.
    foreach(folder ${journal}/history ${journal})
      if(IS_DIRECTORY ${folder} AND NOT IS_SYMLINK ${folder})
        execute_process(COMMAND chown ${owners} ${folder} RESULT_VARIABLE failed)
        if(NOT failed)
          execute_process(COMMAND chmod ${mode} ${folder} RESULT_VARIABLE failed)
        endif()
        if(failed)
          message(FATAL_ERROR "${folder} could not be given to ${owners} with mode ${mode}")
        endif()
      endif()
    endforeach()
  endif()
]] COMPONENT utility)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zarn-update-utility)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Velmora)
set(CPACK_PACKAGE_CONTACT "Velmora ZARN support <zarn-support@velmora.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "programs the flash memory of a ZARN system")
# dpkg shows the long description as it is: lines stay under 80 characters.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
       "The ZARN Update Utility shows the versions installed on a ZARN system,\n"
       "lists the images of an update file (.zarnru) and writes them to the\n"
       "flash memory through the ZARN kernel driver, reading every image back\n"
       "and repairing what differs. Update files signed by a certificate the\n"
       "site trusts, or carrying a checksum, are verified before the flash is\n"
       "touched.\n"
       ".\n"
       "The package gives the group zarn read-write access to the driver's\n"
       "device nodes: operators in that group run the utility without root.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# Only the product's component, whatever else a build directory installs.
set(CPACK_INSTALL_CMAKE_PROJECTS "${PROJECT_BINARY_DIR};${PROJECT_NAME};utility;/")

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The maintainer scripts create the group with groupadd; the toolkit's own
# translations give the standard buttons of a translated box the same language.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "passwd, qttranslations5-l10n")
find_program(ZARN_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(ZARN_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  # Without dpkg-dev the library packages are named by hand, without versions.
  string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS
         ", libc6, libstdc++6, libqt5core5a, libqt5dbus5, libqt5gui5 | libqt5gui5-gles, libqt5widgets5, libssl3")
endif()
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${ZARN_PACKAGING_DIR}/debian/postinst ${ZARN_PACKAGING_DIR}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)

include(CPack)
