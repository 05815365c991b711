# Writes a C++ source that embeds every file under ROOT, byte for byte, as the table `uiFiles`.
# Run at build time on the web application as it is served (cmake/minify_ui.mjs makes it):
#   cmake -DROOT=<dir> -DOUTPUT=<file.cpp> -P embed_files.cmake

file(GLOB_RECURSE files RELATIVE "${ROOT}" "${ROOT}/*")
list(SORT files)

set(arrays "")
set(rows "")
set(index 0)
foreach(path IN LISTS files)
  file(READ "${ROOT}/${path}" hex HEX)
  string(LENGTH "${hex}" digits)
  math(EXPR size "${digits} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
  # A zero-length file still needs one element for its array.
  if(size EQUAL 0)
    set(bytes "'\\\\0'")
  endif()
  string(APPEND arrays "constexpr char kFile${index}[] = {${bytes}};\n")
  string(APPEND rows "    {\"${path}\", mimeTypeFor(\"${path}\"), {kFile${index}, ${size}}},\n")
  math(EXPR index "${index} + 1")
endforeach()

if(index EQUAL 0)
  set(table "const std::span<const EmbeddedFile> uiFiles;")
else()
  set(table "namespace {\n\n${arrays}\nconst EmbeddedFile kUiFiles[] = {\n${rows}};\n\n}  // namespace\n\nconst std::span<const EmbeddedFile> uiFiles(kUiFiles);")
endif()

set(source "// Generated from assets/ui by cmake/minify_ui.mjs and embed_files.cmake; do not edit.
#include \"ui/embedded_files.hpp\"

namespace relaydash {

${table}

}  // namespace relaydash
")

file(WRITE "${OUTPUT}" "${source}")
