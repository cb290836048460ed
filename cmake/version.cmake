# Writes OUTPUT, the definition of varrow::VERSION: VERSION, then the git
# description of SOURCE_DIR when it has one. Run at every build; the file
# changes (and its one object is rebuilt) only when the text does.
execute_process(COMMAND git -C ${SOURCE_DIR} describe --always --dirty
                OUTPUT_VARIABLE described OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
set(text "${VERSION}")
if(described)
  string(APPEND text " (${described})")
endif()
set(content "// Written by cmake/version.cmake at build time.\n#include \"varrow_version.h\"\n\n"
            "const char varrow::VERSION[] = \"${text}\";\n")
if(EXISTS ${OUTPUT})
  file(READ ${OUTPUT} old)
endif()
if(NOT old STREQUAL content)
  file(WRITE ${OUTPUT} "${content}")
endif()
