# Fails unless the library's dynamic symbol table defines exactly the six
# documented functions.
execute_process(COMMAND nm -D --defined-only ${LIB}
  OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIB}")
endif()
string(REPLACE "\n" ";" lines "${out}")
set(names)
foreach(line IN LISTS lines)
  if(line MATCHES "^[0-9a-fA-F]* +[A-Za-z] +([^ ]+)$")
    set(sym ${CMAKE_MATCH_1})
    # The version node the linker adds for a version script is not a function.
    if(NOT sym MATCHES "^[A-Z_]*@@?" AND NOT line MATCHES " A ")
      list(APPEND names ${sym})
    endif()
  endif()
endforeach()
list(SORT names)
set(expected GetBSpline LowPass44 LowPass48 PackVolume UnpackLeftVolume UnpackRightVolume)
if(NOT names STREQUAL expected)
  message(FATAL_ERROR "exports are '${names}', expected '${expected}'")
endif()
message(STATUS "exports: ${names}")
