# Cross build for the recorder: 32-bit ARM Linux, hard-float EABI (Debian armhf).
#
#   cmake -S . -B build-armhf -DCMAKE_TOOLCHAIN_FILE=cmake/armhf-toolchain.cmake
#
# Expects Debian's cross compiler (g++-arm-linux-gnueabihf) and the armhf
# builds of the libraries installed side by side with the host ones through
# multiarch (dpkg --add-architecture armhf; apt-get install libgsoap-dev:armhf
# ...): they live under /usr/lib/arm-linux-gnueabihf and share /usr/include.
# scripts/armhf.sh installs all of it. Test programs run under qemu-user; the
# armhf dynamic loader and libraries come from those same multiarch packages
# (/lib/ld-linux-armhf.so.3, /usr/lib/arm-linux-gnueabihf).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)

set(VEK_ARMHF_TRIPLET arm-linux-gnueabihf)
set(CMAKE_C_COMPILER ${VEK_ARMHF_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${VEK_ARMHF_TRIPLET}-g++)
set(CMAKE_AR ${VEK_ARMHF_TRIPLET}-ar CACHE FILEPATH "armhf archiver")
set(CMAKE_RANLIB ${VEK_ARMHF_TRIPLET}-ranlib CACHE FILEPATH "armhf ranlib")
set(CMAKE_STRIP ${VEK_ARMHF_TRIPLET}-strip CACHE FILEPATH "armhf strip")
set(CMAKE_NM ${VEK_ARMHF_TRIPLET}-nm CACHE FILEPATH "armhf nm")

# GCC's note that C++ parameter passing changed on ARM in GCC 7.1 concerns
# code built by older compilers; everything here is built by this one.
set(CMAKE_CXX_FLAGS_INIT "-Wno-psabi")

# find_library/find_package look in lib/arm-linux-gnueabihf (never in the
# host's lib/x86_64-linux-gnu); headers of Multi-Arch: same packages are
# shared in /usr/include.
set(CMAKE_LIBRARY_ARCHITECTURE ${VEK_ARMHF_TRIPLET})

# Programs that run during the build (soapcpp2) are the host's.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)

# pkg-config reads only the armhf .pc files (plus the architecture-free ones).
set(ENV{PKG_CONFIG_LIBDIR}
    "/usr/lib/${VEK_ARMHF_TRIPLET}/pkgconfig:/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")

# ctest, and gtest_discover_tests at build time, run the armhf programs
# through the user-mode emulator.
find_program(VEK_QEMU_ARM NAMES qemu-arm qemu-arm-static REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${VEK_QEMU_ARM})
