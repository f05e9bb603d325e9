# The resource script compiles with windres to the binary resource format and to a COFF
# object without a single message.
add_test(NAME resources_windres
         COMMAND ${CMAKE_COMMAND} -DWINDRES=${VKL_WINDRES} "-DARGS=${VKL_WINDRES_ARGS}" -DINPUT=${VKL_RC_FILE}
                 -DRUN=${VKL_WINDRES_SCRIPT} -DWORK_DIR=${CMAKE_CURRENT_BINARY_DIR}/resources_windres
                 -P ${CMAKE_CURRENT_SOURCE_DIR}/resources/WindresCompiles.cmake)

# No C++ source of the library, vkl, the benchmarks or the fuzz targets repeats a text of
# the templates that the module's own dialogs are made from.
add_test(NAME resources_texts_only_in_the_script
         COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${CMAKE_SOURCE_DIR} "-DFOLDERS=${VKL_LAYERS};sim;tools;bench;fuzz"
                 -P ${CMAKE_CURRENT_SOURCE_DIR}/resources/TemplateTexts.cmake)
