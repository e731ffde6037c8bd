# parlavox_publish_headers(<target> <paths...>)
# A library's headers are reached through a folder of links of its own in the build tree,
# build/include/<target>/, which mirrors src/: a path under src/ (a header, or a whole folder) gets a
# link at the same place there. The target publishes that folder as its include directory, so a
# library sees the headers of the libraries it links and no others: including a header of a library
# it does not link fails to compile.
function(parlavox_publish_headers target)
  set(root ${CMAKE_BINARY_DIR}/include/${target})
  file(REMOVE_RECURSE ${root})
  foreach(path ${ARGN})
    file(RELATIVE_PATH name ${CMAKE_SOURCE_DIR}/src ${path})
    get_filename_component(folder ${root}/${name} DIRECTORY)
    file(MAKE_DIRECTORY ${folder})
    file(CREATE_LINK ${path} ${root}/${name} SYMBOLIC)
  endforeach()
  target_include_directories(${target} PUBLIC ${root})
endfunction()
