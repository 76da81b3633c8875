# cmake -DIN=<linker .ihx> -DOUT=<.hex> [-DPACKIHX=<packihx>] -P pack_ihx.cmake
# Repacks SDCC's linker output with packihx; a plain copy when packihx is missing
# (the linker output is valid Intel HEX either way).
if(PACKIHX)
  execute_process(COMMAND ${PACKIHX} ${IN} OUTPUT_FILE ${OUT} ERROR_QUIET RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "packihx failed on ${IN}")
  endif()
else()
  file(COPY_FILE ${IN} ${OUT})
endif()
