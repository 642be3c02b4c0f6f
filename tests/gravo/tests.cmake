target_sources(zora_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/gravo_test.cpp ${CMAKE_CURRENT_LIST_DIR}/GravoTestSupport.cpp)
target_include_directories(zora_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(zora_tests PRIVATE ole32)
add_dependencies(zora_tests ZoraVnbPanel GRAVO zoractl)
