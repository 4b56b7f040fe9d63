# What `cmake --install` and the Debian package carry: the four programs in
# bin/ with their man pages, the platform library and the handheld's program
# pair in a private folder that the programs find relative to themselves, the
# device ROM, the Wireshark dissector and the README. Nothing built for tests
# or benchmarks.

set(VX_INSTALL_PRIVATE_DIR lib/vxtanks)
set(VX_INSTALL_DATA_DIR share/vxtanks)
set(VX_INSTALL_DOC_DIR share/doc/vxtanks)

# The launcher looks for its default programs beside itself, then here.
file(RELATIVE_PATH vx_programs_from_bin /bin /${VX_INSTALL_PRIVATE_DIR})
target_compile_definitions(vx-handheld PRIVATE VX_INSTALLED_PROGRAM_DIR="${vx_programs_from_bin}")
set_target_properties(vx-handheld PROPERTIES INSTALL_RPATH "$ORIGIN/${vx_programs_from_bin}")
set_target_properties(arm9_program arm7_program PROPERTIES INSTALL_RPATH "$ORIGIN")

install(TARGETS vxPCClient vx-server vx-handheld vx-romtool RUNTIME DESTINATION bin)
install(TARGETS vxplatform arm9_program arm7_program LIBRARY DESTINATION ${VX_INSTALL_PRIVATE_DIR})
install(FILES ${PROJECT_SOURCE_DIR}/tools/wireshark/vx.lua DESTINATION ${VX_INSTALL_DATA_DIR}/wireshark)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${VX_INSTALL_DOC_DIR})

# Man pages made from each program's --help and --version by help2man, so
# they cannot drift from the programs.
find_program(VX_HELP2MAN help2man)
if(NOT VX_HELP2MAN)
  message(FATAL_ERROR "The man pages are made with help2man: apt-get install help2man (scripts/setup.sh lists it)")
endif()
set(vx_man_pages "")
foreach(entry IN ITEMS
        "vxPCClient|desktop client of the vx tank game"
        "vx-server|local game server for the vx tank clients"
        "vx-handheld|run the vx tank handheld client on a simulated handheld"
        "vx-romtool|pack two handheld programs into a ROM image")
  string(REPLACE "|" ";" entry "${entry}")
  list(GET entry 0 program)
  list(GET entry 1 summary)
  set(page ${CMAKE_BINARY_DIR}/man/${program}.1)
  add_custom_command(OUTPUT ${page}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND ${VX_HELP2MAN} --no-info --section 1 --name ${summary} --output ${page}
            $<TARGET_FILE:${program}>
    COMMAND gzip -9nf ${page}
    DEPENDS ${program}
    COMMENT "Man page of ${program}" VERBATIM)
  list(APPEND vx_man_pages ${page}.gz)
endforeach()
add_custom_target(man_pages ALL DEPENDS ${vx_man_pages})
install(FILES ${vx_man_pages} DESTINATION share/man/man1)

# The ROM image comes from the device preset's build (VX_PACKAGE_ROM).
if(VX_PACKAGE_ROM)
  install(CODE "
    if(NOT EXISTS [[${VX_PACKAGE_ROM}]])
      message(FATAL_ERROR \"No device ROM at ${VX_PACKAGE_ROM}. Build it first: \"
        \"cmake --preset device && cmake --build --preset device (needs gcc-arm-none-eabi and \"
        \"libnewlib-arm-none-eabi), or leave it out: cmake --preset default -DVX_PACKAGE_ROM=\")
    endif()")
  install(FILES ${VX_PACKAGE_ROM} DESTINATION ${VX_INSTALL_DATA_DIR} RENAME vxVer1.0.nds)
  set(vx_rom_note ", and the handheld client's ROM image for the device")
  if(NOT EXISTS ${VX_PACKAGE_ROM})
    message(STATUS "The device ROM is not built yet (${VX_PACKAGE_ROM}); install and the package need it")
  endif()
else()
  message(STATUS "The package carries no device ROM (VX_PACKAGE_ROM is empty)")
endif()

# The Debian package (cpack -G DEB in the build folder). Its dependencies are
# worked out by dpkg-shlibdeps from the libraries the binaries load.
set(VX_PACKAGE_MAINTAINER "vx tanks maintainers <maintainers@vxtanks.example>"
    CACHE STRING "Maintainer field of the Debian package")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vxtanks)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "networked tank game: desktop client, local server, simulated handheld")
set(CPACK_PACKAGE_DESCRIPTION
    "The client side of a small networked tank game, in two front-ends that speak one UDP protocol to the same game server.
vxPCClient is the desktop client (SDL and OpenGL). vx-handheld runs the handheld client's two programs on a simulated handheld whose wireless sockets are real UDP on the host. vx-server is a small local game server for playing and testing. vx-romtool packs the handheld's two programs into a ROM image. A Wireshark/tshark dissector for the protocol is included${vx_rom_note}.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VX_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION games)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# SDL opens libGL.so.1 only at run time, where dpkg-shlibdeps cannot see it.
set(CPACK_DEBIAN_PACKAGE_DEPENDS libgl1)
set(CPACK_STRIP_FILES ON)
include(CPack)
