# The CPU throttling and embedded controller agents against the virtual notebook's
# processor and firmware.
target_sources(zora_tests PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/cpu_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ec_test.cpp
)
target_include_directories(zora_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR})
add_dependencies(zora_tests zoractl)
