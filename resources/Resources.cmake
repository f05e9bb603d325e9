# The module's resources, one source for every build: the pictures are drawn by a small
# generator, resources/Logger.rc is compiled by windres to the binary resource format,
# and those bytes become a C++ source of the resources layer. Included from the top-level
# CMakeLists.txt after the layer is defined.
find_program(VKL_WINDRES i686-w64-mingw32-windres)
find_program(VKL_RC_PREPROCESSOR cpp REQUIRED)
set(VKL_MINGW_INCLUDE /usr/share/mingw-w64/include CACHE PATH "Directory of winresrc.h")
if(NOT VKL_WINDRES OR NOT EXISTS ${VKL_MINGW_INCLUDE}/winresrc.h)
  message(FATAL_ERROR "The resource compiler (i686-w64-mingw32-windres) or winresrc.h is missing; "
                      "scripts/setup.sh installs them (binutils-mingw-w64-i686, mingw-w64-common)")
endif()

set(VKL_RES_DIR ${CMAKE_CURRENT_BINARY_DIR}/resources)
set(VKL_RC_FILE ${CMAKE_CURRENT_SOURCE_DIR}/resources/Logger.rc)
set(VKL_RES_FILE ${VKL_RES_DIR}/Logger.res)
set(VKL_WINDRES_SCRIPT ${CMAKE_CURRENT_SOURCE_DIR}/resources/Windres.cmake)
# windres runs the host preprocessor, as the mingw compiler is not needed.
set(VKL_WINDRES_ARGS --preprocessor=${VKL_RC_PREPROCESSOR} --preprocessor-arg=-xc
    --preprocessor-arg=-DRC_INVOKED --preprocessor-arg=-D_WIN32
    -I${VKL_MINGW_INCLUDE} -I${CMAKE_CURRENT_SOURCE_DIR}/resources -I${VKL_RES_DIR}/pictures)

add_executable(vkl_make_pictures resources/pictures/MakePictures.cpp)
set(VKL_PICTURES)
foreach(name Logger.ico Play.bmp PlayDisabled.bmp Pause.bmp PauseDisabled.bmp Stop.bmp StopDisabled.bmp
             Step.bmp StepDisabled.bmp)
  list(APPEND VKL_PICTURES ${VKL_RES_DIR}/pictures/${name})
endforeach()
add_custom_command(OUTPUT ${VKL_PICTURES}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${VKL_RES_DIR}/pictures
  COMMAND vkl_make_pictures ${VKL_RES_DIR}/pictures
  DEPENDS vkl_make_pictures
  COMMENT "Drawing the module's pictures" VERBATIM)

add_custom_command(OUTPUT ${VKL_RES_FILE}
  COMMAND ${CMAKE_COMMAND} -DWINDRES=${VKL_WINDRES} "-DARGS=${VKL_WINDRES_ARGS}" -DINPUT=${VKL_RC_FILE}
          -DOUTPUT=${VKL_RES_FILE} -DFORMAT=res -P ${VKL_WINDRES_SCRIPT}
  DEPENDS ${VKL_RC_FILE} ${CMAKE_CURRENT_SOURCE_DIR}/resources/resource.h ${VKL_PICTURES} ${VKL_WINDRES_SCRIPT}
  COMMENT "Compiling resources/Logger.rc" VERBATIM)

add_custom_command(OUTPUT ${VKL_RES_DIR}/LoggerRes.cpp
  COMMAND ${CMAKE_COMMAND} -DINPUT=${VKL_RES_FILE} -DOUTPUT=${VKL_RES_DIR}/LoggerRes.cpp
          -P ${CMAKE_CURRENT_SOURCE_DIR}/resources/EmbedBytes.cmake
  DEPENDS ${VKL_RES_FILE} ${CMAKE_CURRENT_SOURCE_DIR}/resources/EmbedBytes.cmake
  COMMENT "Embedding Logger.res" VERBATIM)
target_sources(vkl_resources PRIVATE ${VKL_RES_DIR}/LoggerRes.cpp)
