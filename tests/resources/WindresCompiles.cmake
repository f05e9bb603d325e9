# Compiles the resource script to .res and to a COFF object in WORK_DIR; fails on any
# message windres prints (RUN is resources/Windres.cmake).
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
foreach(FORMAT res coff)
  set(OUTPUT ${WORK_DIR}/Logger.${FORMAT})
  include(${RUN})
  file(SIZE ${OUTPUT} size)
  if(size EQUAL 0)
    message(FATAL_ERROR "${OUTPUT} is empty")
  endif()
  message(STATUS "Logger.${FORMAT}: ${size} bytes, no messages")
endforeach()
