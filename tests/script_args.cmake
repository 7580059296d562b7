# The arguments given after a script's name on `cmake [-D...] -P script.cmake ARGS...`,
# in `out`: CMAKE_ARGV holds cmake's own words too.
function(script_arguments out)
  set(args)
  set(seen_script FALSE)
  math(EXPR last "${CMAKE_ARGC} - 1")
  foreach(i RANGE 1 ${last})
    if(seen_script)
      list(APPEND args "${CMAKE_ARGV${i}}")
    elseif(CMAKE_ARGV${i} STREQUAL "-P")
      set(seen_script TRUE)  # the next word is the script itself, dropped below
    endif()
  endforeach()
  list(POP_FRONT args)
  set(${out} "${args}" PARENT_SCOPE)
endfunction()
