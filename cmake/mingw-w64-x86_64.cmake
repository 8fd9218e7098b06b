# 64-bit Windows with Debian's MinGW-w64 cross compiler (posix thread model,
# for std::thread and std::jthread), programs run under Wine.
#
#   cmake -S . -B build/windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DVELMORA_BUILD_UI=OFF
#
# tools/windows.sh builds and tests with it. Every program is linked
# statically: the .exe needs no DLL beyond the system's own.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(velmora_mingw x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${velmora_mingw}-gcc-posix)
set(CMAKE_CXX_COMPILER ${velmora_mingw}-g++-posix)
set(CMAKE_RC_COMPILER ${velmora_mingw}-windres)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Libraries and headers come from the MinGW tree only; programs that run
# during the build (none today) from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${velmora_mingw})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Header-only packages of the host serve the cross build as they are. Each is
# seen through a prefix of its own that holds its headers and its CMake
# package and nothing else: /usr/include as a whole would put the host's C
# headers in front of MinGW's.
set(velmora_host_headers ${CMAKE_BINARY_DIR}/host-header-packages)
foreach(velmora_package "nlohmann:nlohmann_json")
  string(REPLACE ":" ";" velmora_parts "${velmora_package}")
  list(GET velmora_parts 0 velmora_include)
  list(GET velmora_parts 1 velmora_cmake)
  if(EXISTS /usr/include/${velmora_include} AND EXISTS /usr/share/cmake/${velmora_cmake}
     AND NOT EXISTS ${velmora_host_headers}/share/cmake/${velmora_cmake})
    file(MAKE_DIRECTORY ${velmora_host_headers}/include ${velmora_host_headers}/share/cmake)
    file(CREATE_LINK /usr/include/${velmora_include} ${velmora_host_headers}/include/${velmora_include} SYMBOLIC)
    file(CREATE_LINK /usr/share/cmake/${velmora_cmake} ${velmora_host_headers}/share/cmake/${velmora_cmake} SYMBOLIC)
  endif()
endforeach()
list(APPEND CMAKE_FIND_ROOT_PATH ${velmora_host_headers})

# ctest and gtest_discover_tests run the test programs under Wine, in a Wine
# prefix of this build's own (not the user's ~/.wine), quietly.
find_program(VELMORA_WINE wine)
if(VELMORA_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR
      ${CMAKE_COMMAND} -E env WINEPREFIX=${CMAKE_BINARY_DIR}/wine WINEDEBUG=-all LC_ALL=C.UTF-8 ${VELMORA_WINE})
endif()
