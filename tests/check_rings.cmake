# Fails when a file under ROOT (the Dorvane/ source folder) includes a header
# of a higher ring than its own, or of a folder ordered above its own. A test
# file belongs to its module's ring and may also include the shared test
# support; production code may not.
#   cmake -DROOT=Dorvane -P tests/check_rings.cmake

# The rings, lowest first.
set(_rings base logic qt desktop app)

# Every folder in its order, lowest first, with its ring: a file includes
# only folders listed before its own (or its own), so the folders form no
# cycle; a test may also include the shared test support. A folder missing from the table is an error: a new
# folder must be given its place. The shared test support ("tests") links
# the logic ring only.
set(_folders
  base:base
  log:logic
  config:logic
  spool:logic
  mx:logic
  relay:logic
  tests:logic
  delivery:logic
  service:logic
  update:logic
  qt:qt
  shell:desktop
  app:app
)

if(NOT ROOT OR NOT IS_DIRECTORY "${ROOT}")
  message(FATAL_ERROR "check_rings: ROOT must name the Dorvane source folder")
endif()
get_filename_component(ROOT "${ROOT}" ABSOLUTE)

set(_order)
foreach(_entry ${_folders})
  string(REPLACE ":" ";" _pair "${_entry}")
  list(GET _pair 0 _name)
  list(GET _pair 1 _ring)
  list(APPEND _order ${_name})
  list(FIND _rings ${_ring} _ring_rank_of_${_name})
  set(_ring_of_${_name} ${_ring})
endforeach()

# Why an include of header `inc` (in folder `to`) by a file of folder `from`
# is wrong, in OUT; empty when it is fine. `is_test`: the file is a test.
function(_judge from to inc is_test OUT)
  set(_bad "")
  list(FIND _order ${from} _mine)
  list(FIND _order ${to} _theirs)
  if(inc MATCHES "^([^/]+/)?tests/" AND NOT is_test)
    set(_bad "production code includes test code")
  elseif(_ring_rank_of_${to} GREATER _ring_rank_of_${from})
    set(_bad "ring ${_ring_of_${from}} reaches up to ring ${_ring_of_${to}}")
  elseif(_theirs GREATER _mine AND NOT (is_test AND to STREQUAL "tests"))
    set(_bad "folder ${from} reaches up to folder ${to}, which comes after it")
  endif()
  set(${OUT} "${_bad}" PARENT_SCOPE)
endfunction()

set(_faults 0)
file(GLOB_RECURSE _files RELATIVE "${ROOT}" "${ROOT}/*.cpp" "${ROOT}/*.h")
foreach(_f ${_files})
  string(REGEX MATCH "^[^/]+" _folder "${_f}")
  if(_f STREQUAL _folder)
    continue()  # a file at the top: none today
  endif()
  if(NOT DEFINED _ring_of_${_folder})
    message(SEND_ERROR "${_f}: folder ${_folder} has no place in tests/check_rings.cmake")
    math(EXPR _faults "${_faults} + 1")
    continue()
  endif()
  set(_is_test FALSE)
  if(_f MATCHES "^[^/]+/tests/" OR _folder STREQUAL "tests")
    set(_is_test TRUE)
  endif()
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
    _judge(${_folder} ${_to} "${_target}" ${_is_test} _bad)
    if(_bad)
      message(SEND_ERROR "${_f}: #include \"${_target}\": ${_bad}")
      math(EXPR _faults "${_faults} + 1")
    endif()
  endforeach()
endforeach()

if(_faults GREATER 0)
  message(FATAL_ERROR "${_faults} include(s) cross the rings or the folder order")
endif()
list(LENGTH _files _n)
message(STATUS "rings: ${_n} files, no include reaches up a ring or the folder order")
