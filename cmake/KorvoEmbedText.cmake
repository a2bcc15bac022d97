# cmake -DINPUT=<file> -DOUTPUT=<file.cpp> -DNAME=<symbol> -DNAMESPACE=<ns> -P KorvoEmbedText.cmake
#
# Writes a C++ source that holds the input file's text as
#   extern const char NAME[];  (NUL-terminated)
# in the given namespace, as hexadecimal bytes so that no text in the file
# can end the literal early. Run as a build step, so an edit of the input
# rebuilds it.
file(READ "${INPUT}" hex HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
string(REGEX REPLACE "(('\\\\x..',){32})" "\\1\n    " bytes "${bytes}")
get_filename_component(source_name "${INPUT}" NAME)
file(WRITE "${OUTPUT}.tmp"
  "// Generated from ${source_name} by cmake/KorvoEmbedText.cmake; do not edit.\n"
  "namespace ${NAMESPACE} {\n"
  "extern const char ${NAME}[];\n"
  "const char ${NAME}[] = {\n    ${bytes}'\\0'};\n"
  "}\n")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
