# Writes a C++ source that embeds the camera's GenApi XML as a byte array.
# Input: INPUT (the XML file), OUTPUT (the source to write).
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" hexLength)
math(EXPR size "${hexLength} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){32})" "\\1\n" bytes "${bytes}")
set(body "// Generated at build time from gevsim.xml. Do not edit.\n#include \"EmbeddedXml.h\"\n\nnamespace GevSim {\nnamespace {\nconst char kXml[] = {\n${bytes}0x00};\n}  // namespace\n\nstd::string_view EmbeddedXml() { return {kXml, ${size}}; }\n\n}  // namespace GevSim\n")
file(WRITE "${OUTPUT}.tmp" "${body}")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
