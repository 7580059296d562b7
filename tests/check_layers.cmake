# Fails when an include in src/ runs from a lower layer to a higher one, or when two
# folders include each other. Layers, lowest first; a folder's ui/ subfolder belongs
# to its folder's layer:
#   0  text                        byte strings, number reading, hex notation
#   1  link, clock, protocol,      framing and engine, PLL search, the wire layout,
#      capture                     capture files of the traffic (link never includes it)
#   2  status, instructions,       status decoding, instructions, the test run,
#      mfgtest, settings           the settings store and its key table
#   3  widgets, wire               generic Qt widgets; what a datagram says, the traffic log
#   3  profile                     board configurations as files (YAML), diff and apply plan
#   4  device                      the device query (what every front end runs)
#   5  app                         main window and pages
#   6  cli                         the command-line client (a front end like the window)
#   6  exporter                    the Prometheus exporter (a front end like the CLI)
# src/main.cpp stands above them all. Includes within one layer are allowed in one
# direction. A new folder must be given its layer here. A front end without widgets
# (cli, exporter) never includes a ui/ folder.
cmake_policy(SET CMP0057 NEW)  # if(... IN_LIST ...)
set(layer_text 0)
set(layer_link 1)
set(layer_clock 1)
set(layer_protocol 1)
set(layer_capture 1)
set(layer_status 2)
set(layer_instructions 2)
set(layer_mfgtest 2)
set(layer_settings 2)
set(layer_widgets 3)
set(layer_wire 3)
set(layer_profile 3)
set(layer_device 4)
set(layer_app 5)
set(layer_cli 6)
set(layer_exporter 6)
set(no_ui_folders cli exporter)

file(GLOB_RECURSE files RELATIVE ${SRC} ${SRC}/*.h ${SRC}/*.cpp)
list(SORT files)
set(problems "")
set(edges "")
foreach(f ${files})
  if(NOT f MATCHES "/")
    continue()  # the program's own main.cpp
  endif()
  string(REGEX MATCH "^[^/]+" from "${f}")
  if(NOT DEFINED layer_${from})
    list(APPEND problems "${f}: folder '${from}' has no layer in check_layers.cmake")
    continue()
  endif()
  file(STRINGS ${SRC}/${f} lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"[^\"/]+/")
  foreach(line ${lines})
    string(REGEX MATCH "\"[^\"]+\"" inc "${line}")
    string(REGEX MATCH "^\"[^/]+" to "${inc}")
    string(SUBSTRING "${to}" 1 -1 to)
    if(from IN_LIST no_ui_folders AND inc MATCHES "/ui/")
      list(APPEND problems "${f}: includes ${inc}, a widget folder (${from} has no widgets)")
    endif()
    if(to STREQUAL from)
      continue()
    endif()
    if(NOT DEFINED layer_${to})
      list(APPEND problems "${f}: includes ${inc} from folder '${to}', which has no layer")
    elseif(layer_${to} GREATER layer_${from})
      list(APPEND problems "${f}: includes ${inc} upward (${from} is layer ${layer_${from}}, ${to} is layer ${layer_${to}})")
    endif()
    if(NOT DEFINED edge_${from}_${to})
      set(edge_${from}_${to} "${f} includes ${inc}")
      list(APPEND edges "${from}>${to}")
    endif()
  endforeach()
endforeach()

foreach(e ${edges})
  string(REPLACE ">" ";" pair "${e}")
  list(GET pair 0 a)
  list(GET pair 1 b)
  if(DEFINED edge_${b}_${a} AND a STRLESS b)
    list(APPEND problems "folders ${a} and ${b} include each other: ${edge_${a}_${b}}, and ${edge_${b}_${a}}")
  endif()
endforeach()

if(problems)
  string(REPLACE ";" "\n  " text "${problems}")
  message(FATAL_ERROR "Includes break the layering:\n  ${text}")
endif()
list(LENGTH files count)
message(STATUS "includes of ${count} sources keep to their layers")
