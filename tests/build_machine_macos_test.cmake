# The macOS a Mac builds its test programs and benchmarks for
# (cmake/build-machine-macos.cmake), from made-up answers of sw_vers and xcrun.
#
#   cmake -P tests/build_machine_macos_test.cmake
include(${CMAKE_CURRENT_LIST_DIR}/../cmake/build-machine-macos.cmake)

# expect(WANT SYSTEM SDK): the pick over the 12.0 floor.
function(expect want system sdk)
  thrum_build_machine_macos(got 12.0 "${system}" "${sdk}")
  if(NOT got STREQUAL want)
    message(SEND_ERROR "system '${system}', SDK '${sdk}': got '${got}', want '${want}'")
  endif()
endfunction()

expect(15.5 15.7 15.5)        # the SDK lags the system
expect(14.6 14.6 15.2)        # a newer SDK
expect(15.9 15.10 15.9)       # compared as versions, not as text
expect(15.7 15.7 "")          # xcrun said nothing
expect(15.7 15.7 "xcrun: error: unable to find utility")
expect("" "" 15.5)            # the machine's own macOS unknown: the floor
expect("" 12.0 13.1)          # the floor already
expect("" 15.7 11.3)          # an SDK older than the floor
