# The i686 build, the product as shipped: the i486 tool chain that
# scripts/build-i486-runtime.sh builds (GCC 12 defaulting to -march=i486, its
# libgcc and libstdc++, the mingw-w64 start-up code and crtdll.dll as the C
# library, zlib), so that the programs run on a 486 under Windows 95 and
# NT 3.51. Debian's own mingw-w64 libraries need a Pentium Pro and msvcrt.dll.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
if(DEFINED ENV{QV_I486_ROOT})
  set(QV_I486_TOOLCHAIN "$ENV{QV_I486_ROOT}/current")
else()
  set(QV_I486_TOOLCHAIN /var/cache/quorvel-i486/current)
endif()
get_filename_component(QV_I486_TOOLCHAIN "${QV_I486_TOOLCHAIN}" REALPATH)
if(NOT EXISTS "${QV_I486_TOOLCHAIN}/.complete")
  message(FATAL_ERROR "The i486 tool chain is not built (${QV_I486_TOOLCHAIN}): run scripts/build-i486-runtime.sh")
endif()
set(CMAKE_C_COMPILER ${QV_I486_TOOLCHAIN}/bin/i686-w64-mingw32-gcc)
set(CMAKE_CXX_COMPILER ${QV_I486_TOOLCHAIN}/bin/i686-w64-mingw32-g++)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH ${QV_I486_TOOLCHAIN}/sysroot)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# The static zlib of the tool chain.
set(ZLIB_USE_STATIC_LIBS ON)
