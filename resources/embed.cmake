# Writes OUTPUT, a C++ source holding the bytes of INPUT as resources::bounceWave;
# without an INPUT file the array is empty and the size 0.
set(bytes "")
set(size 0)
if(DEFINED INPUT AND EXISTS "${INPUT}")
  file(READ "${INPUT}" hex HEX)
  string(LENGTH "${hex}" hexLength)
  math(EXPR size "${hexLength} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "((0x..,){24})" "\\1\n" bytes "${bytes}")
endif()
file(WRITE "${OUTPUT}.tmp" "// Generated from bounce.wav; do not edit.\n#include <cstdint>\nnamespace resources {\nextern const unsigned char bounceWave[];\nextern const std::uint32_t bounceWaveSize;\nalignas(4) const unsigned char bounceWave[] = {\n${bytes}0};\nconst std::uint32_t bounceWaveSize = ${size};\n}  // namespace resources\n")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
