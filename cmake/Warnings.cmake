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
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy_directory ${PROJECT_SOURCE_DIR}/resources/Langs $<TARGET_FILE_DIR:${target}>/Langs
    COMMAND ${CMAKE_COMMAND} -E copy_directory ${PROJECT_SOURCE_DIR}/resources/Filters $<TARGET_FILE_DIR:${target}>/Filters
    COMMAND ${CMAKE_COMMAND} -E copy_directory ${PROJECT_SOURCE_DIR}/resources/help $<TARGET_FILE_DIR:${target}>/help
    VERBATIM)
endfunction()
