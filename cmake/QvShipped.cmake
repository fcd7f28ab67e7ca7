# qv_shipped_program(TARGET): a program that users run from the distribution
# (setup.exe, Uninstal.exe). In the i686 build it takes crtdll.dll as its C
# library and is linked small: unused
# sections collected, no relocations (an exe is always loaded at its own
# base), symbols stripped. The unstripped image stays in bin/unstripped for
# the code checks, which name the function an instruction lies in, with the
# link map; a build step prints the size against its goal. Other builds link
# it as they are. NO_C_LIBRARY: a program linked without any C library (the
# loader), which needs none of crtdll's missing names.
include_guard(GLOBAL)

# The size goals of the shipped programs, in bytes: the i686 build prints
# each size against its goal, and the test compat.size fails a program
# above it (docs/target-systems.md says what the sizes are made of).
set(QV_SIZE_GOAL_SETUP 524288)
set(QV_SIZE_GOAL_UNINSTAL 262144)
set(QV_SIZE_GOAL_LOADER 8192)

function(qv_shipped_program target goal_bytes)
  cmake_parse_arguments(S "NO_C_LIBRARY" "" "" ${ARGN})
  if(NOT QV_SHIPPED_BUILD)
    return()
  endif()
  target_link_options(${target} PRIVATE -Wl,--gc-sections -Wl,--disable-reloc-section)
  if(NOT S_NO_C_LIBRARY)
    # crtdll.dll, the C library of every Win32 system, lacks a few names that
    # the run time asks for; the -u options pull ours in ahead of the run
    # time's libraries, which come last on the line.
    target_link_libraries(${target} PRIVATE qv_crtdll_compat)
    target_link_options(${target} PRIVATE -Wl,-u,_close -Wl,-u,_read -Wl,-u,__filelengthi64
                        -Wl,-u,__imp__rand_s)
  endif()
  set(out $<TARGET_FILE:${target}>)
  set(keep ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/unstripped/$<TARGET_FILE_NAME:${target}>)
  # The link map beside the unstripped copy says which object brought each
  # piece in (what makes the size).
  file(MAKE_DIRECTORY ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/unstripped)
  target_link_options(${target} PRIVATE
                      -Wl,-Map=${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/unstripped/$<TARGET_FILE_NAME:${target}>.map)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/unstripped
    COMMAND ${CMAKE_COMMAND} -E copy ${out} ${keep}
    COMMAND ${CMAKE_STRIP} --strip-all ${out}
    COMMAND ${CMAKE_COMMAND} -DFILE=${out} -DGOAL=${goal_bytes} -P ${PROJECT_SOURCE_DIR}/cmake/printsize.cmake
    VERBATIM)
endfunction()
