# The handheld itself: Debian's arm-none-eabi cross compiler with newlib.
# What both processors share is set here; the processor of each program
# (ARM946E-S main, ARM7TDMI co-processor) is chosen per target by
# platform/device/. VX_DEVICE selects the device back-end of the platform
# headers and makes the top-level build the device build.
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR arm)

find_program(VX_ARM_TOOLCHAIN_GCC arm-none-eabi-gcc)
if(NOT VX_ARM_TOOLCHAIN_GCC)
  message(FATAL_ERROR "The device build needs Debian's ARM toolchain: "
                      "apt-get install gcc-arm-none-eabi libnewlib-arm-none-eabi")
endif()
set(CMAKE_C_COMPILER arm-none-eabi-gcc)
set(CMAKE_CXX_COMPILER arm-none-eabi-g++)
set(CMAKE_ASM_COMPILER arm-none-eabi-gcc)
# No operating system to link a test program against.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

set(VX_DEVICE ON)
set(VX_DEVICE_COMMON_FLAGS "-DVX_DEVICE=1 -mthumb-interwork -ffunction-sections -fdata-sections --specs=nano.specs")
set(CMAKE_C_FLAGS_INIT "${VX_DEVICE_COMMON_FLAGS}")
set(CMAKE_CXX_FLAGS_INIT "${VX_DEVICE_COMMON_FLAGS} -fno-exceptions -fno-rtti -fno-threadsafe-statics")
set(CMAKE_ASM_FLAGS_INIT "-mthumb-interwork")
# The start-up code, libraries and linker script are the project's own.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-nostartfiles -nodefaultlibs -Wl,--gc-sections")

set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
