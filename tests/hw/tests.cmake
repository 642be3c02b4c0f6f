# The hardware access interface, the hub agents and the hub of the virtual notebook.
target_sources(zora_tests PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/hwia_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/hub_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/HwTestSupport.cpp
)
target_include_directories(zora_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR})
add_dependencies(zora_tests zoractl)
foreach(file IN ITEMS HubraCfg.ini USBCfg.ini CPUCfg.ini)
  configure_file(${PROJECT_SOURCE_DIR}/cfg/${file} ${CMAKE_BINARY_DIR}/cfg/${file} COPYONLY)
endforeach()
