# The binary carries the what(1) identification "@(#)thrum VERSION" once, and
# the manual's footer names the same version.
#
#   cmake -DTHRUM=binary -DMANUAL=thrum.1 -DVERSION=x.y.z -P version_test.cmake
file(STRINGS "${THRUM}" identification REGEX "@\\(#\\)")
if(NOT identification STREQUAL "@(#)thrum ${VERSION}")
  message(FATAL_ERROR "${THRUM}: identification is '${identification}', want '@(#)thrum ${VERSION}'")
endif()
file(STRINGS "${MANUAL}" footer REGEX "^\\.Os")
if(NOT footer STREQUAL ".Os thrum ${VERSION}")
  message(FATAL_ERROR "${MANUAL}: footer line is '${footer}', want '.Os thrum ${VERSION}'")
endif()
message(STATUS "${THRUM} and ${MANUAL} name thrum ${VERSION}")
