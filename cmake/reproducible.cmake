# Byte-identical programs from the same sources, whatever folder they are
# built in and whenever: no time in the PE header, no build folder in the
# code (__FILE__ and debug paths are made relative), and archives with zero
# times, owners and modes. None of this changes what the programs do.
#
# With several maps GCC uses the last one that matches, so the build folder
# (often inside the source folder) comes after the source folder.
add_compile_options(
    -ffile-prefix-map=${PROJECT_SOURCE_DIR}/=
    -ffile-prefix-map=${CMAKE_BINARY_DIR}/=
)
add_link_options(-Wl,--no-insert-timestamp)
foreach(lang C CXX)
    set(CMAKE_${lang}_ARCHIVE_CREATE "<CMAKE_AR> qcD <TARGET> <LINK_FLAGS> <OBJECTS>")
    set(CMAKE_${lang}_ARCHIVE_APPEND "<CMAKE_AR> qD <TARGET> <LINK_FLAGS> <OBJECTS>")
    set(CMAKE_${lang}_ARCHIVE_FINISH "<CMAKE_RANLIB> -D <TARGET>")
endforeach()

# The release ships programs without their symbol tables (package.sh turns
# this on); builds for testing keep them.
option(KESTRIN_STRIP "Link the programs without symbol tables" OFF)
if(KESTRIN_STRIP)
    add_link_options(-s)
endif()
