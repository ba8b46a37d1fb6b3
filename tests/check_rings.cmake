# Fails when a file under ROOT (the Dorvane/ source folder) includes a header
# of a higher ring than its own. A test file belongs to its module's ring and
# may also include the shared test support; production code may not.
#   cmake -DROOT=Dorvane -P tests/check_rings.cmake

# Folder -> ring. A folder missing from the table is an error: a new folder
# must be given its place.
set(_rings base logic core)
set(_ring_of_base base)
set(_ring_of_log logic)
set(_ring_of_config logic)
set(_ring_of_spool logic)
set(_ring_of_mx logic)
set(_ring_of_relay logic)
set(_ring_of_qt core)
set(_ring_of_service core)
set(_ring_of_delivery core)
set(_ring_of_shell core)
set(_ring_of_update core)
# The shared test support links the logic ring only.
set(_ring_of_tests logic)

if(NOT ROOT OR NOT IS_DIRECTORY "${ROOT}")
  message(FATAL_ERROR "check_rings: ROOT must name the Dorvane source folder")
endif()
get_filename_component(ROOT "${ROOT}" ABSOLUTE)

# The rank of RING (0 = lowest) in OUT.
function(_rank RING OUT)
  list(FIND _rings ${RING} _r)
  set(${OUT} ${_r} PARENT_SCOPE)
endfunction()

set(_faults 0)
file(GLOB_RECURSE _files RELATIVE "${ROOT}" "${ROOT}/*.cpp" "${ROOT}/*.h")
foreach(_f ${_files})
  string(REGEX MATCH "^[^/]+" _folder "${_f}")
  if(_f STREQUAL _folder)
    continue()  # a file at the top: none today
  endif()
  if(NOT DEFINED _ring_of_${_folder})
    message(SEND_ERROR "${_f}: folder ${_folder} has no ring in tests/check_rings.cmake")
    math(EXPR _faults "${_faults} + 1")
    continue()
  endif()
  set(_is_test FALSE)
  if(_f MATCHES "^[^/]+/tests/" OR _folder STREQUAL "tests")
    set(_is_test TRUE)
  endif()
  _rank(${_ring_of_${_folder}} _own)
  file(STRINGS "${ROOT}/${_f}" _includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"[^\"]+\"")
  foreach(_line ${_includes})
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\".*" "\\1" _target "${_line}")
    if(NOT _target MATCHES "/")
      continue()  # beside the file, or a header from outside Dorvane/
    endif()
    string(REGEX MATCH "^[^/]+" _to "${_target}")
    if(NOT DEFINED _ring_of_${_to})
      continue()  # not one of our folders
    endif()
    set(_bad "")
    if(_target MATCHES "^([^/]+/)?tests/" AND NOT _is_test)
      set(_bad "production code includes test code")
    else()
      _rank(${_ring_of_${_to}} _their)
      if(_their GREATER _own)
        set(_bad "ring ${_ring_of_${_folder}} reaches up to ring ${_ring_of_${_to}}")
      endif()
    endif()
    if(_bad)
      message(SEND_ERROR "${_f}: #include \"${_target}\": ${_bad}")
      math(EXPR _faults "${_faults} + 1")
    endif()
  endforeach()
endforeach()

if(_faults GREATER 0)
  message(FATAL_ERROR "${_faults} include(s) cross the rings")
endif()
list(LENGTH _files _n)
message(STATUS "rings: ${_n} files, no include reaches up")
