# The library behind nds.h, written once on registers and the BIOS interface
# (bios.h), built into the device's per-processor runtimes and into the
# simulation's shared library. Both include this file.
set(VX_LIBRARY_DIR ${CMAKE_CURRENT_LIST_DIR})
# Interrupts and power on both processors; video memory, keys and the console
# on the main processor only; the touch controller and the clock on the
# co-processor only.
set(VX_LIBRARY_SOURCES_BOTH ${VX_LIBRARY_DIR}/interrupts.cpp ${VX_LIBRARY_DIR}/power.cpp)
set(VX_LIBRARY_SOURCES_MAIN ${VX_LIBRARY_DIR}/video.cpp ${VX_LIBRARY_DIR}/keys.cpp ${VX_LIBRARY_DIR}/console.cpp
                            ${VX_LIBRARY_DIR}/format.cpp)
set(VX_LIBRARY_SOURCES_CO ${VX_LIBRARY_DIR}/touch.cpp ${VX_LIBRARY_DIR}/rtc.cpp)
