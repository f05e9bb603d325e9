# Writes a file's bytes as the C++ array the resources layer reads (g_abLoggerRes).
#   cmake -DINPUT=Logger.res -DOUTPUT=LoggerRes.cpp -P EmbedBytes.cmake
file(READ ${INPUT} hex HEX)
string(LENGTH "${hex}" digits)
math(EXPR size "${digits} / 2")
if(size EQUAL 0)
  message(FATAL_ERROR "${INPUT} is empty")
endif()
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," body "${hex}")
string(REPEAT "0x..," 16 line)
string(REGEX REPLACE "(${line})" "\\1\n    " body "${body}")
get_filename_component(name ${INPUT} NAME)
file(WRITE ${OUTPUT}.tmp
  "// Written from ${name} at build time.\n#include <cstddef>\n\n"
  "extern const unsigned char g_abLoggerRes[];\nextern const size_t g_nLoggerRes;\n\n"
  "alignas(4) const unsigned char g_abLoggerRes[] = {\n    ${body}\n};\n"
  "const size_t g_nLoggerRes = ${size};\n")
file(RENAME ${OUTPUT}.tmp ${OUTPUT})
