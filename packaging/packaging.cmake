# The Debian package: the program, every tool, the camera simulator's GenICam description, a
# desktop entry with its icon, and a manual page for each (the tools' pages come from their
# --help). `make package` builds it; the dependencies come from the libraries the build links.
set(tresvik_programs tresvik tresvik-db tresvik-camsim tresvik-odometer-sim tresvik-coord-sim
  tresvik-client)
install(TARGETS ${tresvik_programs} RUNTIME DESTINATION bin)
install(FILES ${CMAKE_SOURCE_DIR}/tools/camsim/tresvik-camsim.xml DESTINATION share/tresvik)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/tresvik.desktop DESTINATION share/applications)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/tresvik.svg
  DESTINATION share/icons/hicolor/scalable/apps)

find_program(HELP2MAN help2man)
configure_file(${CMAKE_CURRENT_LIST_DIR}/tresvik.1.in ${CMAKE_BINARY_DIR}/man/tresvik.1 @ONLY)
set(manual_pages ${CMAKE_BINARY_DIR}/man/tresvik.1)
foreach(tool IN LISTS tresvik_programs)
  if(NOT tool STREQUAL "tresvik" AND HELP2MAN)
    set(page ${CMAKE_BINARY_DIR}/man/${tool}.1)
    add_custom_command(OUTPUT ${page}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
      COMMAND ${HELP2MAN} --no-info --no-discard-stderr --version-string=${PROJECT_VERSION}
        --name=${tool} --output=${page} $<TARGET_FILE:${tool}>
      DEPENDS ${tool} VERBATIM)
    list(APPEND manual_pages ${page})
  endif()
endforeach()
add_custom_target(manual_pages ALL DEPENDS ${manual_pages})
install(FILES ${manual_pages} DESTINATION share/man/man1)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tresvik)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Tresvik developers <tresvik@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Under-car video recorder for railway cars")
set(CPACK_PACKAGE_DESCRIPTION "Records under-car video from a GigE camera on odometer counts \
into leveldb session databases, serves frames over TCP as PNG and status over UDP; with \
simulators of the camera, the odometer and the coordinate server, and tools for the sessions.")
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The archive's transport, run as a child process; added to the libraries' dependencies.
set(CPACK_DEBIAN_PACKAGE_DEPENDS rclone)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
