# Writes a C++ source that embeds every file under ROOT as the table `uiFiles`.
# Run at build time: cmake -DROOT=<dir> -DOUTPUT=<file.cpp> -P embed_files.cmake

# The application's comments are for the people who work on it: scripts and style sheets are
# served without the lines that hold only a comment, and indented with tabs instead of pairs of
# spaces. Nothing else changes, so the served code is the same code, as readable in the
# browser's tools. This is safe because no string, template or regular expression of the
# application spans lines; tests/browser/served.test.mjs checks that, and compares the served
# files' tokens with the sources'.
# Applies one regular-expression replacement until the text no longer changes: for matches that
# overlap or that a replacement only brings about.
function(replace_until_stable var regex replacement)
  set(text "${${var}}")
  set(before "")
  while(NOT "${before}" STREQUAL "${text}")
    set(before "${text}")
    string(REGEX REPLACE "${regex}" "${replacement}" text "${text}")
  endwhile()
  set(${var} "${text}" PARENT_SCOPE)
endfunction()

function(reduce_ui_text var ext)
  set(text "\n${${var}}")
  if(ext STREQUAL "js")
    string(REGEX REPLACE "\n[ \t]*//[^\n]*" "" text "${text}")
  else()
    # A block comment that fills its lines; one right after another takes another pass.
    replace_until_stable(text "\n[ \t]*/\\*([^*]|\\*+[^*/])*\\*+/[ \t]*\n" "\n")
  endif()
  # Each pass turns one more pair of leading spaces into a tab.
  replace_until_stable(text "\n(\t*)  " "\n\\1\t")
  string(SUBSTRING "${text}" 1 -1 text)
  set(${var} "${text}" PARENT_SCOPE)
endfunction()

file(GLOB_RECURSE files RELATIVE "${ROOT}" "${ROOT}/*")
list(SORT files)

set(arrays "")
set(rows "")
set(index 0)
foreach(path IN LISTS files)
  if(path MATCHES "\\.(js|css)$")
    file(READ "${ROOT}/${path}" text)
    reduce_ui_text(text "${CMAKE_MATCH_1}")
    string(HEX "${text}" hex)
  else()
    file(READ "${ROOT}/${path}" hex HEX)
  endif()
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

set(source "// Generated from assets/ui by cmake/embed_files.cmake; do not edit.
#include \"ui/embedded_files.hpp\"

namespace relaydash {

${table}

}  // namespace relaydash
")

file(WRITE "${OUTPUT}" "${source}")
