# The programs spend much of a list rebuild in malloc and free: a 500-record reply becomes
# thousands of small strings, dictionaries and rows. mimalloc does that work in about two thirds
# of glibc's time (docs/performance.md has the comparison). Linked into an executable, it
# replaces malloc for the whole process, so the platform library and the plugin that the host
# loads use it too. Sanitizer and fuzz builds keep the sanitizers' own allocator.
option(ORVANE_MIMALLOC "Link the programs and benchmarks with mimalloc" ON)
if(ORVANE_MIMALLOC AND NOT ORVANE_SANITIZE AND NOT ORVANE_FUZZ)
  find_package(mimalloc 2.0 CONFIG REQUIRED)
  set(ORVANE_USE_MIMALLOC ON)
else()
  set(ORVANE_USE_MIMALLOC OFF)
endif()

# orvane_use_program_allocator(target): the executable's malloc comes from mimalloc.
function(orvane_use_program_allocator target)
  if(ORVANE_USE_MIMALLOC)
    # --no-as-needed: nothing calls mimalloc by name, and the reference to its library is
    # what puts its malloc ahead of glibc's.
    target_link_libraries(${target} PRIVATE -Wl,--push-state,--no-as-needed mimalloc
      -Wl,--pop-state)
    target_sources(${target} PRIVATE ${CMAKE_SOURCE_DIR}/platform/program_allocator.cc)
  endif()
endfunction()
