# Fails when a C++ source in FOLDERS holds a text of the templates of dialogs 101, 5022
# and 5023 as a string literal: those texts come from the resource script alone.
#   cmake -DSOURCE_DIR=<repo> "-DFOLDERS=framework;..." -P TemplateTexts.cmake
set(texts "Processing..." "Select Columns" "Sort :" "According to Viewer" "Alphabetically"
          "Check All" "Uncheck All" "Save" "Cancel" "Index:" "~")
set(found 0)
foreach(folder ${FOLDERS})
  file(GLOB_RECURSE sources ${SOURCE_DIR}/${folder}/*.h ${SOURCE_DIR}/${folder}/*.cpp)
  foreach(file ${sources})
    file(READ ${file} content)
    foreach(text ${texts})
      string(FIND "${content}" "\"${text}\"" at)
      if(at GREATER -1)
        file(RELATIVE_PATH rel ${SOURCE_DIR} ${file})
        message(SEND_ERROR "${rel}: holds \"${text}\", a text of the resource script")
        math(EXPR found "${found} + 1")
      endif()
    endforeach()
  endforeach()
endforeach()
if(found GREATER 0)
  message(FATAL_ERROR "${found} template text(s) repeated in C++ sources")
endif()
message(STATUS "template texts: only in the resource script")
