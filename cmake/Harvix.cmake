# Strict warnings for the project's own targets; errors in the default build.
function(harvix_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor
                                           -Wold-style-cast -Wcast-align -Woverloaded-virtual
                                           -Wconversion
                                           -Wimplicit-fallthrough)
  if(HARVIX_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# Lays the files that the programs expect beside their executable (language
# files, the default filter file, the help) into the build folder, so that the
# build tree runs like an installed copy.
function(harvix_stage_resources target)
  foreach(_dir Langs Filters help)
    if(EXISTS ${PROJECT_SOURCE_DIR}/resources/${_dir})
      add_custom_command(TARGET ${target} POST_BUILD
        COMMAND ${CMAKE_COMMAND} -E copy_directory ${PROJECT_SOURCE_DIR}/resources/${_dir}
                $<TARGET_FILE_DIR:${target}>/${_dir}
        VERBATIM)
    endif()
  endforeach()
endfunction()
