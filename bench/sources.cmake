# The benchmark programs' sources, shared by this tree's build
# (bench/CMakeLists.txt) and by the side-by-side build against another tree
# (bench/side-by-side/CMakeLists.txt), so that both compile the same bodies.
set(CHAOSTRAILS_BODY_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/bodies.cpp
  ${CMAKE_CURRENT_LIST_DIR}/process_memory.cpp)
set(CHAOSTRAILS_BENCH_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/chaostrails_bench.cpp
  ${CHAOSTRAILS_BODY_SOURCES})
set(CHAOSTRAILS_HARNESS_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/harness_main.cpp
  ${CMAKE_CURRENT_LIST_DIR}/harness_clock.cpp
  ${CHAOSTRAILS_BODY_SOURCES})
