# The layers of the tree and what each may include, kept by the build:
#
#   base      result codes, link kinds, the clock
#   link      the byte links                          (base)
#   engine    HEX, CRC, protocol, programming sequence (link, base)
#   control   job control: queue, retry, stall limit  (engine, ...)
#   ui, tools the programs                            (control, engine, ...)
#   sim       the simulated controller                (base at most)
#
# Headers are included as "<layer>/<File>.h". The source root is on no include
# path: each layer target exports a folder of its own holding one link named
# after the layer, so a file sees the layers its target links and no others, and
# an include that goes up or sideways fails to compile.

# romwright_layer(TARGET LAYER): makes LAYER's headers includable by TARGET and
# by everything that links it.
function(romwright_layer target layer)
  set(view ${CMAKE_BINARY_DIR}/layers/${layer})
  file(MAKE_DIRECTORY ${view})
  file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${layer} ${view}/${layer} SYMBOLIC)
  target_include_directories(${target} PUBLIC ${view})
  romwright_strict_warnings(${target})
endfunction()

# The warnings our own code compiles with (generated code keeps the defaults).
set(ROMWRIGHT_STRICT_WARNINGS
  -Wshadow -Wconversion -Wsign-conversion -Wold-style-cast -Wnon-virtual-dtor
  -Woverloaded-virtual)

function(romwright_strict_warnings target)
  target_compile_options(${target} PRIVATE
    $<$<COMPILE_LANGUAGE:CXX>:${ROMWRIGHT_STRICT_WARNINGS}>)
endfunction()
