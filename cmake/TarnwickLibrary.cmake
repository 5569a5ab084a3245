# One static library per subsystem folder; every .cpp in the folder belongs to it.
function(tarnwick_library name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/*.cpp")
  add_library(tarnwick_${name} STATIC ${sources})
  add_library(tarnwick::${name} ALIAS tarnwick_${name})
  target_include_directories(tarnwick_${name} PUBLIC "${PROJECT_SOURCE_DIR}/src")
  target_link_libraries(tarnwick_${name} PUBLIC ${ARG_DEPS} Threads::Threads)
endfunction()
