# The Debian package: after a release build, `cpack -G DEB` in the build
# folder makes orvit_VERSION_ARCH.deb, which installs under /usr what
# `cmake --install` installs (the programs, the module, the demo scene, the
# Blender add-on's zip) and the man page. Its Depends come from the shared
# libraries the programs and the module link (dpkg-shlibdeps).
if(NOT TARGET orvit OR CMAKE_CROSSCOMPILING)
  return()
endif()

# The man page, from the built program's own help.
find_package(Python3 COMPONENTS Interpreter QUIET)
if(Python3_Interpreter_FOUND)
  set(ORVIT_MAN_PAGE ${PROJECT_BINARY_DIR}/orvit.1)
  add_custom_command(OUTPUT ${ORVIT_MAN_PAGE}.gz
    COMMAND ${CMAKE_CURRENT_LIST_DIR}/man-page $<TARGET_FILE:orvit> ${PROJECT_VERSION}
            ${ORVIT_MAN_PAGE}
    COMMAND gzip -9nf ${ORVIT_MAN_PAGE}
    DEPENDS orvit ${CMAKE_CURRENT_LIST_DIR}/man-page)
  add_custom_target(orvit_man_page ALL DEPENDS ${ORVIT_MAN_PAGE}.gz)
  include(GNUInstallDirs)
  install(FILES ${ORVIT_MAN_PAGE}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  # orvit-headless has the same page.
  file(WRITE ${PROJECT_BINARY_DIR}/orvit-headless.1 ".so man1/orvit.1\n")
  install(FILES ${PROJECT_BINARY_DIR}/orvit-headless.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orvit)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_CONTACT "Orvit <orvit@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "glow image-filter module for a 3D renderer host, and the program that plays the host")
# The summary is the first line; these lines follow it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Orvit.p adds a coloured, gradient glow around the pixels of chosen surfaces of
every rendered frame. orvit loads it as its host would: it reads a renderer's
passes (colour, depth, an object index or Cryptomatte) from EXR, PNG or TIFF
files, renders frames and sequences, opens the module's settings panel in a
window and runs sequences on a Slurm farm; orvit-headless does the same
without a display. With the demo scene and a Blender add-on.")
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_OUTPUT_FILE_PREFIX ${PROJECT_BINARY_DIR}/packages)
include(CPack)
