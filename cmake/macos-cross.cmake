# Builds the macOS arm64 binary on Linux with Zig's bundled clang, libc++ and
# macOS C library headers. With no SDK at hand, the tool compiles against the
# CoreFoundation stand-in's header (it mirrors the platform's declarations) and
# links against a text stub that carries the real framework's install name and
# the symbols the header declares, so the result binds to the real framework on
# a Mac. The project itself is unchanged: it sees APPLE and finds CoreFoundation
# as it would in an SDK. A real Mac needs none of this file.
#
#   cmake -S . -B build-macos -DCMAKE_TOOLCHAIN_FILE=cmake/macos-cross.cmake \
#         -DZIG=/path/to/zig -DBUILD_TESTING=OFF
# (scripts/macos-build.sh fetches Zig, runs this and checks the result.)

set(CMAKE_SYSTEM_NAME Darwin)
set(CMAKE_SYSTEM_PROCESSOR arm64)

if(NOT ZIG)
  set(ZIG "$ENV{ZIG}")
endif()
if(NOT ZIG)
  message(FATAL_ERROR "macos-cross: set ZIG to the path of the zig compiler")
endif()
# The compiler checks run in sub-projects that see only the variables listed here.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ZIG)

# The floor is the project's CMAKE_OSX_DEPLOYMENT_TARGET, as for a Mac build.
set(thrumMacTarget aarch64-macos.${CMAKE_OSX_DEPLOYMENT_TARGET})
set(CMAKE_C_COMPILER "${ZIG}" cc -target ${thrumMacTarget})
set(CMAKE_CXX_COMPILER "${ZIG}" c++ -target ${thrumMacTarget})

# Zig's linker reads only archives with an index it understands, which GNU ar
# does not write for Mach-O objects: archive with Zig's own ar. CMake wants
# these tools as single programs, hence the two small wrappers.
foreach(tool ar ranlib)
  set(wrapper "${CMAKE_BINARY_DIR}/zig-${tool}")
  if(NOT EXISTS "${wrapper}")
    file(WRITE "${wrapper}" "#!/bin/sh\nexec '${ZIG}' ${tool} \"$@\"\n")
    file(CHMOD "${wrapper}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  endif()
endforeach()
# Zig's linker drops unreferenced data from an optimised build, the what(1)
# identification string among it; the platform's linker keeps it.
set(CMAKE_EXE_LINKER_FLAGS_INIT -Wl,--no-gc-sections)

set(CMAKE_AR "${CMAKE_BINARY_DIR}/zig-ar" CACHE FILEPATH "archiver" FORCE)
set(CMAKE_RANLIB "${CMAKE_BINARY_DIR}/zig-ranlib" CACHE FILEPATH "archive indexer" FORCE)

get_filename_component(thrumRoot "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
set(CMAKE_C_STANDARD_INCLUDE_DIRECTORIES "${thrumRoot}/cf/include")
set(CMAKE_CXX_STANDARD_INCLUDE_DIRECTORIES "${thrumRoot}/cf/include")
# find_library(CoreFoundation) then finds the stub framework, as it would the
# SDK's, and the link line becomes -F<dir> -framework CoreFoundation.
set(CMAKE_FRAMEWORK_PATH "${thrumRoot}/cmake/macos")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY BOTH)
