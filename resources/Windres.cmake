# Runs windres and fails on any message it prints, warnings included.
#   cmake -DWINDRES=... "-DARGS=..." -DINPUT=... -DOUTPUT=... -DFORMAT=res|coff|rc -P Windres.cmake
execute_process(COMMAND ${WINDRES} ${ARGS} -i ${INPUT} -O ${FORMAT} -o ${OUTPUT}
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status EQUAL 0 OR NOT "${out}${err}" STREQUAL "")
  file(REMOVE ${OUTPUT})
  message(FATAL_ERROR "windres ${INPUT} -O ${FORMAT} (status ${status}):\n${out}${err}")
endif()
