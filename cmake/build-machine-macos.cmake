# The macOS that a Mac builds the programs linking Homebrew's libraries for (the
# tests and the benchmarks): the machine's own, but no newer than the SDK, which
# can lag the system (macOS 15.7 with Xcode's 15.5 SDK), and only when newer
# than the floor. Empty where the floor does, or the machine's macOS is unknown.
#
#   thrum_build_machine_macos(OUT FLOOR SYSTEM-VERSION SDK-VERSION)
function(thrum_build_machine_macos out floor system sdk)
  set(version "")
  # What sw_vers and xcrun printed; anything but a version (an error) is no answer.
  if(system MATCHES "^[0-9]+(\\.[0-9]+)*$")
    set(version ${system})
    if(sdk MATCHES "^[0-9]+(\\.[0-9]+)*$" AND sdk VERSION_LESS version)
      set(version ${sdk})
    endif()
  endif()
  if(NOT version VERSION_GREATER floor)
    set(version "")
  endif()
  set(${out} "${version}" PARENT_SCOPE)
endfunction()
