# What `cmake --install` and the Debian package carry: the three programs in
# bin/, the platform library and the handheld's program pair in a private
# folder that the programs find relative to themselves, the Wireshark
# dissector and the README. Nothing built for tests or benchmarks.

set(VX_INSTALL_PRIVATE_DIR lib/vxtanks)
set(VX_INSTALL_DATA_DIR share/vxtanks)
set(VX_INSTALL_DOC_DIR share/doc/vxtanks)

# The launcher looks for its default programs beside itself, then here.
file(RELATIVE_PATH vx_programs_from_bin /bin /${VX_INSTALL_PRIVATE_DIR})
target_compile_definitions(vx-handheld PRIVATE VX_INSTALLED_PROGRAM_DIR="${vx_programs_from_bin}")
set_target_properties(vx-handheld PROPERTIES INSTALL_RPATH "$ORIGIN/${vx_programs_from_bin}")
set_target_properties(arm9_program arm7_program PROPERTIES INSTALL_RPATH "$ORIGIN")

install(TARGETS vxPCClient vx-server vx-handheld RUNTIME DESTINATION bin)
install(TARGETS vxplatform arm9_program arm7_program LIBRARY DESTINATION ${VX_INSTALL_PRIVATE_DIR})
install(FILES ${PROJECT_SOURCE_DIR}/tools/wireshark/vx.lua DESTINATION ${VX_INSTALL_DATA_DIR}/wireshark)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${VX_INSTALL_DOC_DIR})

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
vxPCClient is the desktop client (SDL and OpenGL). vx-handheld runs the handheld client's two programs on a simulated handheld whose wireless sockets are real UDP on the host. vx-server is a small local game server for playing and testing. A Wireshark/tshark dissector for the protocol is included.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VX_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION games)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# SDL opens libGL.so.1 only at run time, where dpkg-shlibdeps cannot see it.
set(CPACK_DEBIAN_PACKAGE_DEPENDS libgl1)
set(CPACK_STRIP_FILES ON)
include(CPack)
